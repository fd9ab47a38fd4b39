#!/usr/bin/env bash
# The real koru-panel in a real X window (Xvfb), driven with real X mouse and key events
# (xdotool), and checked by what the projector simulator at the far end of the line logs.
#   tst_desktop.sh KORU_PANEL PROJECTOR_SIM
set -u
panel=$1
sim=$2
work=$(mktemp -d)
passed=0
failed=0
pids=()

cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

check() {  # check NAME CONDITION...
    local name=$1
    shift
    if "$@"; then
        echo "PASS   : $name"
        passed=$((passed + 1))
    else
        echo "FAIL!  : $name"
        failed=$((failed + 1))
        return 1
    fi
}

wait_for() {  # wait_for SECONDS COMMAND...: until the command succeeds
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -ge $deadline ] && return 1
        sleep 0.05
    done
}

finish() {
    echo "Totals: $passed passed, $failed failed"
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit $?
}

# A display of our own.
for n in $(seq 91 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
        display=":$n"
        break
    fi
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
# The panel must come up on that display as a real X window, whatever platform the caller's
# environment names (ctest may run with QT_QPA_PLATFORM=offscreen exported).
export QT_QPA_PLATFORM=xcb
display_up() { xdpyinfo >/dev/null 2>&1; }
check "an X display starts" wait_for 10 display_up || finish

# A chain of four projectors, and the panel on it.
"$sim" --chain 4 --start-on --log "$work/sim.log" >"$work/sim.out" 2>&1 &
pids+=($!)
wait_for 10 grep -q 'listening on' "$work/sim.out"
pts=$(grep -o '/dev/pts/[0-9]*' "$work/sim.out" | head -1)
check "the simulator listens on a pseudo-terminal" test -n "$pts" || finish

"$panel" --com1 "$pts" >"$work/panel.log" 2>&1 &
panel_pid=$!
pids+=($panel_pid)
window() { xdotool search --onlyvisible --name 'KORU   M2V' 2>/dev/null | head -1; }
shown() { [ -n "$(window)" ]; }
check "the panel's window appears" wait_for 30 shown || { cat "$work/panel.log"; finish; }
win=$(window)
eval "$(xdotool getwindowgeometry --shell "$win")"
origin_x=$X
origin_y=$Y

# Places on the panel in pixels, from its layout (twips / 15).
at() { xdotool mousemove --sync $((origin_x + $1)) $((origin_y + $2)); }
click() { at "$1" "$2"; xdotool click 1; sleep 0.1; }
frames() { grep -c " RX $1\$" "$work/sim.log" 2>/dev/null || true; }
has_frame() { [ "$(frames "$1")" -ge "${2:-1}" ]; }

# A second panel on the same line cannot have it: it says so in a box and ends.
"$panel" --com1 "$pts" >"$work/second.log" 2>&1 &
second_pid=$!
pids+=($second_pid)
message_box() { xdotool search --onlyvisible --name '^koru-panel$' 2>/dev/null | head -1; }
box_shown() { [ -n "$(message_box)" ]; }
check "a second panel on the same port shows why it cannot open it" wait_for 15 box_shown
xdotool key --window "$(message_box)" Return 2>/dev/null
wait_for 5 sh -c "! kill -0 $second_pid 2>/dev/null"
wait "$second_pid" 2>/dev/null
check "the second panel ends with status 1" test $? -eq 1

click 36 66  # POWER ON
check "POWER ON puts C00 on the line" wait_for 3 has_frame '- C00'

xdotool key --window "$win" ctrl+h
height() { eval "$(xdotool getwindowgeometry --shell "$win")"; echo "$HEIGHT"; }
check "Ctrl+H opens the full view" wait_for 3 test "$(height)" -eq 455

click 290 433  # PJ Select 002
click 464 384  # STATUS
check "after PJ Select 002 the STATUS query goes to projector 2" wait_for 3 has_frame 'A002 CR0'

# Hold Zoom + for about a second.
at 308 200
xdotool mousedown 1
sleep 1
xdotool mouseup 1
sleep 0.4
held=$(frames 'A002 C47')
check "holding Zoom + repeats its frame" test "$held" -ge 10
sleep 0.4
check "the release stops the repeats" test "$(frames 'A002 C47')" -eq "$held"

# The repeats' spacing, from the simulator's timestamps: every 50 ms.
grep ' RX A002 C47$' "$work/sim.log" | awk '{print $1}' >"$work/times"
count=$(wc -l <"$work/times")
span=$(awk 'NR == 1 { first = $1 } { last = $1 } END { printf "%.1f", (last - first) * 1000 }' "$work/times")
median=$(awk 'NR > 1 { printf "%.3f\n", ($1 - previous) * 1000 } { previous = $1 }' "$work/times" |
    sort -n | awk '{ d[NR] = $1 } END { print d[int((NR + 1) / 2)] }')
echo "       Zoom + held: $count frames over $span ms, median spacing $median ms"
check "the repeats come every 50 ms" awk -v m="$median" 'BEGIN { exit !(m >= 45 && m <= 55) }'
check "one frame per 50 ms of the hold" \
    awk -v c="$count" -v s="$span" 'BEGIN { e = s / 50 + 1; exit !(c >= e - 2 && c <= e + 2) }'

click 560 288  # END
check "END ends the program" wait_for 5 sh -c "! kill -0 $panel_pid 2>/dev/null"
wait "$panel_pid" 2>/dev/null
status=$?
check "the program ends with status 0" test "$status" -eq 0
check "END closes the port" wait_for 3 grep -q 'CLOSED' "$work/sim.log"

finish
