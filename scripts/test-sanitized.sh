#!/usr/bin/env bash
# Builds the verification tests (and what they run: ztx, make-key-blocks and
# the library), the in-process installation tests, the download against
# nginx (redirects) and the installing flows' package handling (the digest,
# Base64 decoding in pieces: tst_package_digest, tst_update_data) and the
# installation objects themselves (path rules, journal, package index) with
# AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/ (or $ASAN_BUILD_DIR) and runs
# them.
# Usage: scripts/test-sanitized.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build_dir=${ASAN_BUILD_DIR:-build-asan}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATER_SANITIZE=ON -DUPDATER_BUILD_BENCH=OFF
cmake --build "$build_dir" -j"${JOBS:-2}" --target tst_module_reader tst_package_digest tst_verify_package tst_ztx tst_ztx_checks ztx make-key-blocks updater \
    tst_installation tst_installation_faults installation-test-child tst_package_room tst_nginx tst_update_data \
    tst_updates_races

# Every test with the labels below that is a target of its own is built too,
# so that a new labelled test cannot be left out of the list above.
labelled=$(ctest --test-dir "$build_dir" -N -L "verification|sanitized" | sed -n 's/^ *Test *#[0-9]*: //p')
targets=$(cmake --build "$build_dir" --target help | sed -n 's/^\.\.\. \([^ ]*\).*/\1/p')
own=()
for t in $labelled; do
    if grep -qx "$t" <<<"$targets"; then own+=("$t"); fi
done
if [ ${#own[@]} -gt 0 ]; then
    cmake --build "$build_dir" -j"${JOBS:-2}" --target "${own[@]}"
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/verification/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build_dir" -L "verification|sanitized" --output-on-failure
