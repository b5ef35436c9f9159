#!/usr/bin/env bash
# bench_update.sh [BUILD_DIR] [RUNS]      (FILES=N: files in the package, BYTES=N: their total size,
#                                          EXTRA_FILES=N: untouched files in the installation besides)
#
# An Update of a package of 1,000 files (or FILES) of BYTES (default
# 10,000,000) incompressible bytes over loopback HTTPS, through updater-host
# and the built library, beside the pipeline a person would otherwise script
# on the same package from the same server:
#   curl -k the archive and its signature, openssl dgst -sha256 -verify,
#   unzip -o into the folder,
# and beside the floor (bench_floor): the same files written into a staging
# folder, the old ones renamed aside, the new ones renamed in, one syncfs,
# the old ones deleted, with nothing else (no download, no archive, no log).
# The project's HTTPS test server on 127.0.0.1 serves both.
#
# Into a fresh folder and over an existing installation of the same files.
# The two take turns in every run (the order alternates), each run gets new
# folders, set up and written to the disk (sync) before the timed command,
# and the median of RUNS runs (default 5) is printed with the ratio. Folders
# are deleted only at the end: on this kind of disk, creating files costs
# several times more for a while after many were deleted, which would weigh
# on whichever command creates files next. Then, for the updater:
# where one run spends its time (from the module's log), its flush calls
# (strace -c), and the time the next call takes to roll back an
# installation killed half-way (test build of the library) beside a call
# that finds nothing to roll back. (The same Update with and without a
# progress receiver: AFTER_ARGS=--progress bench/installation/bench_compare.sh
# build build.)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "${1:-build}" && pwd)
runs=${2:-5}

. scripts/lib/https-server.sh
. bench/installation/common.sh
bench_work_folder bench_update
log=$XDG_CONFIG_HOME/UpdaterBench/bench_update/logs/updater.log
host() { "$build/bin/updater-host" --org-name UpdaterBench --app-name bench_update "$@"; }

# FILES files of incompressible bytes, BYTES in all, in 10 folders.
make_package_files src
# Files of the installation that no package touches, in folders of 100.
if [ "${EXTRA_FILES:-0}" -gt 0 ]; then
    for i in $(seq 0 $((EXTRA_FILES - 1))); do
        [ $((i % 100)) -eq 0 ] && mkdir -p "extra/untouched$((i / 100))"
        echo "$i" > "extra/untouched$((i / 100))/file$i.txt"
    done
    echo "installation: $EXTRA_FILES more files that the package does not touch"
fi
(cd src && zip -q -r -0 ../www/app.zip .)
openssl dgst -sha256 -sign "$key" -out www/app.zip.sig www/app.zip
openssl pkey -in "$key" -pubout -out public.pem 2>/dev/null
serve_package "$build" 30
echo "package: $(stat -c %s www/app.ztx) bytes, $(find src -type f | wc -l) files"

updater_once() { # folder
    host --dir "$1" update --url "$url/app.ztx" > result.txt 2>&1 || true
    grep -q '^0|file updated' result.txt || { echo "Update failed: $(cat result.txt)" >&2; return 1; }
}
pipeline_once() { # folder
    curl -sk -o dl.zip "$url/app.zip"
    curl -sk -o dl.zip.sig "$url/app.zip.sig"
    openssl dgst -sha256 -verify public.pem -signature dl.zip.sig dl.zip > /dev/null
    unzip -o -q dl.zip -d "$1"
}
folder=0
prepare() { # mode; sets $dir
    folder=$((folder + 1))
    dir=inst-$folder
    mkdir "$dir"
    if [ "$1" = existing ]; then cp -r src/. "$dir/"; fi
    if [ "${EXTRA_FILES:-0}" -gt 0 ]; then cp -r extra/. "$dir/"; fi
    # What the set-up wrote is not the timed command's to flush.
    sync
}

floor_once() { # folder
    "$build/bin/bench_floor" src "$1"
}
echo "load before the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
for mode in fresh existing; do
    : > updater.times
    : > pipeline.times
    : > floor.times
    for run in $(seq "$runs"); do
        case $((run % 3)) in
            1) order="updater pipeline floor" ;;
            2) order="pipeline floor updater" ;;
            *) order="floor updater pipeline" ;;
        esac
        for tool in $order; do
            prepare "$mode"
            eval "dir_$tool=$dir"
            start=$(now)
            "${tool}_once" "$dir"
            end=$(now)
            awk -v a="$start" -v b="$end" 'BEGIN { print b - a }' >> "$tool.times"
        done
        cmp -s <(cd "$dir_updater" && find . -type f ! -path './UPDATES/*' -exec sha256sum {} + | sort -k2) \
            <(cd "$dir_pipeline" && find . -type f -exec sha256sum {} + | sort -k2) ||
            { echo "the two installations differ"; exit 1; }
    done
    ours=$(median < updater.times)
    theirs=$(median < pipeline.times)
    floor=$(median < floor.times)
    printf 'update, %s folder: updater %.3f s, curl+openssl+unzip %.3f s, ratio %.2f; floor %.3f s, updater/floor %.1f\n' \
        "$mode" "$ours" "$theirs" "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { print a / b }')" \
        "$floor" "$(awk -v a="$ours" -v b="$floor" 'BEGIN { print a / b }')"
done
echo "load after the runs: $(cut -d' ' -f1-3 /proc/loadavg)"

