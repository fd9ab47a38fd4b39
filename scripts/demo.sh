#!/usr/bin/env bash
# Sets up, builds and runs the panel on the built-in simulated projectors.
#
#   scripts/demo.sh [--headless] [PANEL OPTIONS...]
#
# It installs only what building and running the panel need. The panel needs a display: without
# one it says so and stops, unless --headless asks for a virtual one (Xvfb), where the panel runs
# unseen until it is ended.
set -euo pipefail
cd "$(dirname "$0")/.."
headless=0
if [ "${1:-}" = --headless ]; then
    headless=1
    shift
fi
if [ $headless -eq 0 ] && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set): run it in a" \
        "desktop session, or over ssh -X, or ask for a virtual one with --headless" >&2
    exit 1
fi
scripts/setup.sh run
if [ $headless -eq 1 ] && ! command -v xvfb-run >/dev/null; then
    echo "demo: installing xvfb for --headless"
    sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq xvfb >/dev/null
fi
# A build directory the tests made already serves; a new one leaves the tests out.
if [ ! -f build/CMakeCache.txt ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build build --target koru-panel
if [ $headless -eq 1 ]; then
    exec xvfb-run -a build/src/app/koru-panel --demo "$@"
fi
exec build/src/app/koru-panel --demo "$@"
