#!/usr/bin/env bash
# installed_package.sh BUILD_DIR HOST_SOURCE_DIR WORK_DIR VERSION
#
# Installs the build into a fresh prefix and checks what it holds. Builds
# package-check (beside HOST_SOURCE_DIR) against the installed CMake package:
# it checks the package's variables and links updater::updater. Builds the
# README's minimal host (HOST_SOURCE_DIR) against the package, installs it
# with the library beside it, and runs it: it prints the module's version,
# and updates its own folder from a signed package on the project's HTTPS
# test server.
# Checks that the README shows the host's files exactly as they are here.
# VERSION is the module's version, project(VERSION) in CMakeLists.txt.
set -euo pipefail
build_dir=$(cd "$1" && pwd)
host_source=$(cd "$2" && pwd)
work=$3
version=$4
source_dir=$(cd "$host_source/../../.." && pwd)

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
prefix="$work/prefix"

# The README's code is the host built here.
for file in main.cpp CMakeLists.txt; do
    awk -v marker="<!-- file: tests/install/host/$file -->" '
        $0 == marker { found = 1; next }
        found && /^```/ { if (inside) exit; inside = 1; next }
        inside { print }' "$source_dir/README.md" >"$work/readme-$file"
    diff -u "$host_source/$file" "$work/readme-$file" ||
        { echo "README.md does not show tests/install/host/$file as it is"; exit 1; }
done

cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log"

# What a host expects to find.
libdir=$(find "$prefix" -name 'libupdater.so' -printf '%h\n' | head -n 1)
# The public headers, and nothing else of the sources.
headers="BaseException.h OperationCancelledException.h updater.h updater_export.h version.h"
installed_headers=$(find "$prefix/include/updater" -mindepth 1 -printf '%f\n' | LC_ALL=C sort | paste -sd ' ')
[ "$installed_headers" = "$headers" ] ||
    { echo "headers installed: $installed_headers; expected: $headers"; exit 1; }
for file in "$prefix/bin/updater-host" "$libdir/libupdater.so" "$libdir/cmake/updater/updaterConfig.cmake" \
            "$libdir/cmake/updater/updaterTargets.cmake"; do
    [ -e "$file" ] || { echo "missing after install: $file"; exit 1; }
done
for tool in ztx; do
    [ -x "$prefix/bin/$tool" ] || { echo "missing after install: bin/$tool"; exit 1; }
done
if find "$prefix" -name 'libupdater-faults*' | grep -q .; then
    echo "the test build of the library was installed"; exit 1
fi

# What the package gives a host's build, and a program that links
# updater::updater (package-check, beside the host's source).
check_source="$host_source/../package-check"
cmake -S "$check_source" -B "$work/package-check" -DCMAKE_PREFIX_PATH="$prefix" \
    -DEXPECTED_VERSION="$version" -DEXPECTED_INCLUDE_DIR="$prefix/include" \
    -DEXPECTED_LIBRARY="$libdir/libupdater.so" >"$work/package-check.log" 2>&1 ||
    { cat "$work/package-check.log"; echo "the package does not give what the README says"; exit 1; }
cmake --build "$work/package-check" >>"$work/package-check.log" 2>&1 ||
    { cat "$work/package-check.log"; echo "a program that links updater::updater does not build"; exit 1; }
output=$(HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" "$work/package-check/package-check")
echo "package-check: $output"
[ "$output" = "0|$version" ] || { echo "unexpected output from package-check"; exit 1; }

# The host, built against the installed package only and installed with the
# library beside it.
app="$work/app"
cmake -S "$host_source" -B "$work/host-build" -DCMAKE_PREFIX_PATH="$prefix" >"$work/host-configure.log"
cmake --build "$work/host-build" >"$work/host-build.log"
cmake --install "$work/host-build" --prefix "$app" >"$work/host-install.log"
[ -f "$app/bin/libupdater.so" ] && [ ! -L "$app/bin/libupdater.so" ] ||
    { echo "libupdater.so is not shipped beside the host as a file"; exit 1; }
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
output=$("$app/bin/tiny-host")
echo "tiny-host: $output"
[ "$output" = "0|$version" ] || { echo "unexpected output from tiny-host"; exit 1; }

# The host updates its own folder, the package pinned by its SHA-256. The
# package is signed with the project's test key, so only a build with that
# key (no UPDATER_PUBLIC_KEY) can accept it.
if grep -q '^UPDATER_PUBLIC_KEY:FILEPATH=$' "$build_dir/CMakeCache.txt"; then
    . "$source_dir/scripts/lib/https-server.sh"
    trap stop_https_server EXIT
    mkdir -p "$work/package/data" "$work/served"
    echo "new data" >"$work/package/data/readme.txt"
    "$prefix/bin/ztx" pack "$work/package" --key "$source_dir/tests/keys/test-private.pem" \
        -o "$work/served/app.ztx" >"$work/ztx.log"
    sha256=$(sha256sum "$work/served/app.ztx" | cut -d ' ' -f 1)
    start_https_server "$build_dir/bin/updater-test-https-server" "$work/served" "$work/server" ||
        { echo "the HTTPS test server did not start"; cat "$work/server.err"; exit 1; }
    output=$("$app/bin/tiny-host" "https://127.0.0.1:$https_server_port/app.ztx" "$sha256")
    echo "tiny-host update: $output"
    [ "$output" = "0|file updated|file updated, need to relogin user" ] ||
        { echo "unexpected output from tiny-host update"; exit 1; }
    [ "$(cat "$app/bin/data/readme.txt")" = "new data" ] || { echo "the package was not installed"; exit 1; }
    [ -s "$XDG_CONFIG_HOME/Example/tiny-host/logs/updater.log" ] || { echo "no log where the README says"; exit 1; }
    stop_https_server
fi

# The installed updater-host finds the installed library by itself.
output=$(cd "$work" && "$prefix/bin/updater-host" version 2>/dev/null)
echo "installed updater-host: $output"
[ "$output" = "0|$version" ] || { echo "unexpected output from installed updater-host"; exit 1; }
echo "installed package: ok"
