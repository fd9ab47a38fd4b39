#!/usr/bin/env bash
# Sets up, builds and runs the panel on the built-in simulated projectors.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: no display; starting the panel on a virtual one (xvfb-run)" >&2
    exec xvfb-run -a build/src/app/koru-panel --demo "$@"
fi
exec build/src/app/koru-panel --demo "$@"
