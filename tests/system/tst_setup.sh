#!/usr/bin/env bash
# The set-up's package lists: running the programs needs no test tool, analyser or server, and
# whatever set-up installed ser2net left its system service off.
set -uo pipefail
setup=$1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

run=$("$setup" --list run) || fail "setup.sh --list run"
test=$("$setup" --list test) || fail "setup.sh --list test"
for package in ser2net sredird python3-serial clang clang-tidy cppcheck libclang-rt-14-dev \
    xvfb xdotool qt6-serialport-dev; do
    grep -qx "$package" <<<"$run" && fail "the run set installs $package"
    grep -qx "$package" <<<"$test" || fail "the test set lacks $package"
done
while read -r package; do
    grep -qx "$package" <<<"$test" || fail "the test set lacks $package of the run set"
done <<<"$run"
"$setup" --list nothing >/dev/null 2>&1 && fail "an unknown set is accepted"

if dpkg-query -W -f='${Status}' ser2net 2>/dev/null | grep -q 'install ok installed'; then
    state=$(systemctl is-enabled ser2net.service 2>/dev/null)
    [ "$state" = enabled ] && fail "ser2net's system service is enabled"
    pgrep -x -u root ser2net >/dev/null && [ -e /run/ser2net.pid ] &&
        fail "ser2net's system service is running"
fi

if [ $failures -eq 0 ]; then
    echo "1 passed, 0 failed"
    exit 0
fi
echo "0 passed, 1 failed"
exit 1
