# Sourced by the installation benchmarks from the project's root folder,
# after scripts/lib/https-server.sh. key is the project's test key.
#
#   bench_work_folder NAME
#       makes a work folder /tmp/NAME.XXXXXX (sets work), removed with the
#       HTTPS server stopped on exit, enters it, gives it a HOME of its own
#       and makes src and www in it.
#   make_package_files FOLDER
#       writes FILES files (default 1,000) of BYTES incompressible bytes in
#       all (default 10,000,000) into FOLDER, in 10 subfolders, as
#       folderN/fileI.dll; sets files and bytes.
#   serve_package BUILD SECONDS
#       packs src into www/app.ztx with BUILD's ztx, lets the disk settle for
#       SETTLE_SECONDS (default SECONDS) after the set-up's own files came and
#       went, and starts BUILD's HTTPS test server on www (sets url).
#   now; median
#       the time in seconds; the median of the numbers on stdin, one a line.
key=$PWD/tests/keys/test-private.pem

bench_cleanup() {
    stop_https_server
    rm -rf "$work"
}

bench_work_folder() {
    work=$(mktemp -d "/tmp/$1.XXXXXX")
    trap bench_cleanup EXIT
    cd "$work"
    export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
    mkdir -p src www "$HOME"
}

make_package_files() {
    local folder=$1 i=0 part
    files=${FILES:-1000}
    bytes=${BYTES:-10000000}
    head -c "$bytes" /dev/urandom > "$folder.blob"
    for sub in $(seq 0 9); do mkdir -p "$folder/folder$sub"; done
    split -b $((bytes / files)) -a 6 -d "$folder.blob" "$folder.part."
    for part in "$folder".part.*; do
        mv "$part" "$folder/folder$((i % 10))/file$i.dll"
        i=$((i + 1))
    done
    rm "$folder.blob"
}

serve_package() {
    "$1/bin/ztx" pack src --key "$key" -o www/app.ztx >/dev/null 2>&1
    sync
    sleep "${SETTLE_SECONDS:-$2}"
    start_https_server "$1/bin/updater-test-https-server" www server ||
        { echo "server did not start"; cat server.err; exit 1; }
    url=https://127.0.0.1:$https_server_port
}

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
