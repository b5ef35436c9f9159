#!/usr/bin/env bash
# installed_package.sh BUILD_DIR HOST_SOURCE_DIR WORK_DIR
set -euo pipefail
build_dir=$1
host_source=$2
work=$3

rm -rf "$work"
mkdir -p "$work"
prefix="$work/prefix"

cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log"

# What a host expects to find.
libdir=$(find "$prefix" -name 'libupdater.so' -printf '%h\n' | head -n 1)
for file in "$prefix/include/updater/updater.h" "$prefix/include/updater/updater_export.h" \
            "$prefix/include/updater/BaseException.h" "$prefix/bin/updater-host" \
            "$libdir/libupdater.so" "$libdir/cmake/updater/updaterConfig.cmake"; do
    [ -e "$file" ] || { echo "missing after install: $file"; exit 1; }
done
for tool in ztx; do
    [ -x "$prefix/bin/$tool" ] || { echo "missing after install: bin/$tool"; exit 1; }
done

# A host built against the installed package only.
cmake -S "$host_source" -B "$work/host-build" -DCMAKE_PREFIX_PATH="$prefix" >"$work/host-configure.log"
cmake --build "$work/host-build" >"$work/host-build.log"
output=$("$work/host-build/tiny-host")
echo "tiny-host: $output"
[ "$output" = "0|2.9.4846.6707" ] || { echo "unexpected output from tiny-host"; exit 1; }

# The installed updater-host finds the installed library by itself.
output=$(cd "$work" && "$prefix/bin/updater-host" version 2>/dev/null)
echo "installed updater-host: $output"
[ "$output" = "0|2.9.4846.6707" ] || { echo "unexpected output from installed updater-host"; exit 1; }
echo "installed package: ok"
