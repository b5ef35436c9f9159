#!/usr/bin/env bash
# Runs every benchmark in one go on this machine and writes a short report,
# bench/out/report.md, with the module beside curl, openssl and unzip
# measured in the same run.
# Usage: bench/run.sh [RUNS]      (build directory: build/, or $BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-3}
build_dir=${BUILD_DIR:-build}
out=bench/out
mkdir -p "$out"
report="$out/report.md"

scripts/install-deps.sh >/dev/null
echo "bench: building"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null 2>&1
cmake --build "$build_dir" -j"$(nproc)" --target updater updater_faults updater-host ztx updater-test-https-server \
    updater-bench-download bench_verify bench_old_files bench_floor >/dev/null

section() {
    echo "bench: $1"
    printf '\n## %s\n\n```\n' "$1" >>"$report"
}
end_section() { printf '```\n' >>"$report"; }

{
    echo "# Benchmark report"
    echo
    echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "- machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo)," \
         "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(. /etc/os-release && echo "$PRETTY_NAME")"
    echo "- build: RelWithDebInfo; runs per measurement: $runs (median or best as each part says)"
} >"$report"

section "Download: module vs curl -k, same local HTTPS server"
bench/download/run.sh "$runs" 2>&1 | tee -a "$report"
end_section

section "Update of a 10 MB package from nginx: directly vs behind two https redirects"
bench/download/bench_redirects.sh "$build_dir" $((runs * 5)) 2>&1 | tee -a "$report"
end_section

section "Signature check of a 10 MiB package: verifyDownloadedFile vs openssl dgst -sha256 -verify"
HOME=$(mktemp -d) QT_QPA_PLATFORM=offscreen "$build_dir/bin/bench_verify" $((runs * 5)) 2>&1 | tee -a "$report"
end_section

section "Update of a 10 MB package of 1,000 files vs curl -k + openssl dgst -verify + unzip -o, and the floor"
FILES=1000 BYTES=10000000 bench/installation/bench_update.sh "$build_dir" "$runs" 2>&1 | tee -a "$report"
end_section

section "Update of a 10 MB package of 10 files, same comparison"
FILES=10 BYTES=10000000 bench/installation/bench_update.sh "$build_dir" "$runs" 2>&1 | tee -a "$report"
end_section

section "Update of a 10 MB package of 1,000 files into an installation of 50,000 more files"
EXTRA_FILES=50000 FILES=1000 BYTES=10000000 bench/installation/bench_update.sh "$build_dir" "$runs" 2>&1 | tee -a "$report"
end_section

# 8 MB in all, so that the zip headers of 10,000 entries still fit the limit.
section "Update by files in the package (8 MB in all), same comparison"
for files in 100 1000 10000; do
    echo "-- $files files in the package" | tee -a "$report"
    FILES=$files BYTES=8000000 bench/installation/bench_update.sh "$build_dir" "$runs" 2>&1 | tee -a "$report"
done
end_section

section "Old-file clean-up vs find, by files in the installation tree"
for files in 10000 100000; do
    HOME=$(mktemp -d) "$build_dir/bin/bench_old_files" --files "$files" 2>&1 | tee -a "$report"
done
end_section

section "Installations killed in their first 50 ms, each followed by another installation"
bench/installation/bench_early_kills.sh "$build_dir" 200 2>&1 | tee -a "$report"
end_section

echo "bench: report written to $report"
