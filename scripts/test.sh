#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
# Usage: scripts/test.sh            (build directory: build/, or $BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build_dir" -j"$(nproc)"

# A real X server for the tests that send real input; the others run on
# Qt's offscreen platform.
. scripts/lib/xvfb.sh
trap stop_xvfb EXIT
if start_xvfb 90 110 1280x1024x24; then
    export UPDATER_TEST_DISPLAY=$xvfb_display
fi
echo "test.sh: X server for input tests on ${UPDATER_TEST_DISPLAY:-none}"

ctest --test-dir "$build_dir" --output-on-failure
