#!/usr/bin/env bash
# Configures and builds koru-panel in build/, or in the directory given, with the CMake options
# given (applied again to a directory configured before).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
elif [ $# -gt 0 ]; then
    cmake -S . -B "$dir" "$@" >/dev/null
fi
cmake --build "$dir"
