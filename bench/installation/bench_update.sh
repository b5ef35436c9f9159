#!/usr/bin/env bash
# bench_update.sh [BUILD_DIR] [RUNS]      (FILES=N: files in the package, BYTES=N: their total size)
#
# An Update of a 10 MiB package of 1,000 files (or FILES) over loopback HTTPS, through
# updater-host and the built library, beside the pipeline a person would
# otherwise script on the same package from the same server:
#   curl -k the archive and its signature, openssl dgst -sha256 -verify,
#   unzip -o into the folder.
# The project's HTTPS test server on 127.0.0.1 serves both.
# Both into a fresh folder and over an existing installation of the same
# files. Prints the median times of RUNS runs (default 5) and their ratio.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "${1:-build}" && pwd)
runs=${2:-5}
key=$PWD/tests/keys/test-private.pem

. scripts/lib/https-server.sh
work=$(mktemp -d /tmp/bench_update.XXXXXX)
cleanup() {
    stop_https_server
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p src www "$HOME"

# FILES (default 1,000) files of incompressible bytes, BYTES (default
# 10,000,000) in all, in 10 folders.
files=${FILES:-1000}
bytes=${BYTES:-10000000}
head -c "$bytes" /dev/urandom > blob
for folder in $(seq 0 9); do mkdir -p "src/folder$folder"; done
split -b $((bytes / files)) -a 6 -d blob part.
i=0
for part in part.*; do
    mv "$part" "src/folder$((i % 10))/file$i.dll"
    i=$((i + 1))
done
rm blob

"$build/bin/ztx" pack src --key "$key" -o www/app.ztx >/dev/null
(cd src && zip -q -r -0 ../www/app.zip .)
openssl dgst -sha256 -sign "$key" -out www/app.zip.sig www/app.zip
openssl pkey -in "$key" -pubout -out public.pem 2>/dev/null
echo "package: $(stat -c %s www/app.ztx) bytes, $(find src -type f | wc -l) files"

# The project's HTTPS test server serves both sides.
start_https_server "$build/bin/updater-test-https-server" www server ||
    { echo "server did not start"; cat server.err; exit 1; }
url=https://127.0.0.1:$https_server_port

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

updater_once() { # folder
    "$build/bin/updater-host" --dir "$1" update --url "$url/app.ztx" > result.txt 2>&1 || true
    grep -q '^0|file updated' result.txt || { echo "Update failed: $(cat result.txt)" >&2; return 1; }
}
pipeline_once() { # folder
    curl -sk -o dl.zip "$url/app.zip"
    curl -sk -o dl.zip.sig "$url/app.zip.sig"
    openssl dgst -sha256 -verify public.pem -signature dl.zip.sig dl.zip > /dev/null
    unzip -o -q dl.zip -d "$1"
}

for mode in fresh existing; do
    : > updater.times
    : > pipeline.times
    for _ in $(seq "$runs"); do
        for tool in updater pipeline; do
            rm -rf "inst-$tool"
            mkdir "inst-$tool"
            if [ "$mode" = existing ]; then cp -r src/. "inst-$tool/"; fi
            start=$(now)
            "${tool}_once" "inst-$tool"
            end=$(now)
            awk -v a="$start" -v b="$end" 'BEGIN { print b - a }' >> "$tool.times"
        done
        cmp -s <(cd inst-updater && find . -type f ! -path './UPDATES/*' -exec sha256sum {} + | sort -k2) \
            <(cd inst-pipeline && find . -type f -exec sha256sum {} + | sort -k2) ||
            { echo "the two installations differ"; exit 1; }
    done
    ours=$(median < updater.times)
    theirs=$(median < pipeline.times)
    printf 'update, %s folder: updater %.3f s, curl+openssl+unzip %.3f s, ratio %.2f\n' \
        "$mode" "$ours" "$theirs" "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { print a / b }')"
done
