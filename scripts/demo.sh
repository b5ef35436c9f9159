#!/usr/bin/env bash
# The module's main job, end to end, as a publisher and a host would run it:
#   1. install what is missing and build;
#   2. the publisher makes a key pair and builds the module with its public key;
#   3. an installation folder of a small sample application, version 1;
#   4. a signed version-2 package made with ztx, served over HTTPS on 127.0.0.1;
#   5. updater-host runs Update in the installation folder, as a host does;
#   6. what changed on disk, and the result string;
#   7. a tampered package is refused with 43 and the folder stays as it was.
# Ends with "DEMO SUCCEEDED" (exit 0) or "DEMO FAILED" (exit 1).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build_dir=${BUILD_DIR:-build}
demo_build_dir=${DEMO_BUILD_DIR:-build-demo}
work="$root/$demo_build_dir/demo"

step() { printf '\n==> %s\n' "$*"; }
info() { printf '    %s\n' "$*"; }
fail() {
    printf '\n    %s\n\nDEMO FAILED\n' "$*"
    exit 1
}

. scripts/lib/https-server.sh
trap stop_https_server EXIT
trap 'fail "interrupted"' INT TERM

# Prints cmake's progress compactly: one line per tenth of the build.
build_quietly() {
    local last=-1
    cmake --build "$@" -j"$(nproc)" 2>&1 | while IFS= read -r line; do
        if [[ $line =~ ^\[\ *([0-9]+)%\] ]]; then
            local tenth=$((BASH_REMATCH[1] / 10))
            if [ "$tenth" -gt "$last" ]; then
                last=$tenth
                info "build ${BASH_REMATCH[1]}%"
            fi
        elif [[ $line == *"error"* ]]; then
            printf '    %s\n' "$line"
        fi
    done
    return "${PIPESTATUS[0]}"
}

# One line per file below a folder: its path and the first 16 hex digits of
# its SHA-256 (the UPDATES folder is the module's own work area).
snapshot() {
    (cd "$1" && find . -path ./UPDATES -prune -o -type f -print | LC_ALL=C sort | while read -r file; do
        printf '%s %s\n' "${file#./}" "$(sha256sum "$file" | cut -c1-16)"
    done)
}

step "1/7 Installing what is missing"
scripts/install-deps.sh

step "1/7 Building the module and its tools (build dir: $build_dir)"
mkdir -p "$build_dir"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build_dir/demo-configure.log" 2>&1 ||
    fail "configuring failed (see $build_dir/demo-configure.log)"
info "(this build carries the project's test key; the publisher's build follows in step 2)"
build_quietly "$build_dir" --target updater updater-host ztx updater-test-https-server || fail "build failed"
ztx="$build_dir/bin/ztx"
host="$build_dir/bin/updater-host"
server="$build_dir/bin/updater-test-https-server"

rm -rf "$work"
mkdir -p "$work"

step "2/7 Publisher: a new RSA-2048 key pair, and the module built with its public key"
"$ztx" keygen --out "$work/keys" | sed 's/^/    /'
cmake -S . -B "$demo_build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATER_BUILD_TESTS=OFF \
    -DUPDATER_BUILD_BENCH=OFF -DUPDATER_PUBLIC_KEY="$work/keys/public.pem" >"$work/configure.log" 2>&1 ||
    fail "configuring with the new key failed (see $work/configure.log)"
build_quietly "$demo_build_dir" --target updater ztx || fail "building the module with the new key failed"
library="$root/$demo_build_dir/lib/libupdater.so"
ztx="$demo_build_dir/bin/ztx"
info "module: $library"

step "3/7 An installation of the sample application, version 1"
app="$work/installation"
mkdir -p "$app/bin" "$app/data" "$app/doc"
printf '#!/bin/sh\necho "sample application 1.0"\n' >"$app/bin/sample"
chmod 755 "$app/bin/sample"
printf '[general]\nversion=1\n' >"$app/data/settings.ini"
printf 'Sample application, version 1.\n' >"$app/doc/README.txt"
printf 'licence text\n' >"$app/doc/LICENSE.txt"
snapshot "$app" >"$work/before.txt"
sed 's/^/    /' "$work/before.txt"
info "bin/sample says: $("$app/bin/sample")"

