#!/usr/bin/env bash
# Runs one fuzz target for longer than the test script does:
#   scripts/fuzz.sh TARGET [SECONDS [LIBFUZZER-OPTION...]]
# TARGET is rendering, statusdecoder, receivepath or simframereader; SECONDS defaults to 300.
# Builds the targets in build-fuzz/ if needed. The run grows a working corpus in
# build-fuzz/corpus/TARGET/ (seeded from fuzz/corpus/TARGET/, kept between runs); an input that
# breaks a property is written to build-fuzz/crashes/. Add a new interesting input to the
# seeds by copying it into fuzz/corpus/TARGET/ by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 1 ] || [ ! -d "fuzz/corpus/$1" ]; then
    echo "usage: scripts/fuzz.sh TARGET [SECONDS [LIBFUZZER-OPTION...]]" >&2
    echo "targets: $(ls fuzz/corpus | tr '\n' ' ')" >&2
    exit 2
fi
target=$1
seconds=${2:-300}
shift $(($# < 2 ? $# : 2))
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}

if [ ! -f build-fuzz/CMakeCache.txt ]; then
    cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ -DKORU_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build build-fuzz --target "fuzz_$target"

corpus=build-fuzz/corpus/$target
mkdir -p "$corpus" build-fuzz/crashes
for seed in "fuzz/corpus/$target/"*; do
    [ -e "$corpus/${seed##*/}" ] || cp "$seed" "$corpus/"
done
exec "build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
    -timeout=10 -rss_limit_mb=2048 -artifact_prefix=build-fuzz/crashes/ "$@" "$corpus"
