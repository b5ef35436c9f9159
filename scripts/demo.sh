#!/usr/bin/env bash
# The module's main job, end to end, as a host would run it.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n==> %s\n' "$*"; }

step "Installing what is missing"
scripts/install-deps.sh

step "Building"
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j"$(nproc)" >/dev/null

step "Asking the module for its version, as a host does"
"$build_dir/bin/updater-host" version

printf '\nDEMO SUCCEEDED\n'
