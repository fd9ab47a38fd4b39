#!/usr/bin/env bash
# Starts the installed koru-pjlink.service under systemd, as `systemctl start koru-pjlink` does on
# a machine booted with systemd, and checks that it answers PJLink on its configured port, runs as
# a user of its own, and ends cleanly on `systemctl stop`, releasing its line.
#
#   scripts/service-check.sh        as root, with the koru-pjlink and koru-ctl packages installed
#
# A machine whose own init is not systemd (a container, a build machine) gets a systemd of its own
# for the check: booted in new PID and mount namespaces with a private /run, /tmp and /var/tmp,
# with nothing to start but what it is asked for. The configuration the service reads is
# mounted over /etc/koru-pjlink.conf in those namespaces only; the installed conffile is not
# touched. Exit status 0 when every check passes, 1 when one fails, 77 when the check cannot run
# here (not root, no unshare), with the reason.
set -uo pipefail

skip() { echo "service: not tried: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "it needs root, to boot a systemd of its own"
command -v unshare >/dev/null || skip "unshare is missing (package util-linux)"
[ -x /lib/systemd/systemd ] || skip "systemd is not installed"
for program in koru-pjlink projector-sim koru-ctl python3; do
    command -v "$program" >/dev/null || skip "$program is not installed"
done
[ -f /lib/systemd/system/koru-pjlink.service ] || skip "koru-pjlink.service is not installed"

work=$(mktemp -d)
sim_pid=
boot_pid=
cleanup() {
    if [ -n "$boot_pid" ]; then
        # SIGRTMIN+4 powers off a systemd that runs in a container.
        pkill --signal RTMIN+4 -P "$boot_pid" -x systemd 2>/dev/null
        for _ in $(seq 50); do kill -0 "$boot_pid" 2>/dev/null || break; sleep 0.1; done
        # The end of the namespace's first process ends every process in it.
        pkill -9 -P "$boot_pid" -x systemd 2>/dev/null
        kill -9 "$boot_pid" 2>/dev/null
        wait "$boot_pid" 2>/dev/null
    fi
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failed=0
check() {  # check NAME COMMAND...
    local name=$1
    shift
    if "$@"; then echo "PASS: $name"; else echo "FAIL: $name"; failed=1; fi
}

# The projector, on a pseudo-terminal that the dialout group may open, as a serial device is.
projector-sim --log "$work/sim.log" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q 'listening on' "$work/sim.out" && break; sleep 0.1; done
pts=$(sed -n 's/^projector-sim: listening on //p' "$work/sim.out")
[ -n "$pts" ] || { cat "$work/sim.out"; echo "service: projector-sim did not start"; exit 1; }
chgrp dialout "$pts" && chmod 660 "$pts"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/koru-pjlink.conf" <<CONF
[projector]
line = $pts
listen = 127.0.0.1:$port
name = service check
CONF
chmod 644 "$work/koru-pjlink.conf"

cat >"$work/boot" <<BOOT
#!/bin/sh
# The configuration first: it may lie under a folder about to be covered.
mount --bind "$work/koru-pjlink.conf" /etc/koru-pjlink.conf || exit 1
for dir in /run /tmp /var/tmp; do mount -t tmpfs -o mode=1777 tmpfs "\$dir" || exit 1; done
chmod 755 /run
mkdir -p /run/lock /run/systemd/system
chmod 1777 /run/lock
printf '[Unit]\nDescription=Nothing but what is asked for\n' >/run/systemd/system/koru-check.target
export container=koru-check
exec /lib/systemd/systemd --system --unit=koru-check.target --log-target=console
BOOT
chmod 755 "$work/boot"
unshare --mount --pid --fork --mount-proc --propagation private "$work/boot" \
    >"$work/systemd.log" 2>&1 &
boot_pid=$!
in_boot() {  # runs a command in the namespaces, for at most 60 s
    local init
    init=$(pgrep -P "$boot_pid" -x systemd) || return 1
    timeout 60 nsenter -t "$init" -m -p "$@"
}
state=
for _ in $(seq 100); do
    state=$(in_boot systemctl is-system-running 2>/dev/null) && break
    case $state in running | degraded) break ;; esac
    sleep 0.1
done
case $state in
running | degraded) ;;
*)
    sed 's/^/  systemd | /' "$work/systemd.log" | tail -20
    skip "systemd did not boot in a namespace here (state: ${state:-none})"
    ;;
esac

query() {  # query COMMAND...: one line each, after the greeting
    timeout 60 python3 - "$port" "$@" <<'PY'
import socket, sys, time
port = int(sys.argv[1])
for _ in range(100):
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=5)
        break
    except OSError:
        time.sleep(0.1)
else:
    sys.exit("nothing listens on port %d" % port)
def line():
    got = b""
    while not got.endswith(b"\r"):
        byte = s.recv(1)
        if not byte:
            break
        got += byte
    return got.decode("ascii").rstrip("\r")
print(line())
for command in sys.argv[2:]:
    s.sendall((command + "\r").encode("ascii"))
    print(line())
PY
}

check "systemctl start koru-pjlink" in_boot systemctl start koru-pjlink.service
query "%1POWR ?" "%1NAME ?" >"$work/client.out" 2>&1
check "it greets on its configured port" grep -qx 'PJLINK 0' "$work/client.out"
check "POWR ? answers standby" grep -qx '%1POWR=0' "$work/client.out"
check "NAME ? answers the configured name" grep -qx '%1NAME=service check' "$work/client.out"
user=$(in_boot sh -c 'ps -o user= -p "$(systemctl show -P MainPID koru-pjlink.service)"')
check "it runs as a user of its own, not root (${user:-none})" \
    test -n "$user" -a "$user" != root
check "systemctl stop koru-pjlink" in_boot systemctl stop koru-pjlink.service
check "it ended cleanly on SIGTERM" \
    test "$(in_boot systemctl show -P ActiveState koru-pjlink.service)" = inactive
check "its line is free again" sh -c "koru-ctl --port '$pts' status | grep -q 'Stand by'"
if [ $failed -ne 0 ]; then
    sed 's/^/  client | /' "$work/client.out"
    in_boot systemctl status koru-pjlink.service --no-pager 2>&1 | sed 's/^/  systemctl | /'
fi
exit $failed
