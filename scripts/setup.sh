#!/usr/bin/env bash
# Installs the Debian packages that koru-panel needs, and only those that are missing: a second
# run installs nothing.
#
#   scripts/setup.sh [run|test]          run: what building and running the programs need
#                                        test: that, and what the tests, the analysers and
#                                        the Debian packaging (scripts/package.sh) need
#                                        (the default)
#   scripts/setup.sh --list run|test     prints the packages of that set, one a line
#
# ser2net comes with the tests, which start their own on 127.0.0.1. Its Debian package would
# also enable and start a system service that serves /dev/ttyS0 and /dev/ttyS1 on ports 2000
# and 2001; it is installed without being started, and left disabled.
set -euo pipefail

run_packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-qpa-plugins libgl-dev
    libgensio-dev libwrap0-dev
    fonts-ipafont-gothic
)
test_packages=(
    qt6-serialport-dev
    ser2net python3-serial sredird
    xvfb xdotool x11-utils
    clang libclang-rt-14-dev clang-format clang-tidy cppcheck
    build-essential dpkg-dev debhelper lintian autopkgtest appstream desktop-file-utils xauth
    systemd
)
# koru-pjlink's system tests drive it with a PJLink client written elsewhere, the npm package
# pjlink, on Node.js. A machine that has Node.js and npm already keeps its own.
command -v npm >/dev/null && command -v node >/dev/null || test_packages+=(nodejs npm)

# The PJLink client, at the version tests/pjlink-client/package-lock.json pins, in that
# folder; nothing of it runs at install time.
install_pjlink_client() {
    [ -f tests/pjlink-client/node_modules/pjlink/package.json ] && return 0
    echo "setup: installing the npm package pjlink into tests/pjlink-client"
    npm ci --prefix tests/pjlink-client --ignore-scripts --no-audit --no-fund >/dev/null
}
cd "$(dirname "$0")/.."

list=0
if [ "${1:-}" = --list ]; then
    list=1
    shift
fi
set_name=${1:-test}
case $set_name in
run) packages=("${run_packages[@]}") ;;
test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
*)
    echo "setup: no set \"$set_name\" (run or test)" >&2
    exit 2
    ;;
esac
if [ $list -eq 1 ]; then
    printf '%s\n' "${packages[@]}"
    exit 0
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    [ "$set_name" = test ] && install_pjlink_client
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "setup: run as root, or install sudo" >&2; exit 1; }
    sudo=(sudo)
fi
echo "setup: installing ${missing[*]}"
"${sudo[@]}" apt-get update -qq

# No service that a package brings is started while it installs (the policy Debian's own
# container images use), unless the machine already has a policy of its own.
policy=/usr/sbin/policy-rc.d
own_policy=0
if [ ! -e $policy ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee $policy >/dev/null
    "${sudo[@]}" chmod 755 $policy
    own_policy=1
    trap '"${sudo[@]}" rm -f $policy' EXIT
fi
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null

# ser2net's system service stays off: disabled for systemd and for the init script alike.
if [[ " ${missing[*]} " == *" ser2net "* ]]; then
    "${sudo[@]}" systemctl disable ser2net.service >/dev/null 2>&1 || true
    [ -d /run/systemd/system ] && { "${sudo[@]}" systemctl stop ser2net.service >/dev/null 2>&1 || true; }
    "${sudo[@]}" update-rc.d ser2net disable >/dev/null 2>&1 || true
fi
[ $own_policy -eq 1 ] && "${sudo[@]}" rm -f $policy
trap - EXIT
[ "$set_name" = test ] && install_pjlink_client
exit 0