step "4/7 A signed version-2 package, served over HTTPS on 127.0.0.1"
v2="$work/version-2"
mkdir -p "$v2/bin" "$v2/data" "$v2/doc" "$v2/plugins"
printf '#!/bin/sh\necho "sample application 2.0"\n' >"$v2/bin/sample"
printf '[general]\nversion=2\ntheme=dark\n' >"$v2/data/settings.ini"
printf 'Sample application, version 2.\n' >"$v2/doc/README.txt"
printf 'first plugin of version 2\n' >"$v2/plugins/export.plugin"
mkdir -p "$work/www"
"$ztx" pack "$v2" --key "$work/keys/private.pem" -o "$work/www/sample-2.ztx" | sed 's/^/    /'
"$ztx" verify "$work/www/sample-2.ztx" --key "$work/keys/public.pem" | sed 's/^/    /'
start_https_server "$server" "$work/www" "$work/server" ||
    fail "the HTTPS server did not start (see $work/server.err)"
port=$https_server_port
url="https://127.0.0.1:$port/sample-2.ztx"
info "serving $url (self-signed certificate; the package signature is what is trusted)"

step "5/7 updater-host runs Update in the installation folder"
log="${XDG_CONFIG_HOME:-$HOME/.config}/demo/sample/logs/updater.log"
rm -f "$log"
info "$host --library $library --dir $app update --url $url"
set +e
result=$("$host" --library "$library" --dir "$app" --app-name sample --org-name demo update --url "$url" 2>/dev/null)
status=$?
set -e
info "result: $result"
[ "$status" -eq 0 ] || fail "Update did not succeed (exit status $status)"
[ "$result" = "0|file updated|file updated, need to relogin user" ] || fail "unexpected result string"

step "6/7 What changed on disk"
snapshot "$app" >"$work/after.txt"
join -a1 -a2 -e '-' -o 0,1.2,2.2 "$work/before.txt" "$work/after.txt" | while read -r path old new; do
    if [ "$old" = "-" ]; then
        info "added     $path"
    elif [ "$new" = "-" ]; then
        info "removed   $path"
    elif [ "$old" != "$new" ]; then
        info "replaced  $path"
    else
        info "unchanged $path"
    fi
done
if [ -f "$log" ]; then
    moved=$(grep -c 'addOldSuffixToFilesName :: Old destination file renamed.' "$log" || true)
    info "the module's log ($log) shows $moved replaced files moved aside as <path>.<run stamp>.old"
fi
old_files=$(find "$app" -name '*.old' -o -name '*.OLD' | wc -l)
info "files moved aside during the installation (*.old) left: $old_files"
info "UPDATES holds: $(ls -A "$app/UPDATES" | wc -l) entries"
info "bin/sample now says: $("$app/bin/sample")"
[ "$old_files" -eq 0 ] || fail "old files were left behind"
[ "$("$app/bin/sample")" = "sample application 2.0" ] || fail "bin/sample was not replaced"
[ -f "$app/plugins/export.plugin" ] || fail "plugins/export.plugin was not added"
[ -f "$app/doc/LICENSE.txt" ] || fail "doc/LICENSE.txt, which the package does not hold, was lost"

step "7/7 A tampered package is refused"
cp "$work/www/sample-2.ztx" "$work/www/sample-2-tampered.ztx"
size=$(stat -c %s "$work/www/sample-2-tampered.ztx")
offset=$((size / 3))
byte=$(dd if="$work/www/sample-2-tampered.ztx" bs=1 skip="$offset" count=1 2>/dev/null | od -An -tu1 | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" |
    dd of="$work/www/sample-2-tampered.ztx" bs=1 seek="$offset" conv=notrunc 2>/dev/null
info "changed one byte at offset $offset of $size"
snapshot "$app" >"$work/before-tampered.txt"
set +e
result=$("$host" --library "$library" --dir "$app" --app-name sample --org-name demo update \
    --url "https://127.0.0.1:$port/sample-2-tampered.ztx" 2>/dev/null)
status=$?
set -e
info "result: $result"
snapshot "$app" >"$work/after-tampered.txt"
[ "$status" -eq 43 ] || fail "the tampered package was not refused with 43"
cmp -s "$work/before-tampered.txt" "$work/after-tampered.txt" || fail "the installation changed"
info "the installation folder is exactly as it was"


printf '\nDEMO SUCCEEDED\n'
