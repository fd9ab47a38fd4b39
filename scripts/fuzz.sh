#!/usr/bin/env bash
# Runs the fuzz targets for longer than the test script does:
#   scripts/fuzz.sh TARGET [SECONDS [LIBFUZZER-OPTION...]]   one target, SECONDS (300) long
#   scripts/fuzz.sh campaign [RUNS [TARGET...]]               every target (or those named),
#                                                             one after another, RUNS
#                                                             (10,000,000) executions each
# The targets are the folders of fuzz/corpus/. Builds them in build-fuzz/ if needed. A run grows
# a working corpus in build-fuzz/corpus/TARGET/ (seeded from fuzz/corpus/TARGET/, kept between
# runs); an input that breaks a property is written to build-fuzz/crashes/. A campaign writes
# each target's log to build-fuzz/campaign/TARGET.log and a line per target (executions,
# seconds, executions a second, coverage, corpus) to build-fuzz/campaign/summary.txt. Add a
# new interesting input to the seeds by copying it into fuzz/corpus/TARGET/ by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
targets=$(ls fuzz/corpus | tr '\n' ' ')
if [ $# -lt 1 ] || { [ "$1" != campaign ] && [ ! -d "fuzz/corpus/$1" ]; }; then
    echo "usage: scripts/fuzz.sh TARGET [SECONDS [LIBFUZZER-OPTION...]]" >&2
    echo "       scripts/fuzz.sh campaign [RUNS [TARGET...]]" >&2
    echo "targets: $targets" >&2
    exit 2
fi
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
if [ ! -f build-fuzz/CMakeCache.txt ]; then
    cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ -DKORU_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
fi

# seed TARGET: the working corpus, with every seed that it lacks.
seed() {
    corpus=build-fuzz/corpus/$1
    mkdir -p "$corpus" build-fuzz/crashes
    for file in "fuzz/corpus/$1/"*; do
        [ -e "$corpus/${file##*/}" ] || cp "$file" "$corpus/"
    done
}

if [ "$1" != campaign ]; then
    target=$1
    seconds=${2:-300}
    shift $(($# < 2 ? $# : 2))
    cmake --build build-fuzz --target "fuzz_$target"
    seed "$target"
    exec "build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
        -timeout=10 -rss_limit_mb=2048 -artifact_prefix=build-fuzz/crashes/ "$@" "$corpus"
fi

runs=${2:-10000000}
shift $(($# < 2 ? $# : 2))
[ $# -gt 0 ] && targets="$*"
cmake --build build-fuzz --target fuzzers
mkdir -p build-fuzz/campaign
summary=build-fuzz/campaign/summary.txt
status=0
# One target at a time: the machine's cores are shared.
for target in $targets; do
    seed "$target"
    log=build-fuzz/campaign/$target.log
    start=$SECONDS
    if "build-fuzz/fuzz/fuzz_$target" -runs="$runs" -print_final_stats=1 -timeout=10 \
        -rss_limit_mb=2048 -artifact_prefix=build-fuzz/crashes/ "$corpus" >"$log" 2>&1; then
        result="no finding"
    else
        result="FINDING (see $log and build-fuzz/crashes/)"
        status=1
    fi
    seconds=$((SECONDS - start))
    units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    files=$(ls "$corpus" | wc -l)
    line=$(printf '%-16s %12s runs %6s s %10s/s  cov %6s  corpus %6s  %s' "fuzz_$target" \
        "${units:-?}" "$seconds" "$(( ${units:-0} / (seconds > 0 ? seconds : 1) ))" "${cov:-?}" \
        "$files" "$result")
    echo "$line" | tee -a "$summary"
done
exit $status