# UpdateFromData of the same package (read from a file by updater-host and
# passed in Base64) beside openssl dgst -verify and unzip -o of the local
# archive, into fresh folders.
: > data.times
: > local.times
for run in $(seq "$runs"); do
    prepare fresh
    start=$(now)
    host --dir "$dir" update-from-data "$work/www/app.ztx" > result.txt 2>&1 || true
    end=$(now)
    grep -q '^0|file updated' result.txt || { echo "UpdateFromData failed: $(cat result.txt)"; exit 1; }
    awk -v a="$start" -v b="$end" 'BEGIN { print b - a }' >> data.times
    prepare fresh
    start=$(now)
    openssl dgst -sha256 -verify public.pem -signature www/app.zip.sig www/app.zip > /dev/null
    unzip -o -q www/app.zip -d "$dir"
    end=$(now)
    awk -v a="$start" -v b="$end" 'BEGIN { print b - a }' >> local.times
done
printf 'update-from-data, fresh folder: updater %.3f s, openssl+unzip of the local archive %.3f s\n' \
    "$(median < data.times)" "$(median < local.times)"

# Peak memory of an Update of this package beside one of a package of 100 KB.
head -c 100000 /dev/urandom > small.bin
mkdir -p smallsrc && mv small.bin smallsrc/
"$build/bin/ztx" pack smallsrc --key "$key" -o www/small.ztx >/dev/null 2>&1
peak() { # url
    prepare fresh
    /usr/bin/time -f '%M' -o peak.txt "$build/bin/updater-host" --org-name UpdaterBench --app-name bench_update \
        --dir "$dir" update --url "$1" > /dev/null 2>&1 || true
}
peak "$url/app.ztx"
big=$(cat peak.txt)
peak "$url/small.ztx"
small=$(cat peak.txt)
printf 'peak memory of Update: %d KiB for this package, %d KiB for 100 KB (%+d KiB)\n' "$big" "$small" $((big - small))

# Where one Update spends its time: the gaps between the module's own log
# lines (download and signature check, entry check and unpacking, journal and
# moving aside, moving in, flush and commit with the unpack folder's removal,
# clean-up of the old files).
for mode in fresh existing; do
    prepare "$mode"
    rm -f "$log" "$log".*
    updater_once "$dir"
    awk -v mode="$mode" '
        function t(line) { split(substr(line, 12, 12), p, ":"); return p[1] * 3600 + p[2] * 60 + p[3] }
        NR == 1 { start = t($0) }
        /finalzieDownload :: Downloaded file verified/ { verified = t($0) }
        /oFilePathsList.size\(\)=/ { unpacked = t($0) }
        /addOldSuffixToFilesName :: oFilePath=/ && !aside { aside = t($0) }
        /copyNewFiles :: oFilePath=/ && !movein { movein = t($0) }
        /Temporary file.s permission changed/ { movedin = t($0) }
        /Temporary updates files in UPDATES directory removed/ { committed = t($0) }
        { last = t($0) }
        END {
            printf "phases (%s folder): download+verify %.3f s, entry check+unpack %.3f s, journal+move aside %.3f s, move in %.3f s, flush+commit+unpack folder removed %.3f s, clean-up %.3f s\n",
                mode, verified - start, unpacked - verified, movein - unpacked, movedin - movein, committed - movedin, last - committed
        }' $(ls -r "$log".* 2>/dev/null) "$log"
done

# Flush calls of one Update over the existing installation.
if command -v strace > /dev/null; then
    prepare existing
    strace -f -c -o strace.txt -e trace=fsync,fdatasync,syncfs,sync,sync_file_range \
        "$build/bin/updater-host" --org-name UpdaterBench --app-name bench_update --dir "$dir" \
        update --url "$url/app.ztx" > /dev/null 2>&1 || true
    printf 'flush calls per Update: %s\n' \
        "$(awk '$NF ~ /^(fsync|fdatasync|syncfs|sync|sync_file_range)$/ { printf "%s %s, ", $NF, $4 }' strace.txt | sed 's/, $//')"
fi

# Rolling back an installation killed after moving half of its files in,
# beside a call with nothing to roll back (both refuse their package at once).
if [ -e "$build/lib/libupdater-faults.so" ]; then
    : > recovery.times
    : > idle.times
    for run in $(seq "$runs"); do
        prepare existing
        UPDATER_FAULT=install.move-in:$((files / 2)) host --library "$build/lib/libupdater-faults.so" \
            --dir "$dir" update --url "$url/app.ztx" > /dev/null 2>&1 || true
        ls "$dir"/UPDATES/*.journal > /dev/null 2>&1 || { echo "the installation was not interrupted"; exit 1; }
        sync
        start=$(now)
        host --dir "$dir" update-from-data /dev/null > /dev/null 2>&1 || true
        end=$(now)
        awk -v a="$start" -v b="$end" 'BEGIN { print b - a }' >> recovery.times
        # The package the killed call was installing stays in download.part
        # (it was downloaded where it can be resumed) until the next Update.
        [ -z "$(ls -A "$dir"/UPDATES | grep -v '^download\.')" ] || { echo "recovery left $(ls "$dir"/UPDATES)"; exit 1; }
        start=$(now)
        host --dir "$dir" update-from-data /dev/null > /dev/null 2>&1 || true
        end=$(now)
        awk -v a="$start" -v b="$end" 'BEGIN { print b - a }' >> idle.times
    done
    printf 'recovery of an installation killed after %d of %d files moved in: %.3f s (a call with nothing to recover: %.3f s)\n' \
        $((files / 2)) "$files" "$(median < recovery.times)" "$(median < idle.times)"
fi
