#!/usr/bin/env bash
# Builds the benchmarks (Release, in build-bench/) and runs them, printing every figure with its
# target. Figures are measurements, not tests: a slow or busy machine gives worse figures, never
# a failure. The exit status is 0 unless a benchmark could not run at all.
#
#   scripts/bench.sh [FIGURE...]    FIGURE: pure repeat latency flood receive startup idle pjlink
#                                   (default: all)
#
# KORU_BENCH_DIR chooses another build directory. See docs/performance.md.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$PWD
dir=${KORU_BENCH_DIR:-build-bench}
all=(pure repeat latency flood receive startup idle pjlink)
figures=("$@")
[ ${#figures[@]} -eq 0 ] && figures=("${all[@]}")
for figure in "${figures[@]}"; do
    [[ " ${all[*]} " == *" $figure "* ]] || { echo "bench: no figure \"$figure\" (${all[*]})" >&2; exit 2; }
done
wants() { [[ " ${figures[*]} " == *" $1 "* ]]; }

# The project's packages, then those only the benchmarks need, each installed only when missing.
scripts/setup.sh || exit 1
mapfile -t packages < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' bench/packages.txt)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "bench: installing ${missing[*]}"
    "${sudo[@]}" apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null ||
        exit 1
fi

generator=(-G Ninja)
[ -f "$dir/CMakeCache.txt" ] && generator=()
cmake -S . -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DKORU_BENCH=ON >/dev/null || exit 1
cmake --build "$dir" --target koru-panel projector-sim bench_panel bench_pure bench_receive \
    bench_barewindow bench_startup koru-pjlink bench_pjlink >/dev/null ||
    { echo "bench: the build failed" >&2; exit 1; }
panel=$root/$dir/src/app/koru-panel
sim=$root/$dir/src/app/projector-sim
bench=$root/$dir/bench

work=$(mktemp -d)
pids=()
# shellcheck disable=SC2317  # called by the trap
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
out=$work/figures
unrun=()
could_not() { unrun+=("$1"); echo "$1: could not run"; }
export QT_QPA_FONTDIR=/usr/share/fonts

{
    echo "# koru-panel $(git describe --always --dirty 2>/dev/null), $(date -u +%Y-%m-%dT%H:%MZ)"
    echo "# $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')," \
        "$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) memory," \
        "load average $(cut -d' ' -f1-3 /proc/loadavg), Qt $(pkg-config --modversion Qt6Core 2>/dev/null)"
} | tee "$out"

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

if wants pure; then
    echo "# the pure functions, QBENCHMARK (wall time; total over iterations)" | tee -a "$out"
    if "$bench/bench_pure" -minimumtotal 200 >"$work/pure.txt" 2>&1; then
        awk '/^RESULT/ { match($0, /BenchPure::[a-zA-Z]+/); fn = substr($0, RSTART + 11, RLENGTH - 11)
                         match($0, /"[^"]*"/); row = substr($0, RSTART + 1, RLENGTH - 2) }
             /msecs per iteration/ { match($0, /total: [0-9.]+/); total = substr($0, RSTART + 7, RLENGTH - 7)
                                     match($0, /iterations: [0-9]+/); n = substr($0, RSTART + 12, RLENGTH - 12)
                                     printf "pure    %-14s %-24s %12.1f ns per call\n", fn, row, total * 1e6 / n }' \
            "$work/pure.txt" | tee -a "$out"
    else
        cat "$work/pure.txt"
        could_not pure
    fi
fi

if wants pjlink; then
    echo "# koru-pjlink against projector-sim: 1,000 round trips each way, 16 clients" \
        "for 5 s on a paced 19200 line, then 10 s with no client" | tee -a "$out"
    "$bench/bench_pjlink" --sim "$sim" --gateway "$root/$dir/src/app/koru-pjlink" \
        --work "$work/pjlink" 2>"$work/pjlink.err" | tee -a "$out"
    [ "${PIPESTATUS[0]}" -eq 0 ] || { cat "$work/pjlink.err"; could_not pjlink; }
fi

for figure in repeat latency flood; do
    wants "$figure" || continue
    "$bench/bench_panel" "$figure" --sim "$sim" --work "$work/$figure" 2>"$work/$figure.err" |
        tee -a "$out"
    [ "${PIPESTATUS[0]}" -eq 0 ] || { cat "$work/$figure.err"; could_not "$figure"; }
done

if wants receive; then
    echo "# instructions (callgrind) of one 20-byte receive event and of one painting of the RXD" \
        "display, after N characters received" | tee -a "$out"
    if valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$work/receive.out" \
        "$bench/bench_receive" >"$work/receive.txt" 2>"$work/receive.err"; then
        # Each dump is named "N P WHAT": N characters received before, P times WHAT counted.
        for dump in "$work"/receive.out.{1..99}; do
            [ -f "$dump" ] || break
            sed -n -e 's/^desc: Trigger: Client Request: /name /p' -e 's/^totals: /total /p' "$dump"
        done | awk '$1 == "name" { n = $2; p = $3; what = $4; for (i = 5; i <= NF; ++i) what = what " " $i }
                    $1 == "total" { each = $2 / p
                                    printf "receive %6d characters received: %10.0f instructions per %s\n", n, each, what
                                    if (what in first) {
                                        met = each <= 1.1 * first[what] ? "met" : "MISSED"
                                        printf "receive   %d against %d characters: %.2f times  [target: no more, within 10 %%: %s]\n", n, firsts[what], each / first[what], met
                                    } else { first[what] = each; firsts[what] = n } }' |
            tee -a "$out"
        # The paintings at the line's pace are counted in real time, outside callgrind.
        "$bench/bench_receive" 2>>"$work/receive.err" | grep '^receive' | tee -a "$out"
    else
        cat "$work/receive.err"
        could_not receive
    fi
fi

if wants startup || wants idle; then
    # An X display of our own, and one simulated projector for the panel's COM1.
    for n in $(seq 91 140); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
            display=":$n"
            break
        fi
    done
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    export DISPLAY=$display
    for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    "$sim" --log "$work/sim.log" >"$work/sim.out" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do grep -q 'listening on' "$work/sim.out" && break; sleep 0.1; done
    pts=$(grep -o '/dev/pts/[0-9]*' "$work/sim.out" | head -1)
    # Programs that keep settings keep them here, not in the user's home.
    export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    names=(koru-panel bare cutecom)
    commands=("$panel --com1 $pts" "$bench/bench_barewindow" "cutecom")
    if ! xdpyinfo >/dev/null 2>&1 || [ -z "$pts" ]; then
        wants startup && could_not startup
        wants idle && could_not idle
    fi
fi

if wants startup && [ -n "${pts:-}" ]; then
    echo "# start-up under Xvfb: from the start to the first window mapped, and VmRSS one second" \
        "later; medians over 10 starts each, after one start each to warm the caches" | tee -a "$out"
    for round in $(seq 0 10); do
        for i in 0 1 2; do
            # shellcheck disable=SC2086
            line=$("$bench/bench_startup" --log "$work/programs.log" -- ${commands[$i]} 2>>"$work/startup.err") || continue
            [ "$round" -eq 0 ] && continue
            line=${line#startup_ms=}
            echo "${line/ rss_kb=/ }" >>"$work/startup-${names[$i]}"
        done
    done
    ms_0='' ms_1='' ms_2='' kb_0='' kb_2=''
    for i in 0 1 2; do
        file=$work/startup-${names[$i]}
        if [ -s "$file" ]; then
            declare "ms_$i=$(cut -d' ' -f1 "$file" | median)"
            declare "kb_$i=$(cut -d' ' -f2 "$file" | median)"
            declare "runs_$i=$(wc -l <"$file")"
        else
            declare "ms_$i=" "kb_$i=" "runs_$i=0"
        fi
    done
    for i in 0 1 2; do
        ms=ms_$i kb=kb_$i runs=runs_$i
        [ -n "${!ms}" ] || { echo "startup ${names[$i]}: no window came (see below)"; continue; }
        printf "startup %-12s %7.1f ms to the window, %6.1f MiB resident  (%d starts)\n" \
            "${names[$i]}" "${!ms}" "$(awk -v k="${!kb}" 'BEGIN { print k / 1024 }')" "${!runs}"
    done | tee -a "$out"
    if [ -n "$ms_0" ] && [ -n "$ms_1" ]; then
        awk -v p="$ms_0" -v b="$ms_1" 'BEGIN { r = p / b; printf "startup koru-panel / bare window: %.2f times the start-up [target: within 1.5: %s]\n", r, r <= 1.5 ? "met" : "MISSED" }' | tee -a "$out"
    fi
    if [ -n "$ms_0" ] && [ -n "$ms_2" ]; then
        awk -v p="$ms_0" -v c="$ms_2" -v pk="$kb_0" -v ck="$kb_2" 'BEGIN {
            r = p / c; printf "startup koru-panel / cutecom: %.2f times the start-up [target: faster: %s]\n", r, r < 1 ? "met" : "MISSED"
            m = pk / ck; printf "startup koru-panel / cutecom: %.2f times the memory [target: under half: %s]\n", m, m < 0.5 ? "met" : "MISSED" }' |
            tee -a "$out"
    fi
    [ -s "$work/startup.err" ] && sed 's/^/#   /' "$work/startup.err"
fi

if wants idle && [ -n "${pts:-}" ]; then
    echo "# idle: 10 s with nothing pressed, from one second after the window came; every thread" | tee -a "$out"
    for i in 0 1; do
        # shellcheck disable=SC2086
        line=$("$bench/bench_startup" --log "$work/programs.log" --idle 10 -- ${commands[$i]} \
            2>>"$work/idle.err") || {
            could_not "idle ${names[$i]}"
            continue
        }
        cpu=$(echo "$line" | sed -n 's/.*idle_cpu_ms=\([0-9.]*\).*/\1/p')
        wakeups=$(echo "$line" | sed -n 's/.*idle_wakeups=\([0-9]*\).*/\1/p')
        if [ "$i" -eq 0 ]; then
            verdict=$(awk -v c="$cpu" -v w="$wakeups" 'BEGIN { print (c < 10 && w <= 20) ? "met" : "MISSED" }')
            target="  [target: no timer, no polling, near zero: $verdict]"
        else
            target="  (the floor)"
        fi
        printf "idle    %-12s CPU %7.3f ms in 10 s (%.4f %% of a core), %s wake-ups%s\n" \
            "${names[$i]}" "$cpu" "$(awk -v c="$cpu" 'BEGIN { print c / 100 }')" "$wakeups" \
            "$target" | tee -a "$out"
    done
fi

echo "# $(grep -o 'met\]' "$out" | wc -l) targets met, $(grep -o 'MISSED\]' "$out" | wc -l) missed;" \
    "load average now $(cut -d' ' -f1-3 /proc/loadavg)"
grep 'MISSED' "$out" | sed 's/^/#   missed: /'
if [ ${#unrun[@]} -gt 0 ]; then
    echo "# could not run: ${unrun[*]}"
    exit 1
fi
exit 0
