#!/usr/bin/env bash
# Sets up, builds and runs every test. Widget tests run on Qt's offscreen platform, so no
# display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
ctest --test-dir build --output-on-failure -j2
