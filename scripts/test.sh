#!/usr/bin/env bash
# Sets up, builds and runs every test, in eight stages (docs/hardening.md):
#   layers     every include is of its own layer or one beneath it (scripts/check-layers.sh)
#   format     the C++ of src/, tests/, bench/ and fuzz/ is as clang-format writes it with the
#              checked-in .clang-format (clang-format -i FILE puts a file right)
#   tests      the test suite, built in build/
#   sanitize   the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer (g++),
#              LeakSanitizer included, in build-asan/
#   fuzz       the libFuzzer targets (clang), built in build-fuzz/, each run for FUZZ_SECONDS
#              (5) from a copy of its seed corpus
#   clang-tidy over src/ and fuzz/, with build-tidy/'s compilation database
#   cppcheck   over src/
#   package    the Debian packages, built from a copy of the tree, lintian and their
#              autopkgtests on this machine (scripts/package.sh), in build-deb/
# Widget tests run on Qt's offscreen platform, so no display is needed. A stage that fails
# does not stop the ones after it that do not depend on it; the script fails if any failed.
# Builds are incremental: a second run rebuilds nothing that is already built.
set -uo pipefail
cd "$(dirname "$0")/.."
top=$PWD
scripts/setup.sh test || exit 1

export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
fuzz_seconds=${FUZZ_SECONDS:-5}
fuzz_targets=()  # one per seed corpus: fuzz/corpus/TARGET/ goes with fuzz_TARGET
for dir in fuzz/corpus/*/; do fuzz_targets+=("$(basename "$dir")"); done
summary=()
failed=0

# stage NAME COMMAND...: runs one stage, times it and keeps a line for the summary.
stage() {
    local name=$1 start=$SECONDS status
    shift
    echo "== $name"
    "$@"
    status=$?
    local result=ok
    if [ $status -ne 0 ]; then
        result=FAILED
        failed=1
    fi
    summary+=("$(printf '%-10s %-6s %4ds  %s' "$name" "$result" $((SECONDS - start)) "${note:-}")")
    note=
    return $status
}

# ctest_summary LOG: ctest's own closing lines, from "N% tests passed" on.
ctest_summary() {
    sed -n '/tests passed, /,$p' "$1"
}

run_tests() {  # run_tests BUILD_DIR [CTEST OPTIONS...]
    local log="$1/ctest.log" dir=$1
    shift
    ctest --test-dir "$dir" --output-on-failure -j2 "$@" 2>&1 | tee "$log"
    local status=${PIPESTATUS[0]}
    note="$(sed -n 's/^\(.*tests passed.*\)$/\1/p' "$log")"
    return "$status"
}

tests() {
    rm -f build/ctest.log
    scripts/build.sh build -DBUILD_TESTING=ON && run_tests build
}

sanitize() {
    rm -f build-asan/ctest.log
    scripts/build.sh build-asan -DKORU_SANITIZE=ON -DCMAKE_CXX_COMPILER=g++ &&
        run_tests build-asan --label-exclude timing
}

fuzz() {
    if [ ! -f build-fuzz/CMakeCache.txt ]; then
        cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DCMAKE_CXX_COMPILER=clang++ -DKORU_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null || return 1
    fi
    cmake --build build-fuzz --target fuzzers || return 1
    local work status=0 target log units counts=()
    work=$(mktemp -d)
    mkdir -p build-fuzz/logs
    for target in "${fuzz_targets[@]}"; do
        log=build-fuzz/logs/$target.log
        cp -r "fuzz/corpus/$target" "$work/$target"
        mkdir -p "$work/$target-artifacts"
        if build-fuzz/fuzz/fuzz_"$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
            -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$work/$target-artifacts/" \
            "$work/$target" >"$log" 2>&1; then
            units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
            echo "fuzz_$target: $units executions in ${fuzz_seconds} s, no finding"
            counts+=("$target $units")
        else
            status=1
            mkdir -p build-fuzz/crashes
            cp "$work/$target-artifacts/"* build-fuzz/crashes/ 2>/dev/null
            tail -n 40 "$log"
            echo "fuzz_$target: FINDING, the input is kept in build-fuzz/crashes/;" \
                "replay it with build-fuzz/fuzz/fuzz_$target FILE"
            counts+=("$target FAILED")
        fi
    done
    rm -rf "$work"
    note="$(IFS=,; echo "${counts[*]}" | sed 's/,/, /g')"
    return $status
}

# The analysers' findings depend only on the sources, the configuration and the tools, so a run
# that found nothing is remembered and not repeated for the same inputs.
analysis_key() {  # analysis_key TOOL CONFIG...
    {
        "$1" --version
        shift
        find src fuzz -type f \( -name '*.cpp' -o -name '*.h' \) | LC_ALL=C sort | xargs sha256sum
        sha256sum "$@"
    } 2>/dev/null | sha256sum | cut -d' ' -f1
}

tidy() {
    if [ ! -f build-tidy/CMakeCache.txt ]; then
        cmake -S . -B build-tidy -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
            -DBUILD_TESTING=OFF >/dev/null || return 1
    else
        cmake build-tidy >/dev/null || return 1  # the file lists may have changed
    fi
    local key stamp=build-tidy/clang-tidy.clean log=build-tidy/clang-tidy.log
    key=$(analysis_key clang-tidy .clang-tidy build-tidy/compile_commands.json \
        build-fuzz/compile_commands.json)
    if [ -f $stamp ] && [ "$(cat $stamp)" = "$key" ]; then
        echo "clang-tidy: no finding (sources unchanged since the last clean run)"
        note="no finding (unchanged)"
        return 0
    fi
    local status=0
    # The project's own sources with the Qt build's database; the fuzz targets with theirs.
    run-clang-tidy -quiet -p build-tidy -j 2 "^$top/src/" >"$log" 2>&1 || status=1
    run-clang-tidy -quiet -p build-fuzz -j 2 "^$top/fuzz/" >>"$log" 2>&1 || status=1
    if [ $status -ne 0 ]; then
        grep -E -A3 '(warning|error): ' "$log" | grep -v '^clang-tidy ' | head -n 100
        echo "clang-tidy: findings above (all of them in $log)"
        note="findings in $log"
        return 1
    fi
    echo "$key" >$stamp
    echo "clang-tidy: no finding"
    note="no finding"
}

cppcheck_src() {
    mkdir -p build-tidy/cppcheck
    if cppcheck --enable=warning,performance,portability --library=qt --std=c++20 \
        --language=c++ -I src --inline-suppr --error-exitcode=1 -q -j2 \
        --cppcheck-build-dir=build-tidy/cppcheck src; then
        echo "cppcheck: no finding"
        note="no finding"
    else
        note="findings above"
        return 1
    fi
}

format() {
    local files=()
    mapfile -d '' files < <(find src tests bench fuzz -name node_modules -prune -o \
        \( -name '*.cpp' -o -name '*.h' \) -type f -print0 | sort -z)
    if clang-format --dry-run -Werror "${files[@]}"; then
        note="${#files[@]} files as clang-format writes them"
    else
        note="clang-format -i the files above"
        return 1
    fi
}

package() {
    local log
    log=$(mktemp)
    scripts/package.sh 2>&1 | tee "$log"
    local status=${PIPESTATUS[0]}
    note="$(sed -n 's/^package: \(.*; lintian .*\)$/\1/p' "$log")"
    rm -f "$log"
    return "$status"
}

stage layers scripts/check-layers.sh
stage format format
stage tests tests
stage sanitize sanitize
# clang-tidy reads build-fuzz's database, so the fuzz stage configures before it.
stage fuzz fuzz
stage clang-tidy tidy
stage cppcheck cppcheck_src
stage package package

echo
echo "== summary"
printf '%s\n' "${summary[@]}"
# ctest's own closing lines last, the sanitizer run's at the very end.
if [ -f build/ctest.log ]; then
    echo
    echo "== ctest, build/"
    ctest_summary build/ctest.log
fi
if [ -f build-asan/ctest.log ]; then
    echo
    echo "== ctest, build-asan/ (AddressSanitizer, UndefinedBehaviorSanitizer, LeakSanitizer)"
    ctest_summary build-asan/ctest.log
fi
exit $failed
