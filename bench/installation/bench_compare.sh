#!/usr/bin/env bash
# bench_compare.sh BEFORE_BUILD AFTER_BUILD [RUNS]   (FILES=N, BYTES=N as for bench_update.sh;
#                                                     AFTER_ARGS="...": more arguments for the
#                                                     second build's updater-host, e.g. --progress)
#
# The same Update, through each build's own updater-host and library, of a
# package of 1,000 files (or FILES) of BYTES (default 10,000,000)
# incompressible bytes from the project's HTTPS test server on 127.0.0.1:
# into a fresh folder and over an existing installation of the same files.
# The two builds take turns in every run (the order alternates), each run
# gets new folders written to the disk before it is timed, and the medians of
# RUNS runs (default 9) are printed with their ratio, after / before, and the
# median of the ratios of each run's pair. With the same build twice and
# AFTER_ARGS=--progress, it measures what a progress receiver costs:
#   AFTER_ARGS=--progress bench/installation/bench_compare.sh build build
set -euo pipefail
cd "$(dirname "$0")/../.."
before=$(cd "$1" && pwd)
after=$(cd "$2" && pwd)
runs=${3:-9}

. scripts/lib/https-server.sh
. bench/installation/common.sh
bench_work_folder bench_compare
make_package_files src
serve_package "$after" 10

folder=0
run_once() { # build mode [arguments]
    local build=$1 mode=$2
    shift 2
    folder=$((folder + 1))
    local dir=inst-$folder
    mkdir "$dir"
    if [ "$mode" = existing ]; then cp -r src/. "$dir/"; fi
    sync
    local start end
    start=$(now)
    "$build/bin/updater-host" --org-name UpdaterBench --app-name bench_compare --dir "$dir" \
        update --url "$url/app.ztx" "$@" > result.txt 2> /dev/null || true
    end=$(now)
    grep -q '^0|file updated' result.txt || { echo "Update failed ($build): $(cat result.txt)" >&2; exit 1; }
    awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

echo "load before the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
read -ra after_args <<< "${AFTER_ARGS:-}"
for mode in fresh existing; do
    : > before.times
    : > after.times
    : > ratio.times
    for run in $(seq "$runs"); do
        if [ $((run % 2)) -eq 1 ]; then
            run_once "$before" "$mode" >> before.times
            run_once "$after" "$mode" "${after_args[@]}" >> after.times
        else
            run_once "$after" "$mode" "${after_args[@]}" >> after.times
            run_once "$before" "$mode" >> before.times
        fi
        awk -v a="$(tail -n 1 after.times)" -v b="$(tail -n 1 before.times)" 'BEGIN { print a / b }' >> ratio.times
    done
    b=$(median < before.times)
    a=$(median < after.times)
    printf 'update, %s folder, medians of %d: before %.3f s, after %.3f s, after/before %.3f (paired %.3f)\n' \
        "$mode" "$runs" "$b" "$a" "$(awk -v a="$a" -v b="$b" 'BEGIN { print a / b }')" "$(median < ratio.times)"
done
echo "load after the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
