#!/usr/bin/env bash
# Download benchmark: the module's download engine against `curl -k`, both
# fetching a 100 KiB and a 10 MiB file from the same local HTTPS server in
# the same run. Prints throughput and peak memory of each, and the ratios.
#
# Usage: bench/download/run.sh [runs]     (build directory: build/, or $BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/../.."

build_dir=${BUILD_DIR:-build}
runs=${1:-5}
bin="$build_dir/bin"
for program in updater-bench-download updater-test-https-server; do
    [ -x "$bin/$program" ] || { echo "run.sh: build $bin/$program first" >&2; exit 2; }
done

. scripts/lib/https-server.sh
work=$(mktemp -d)
cleanup() {
    stop_https_server
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root" "$work/home"
head -c 102400 /dev/urandom >"$work/root/100KiB.bin"
head -c 10485760 /dev/urandom >"$work/root/10MiB.bin"

start_https_server "$bin/updater-test-https-server" "$work/root" "$work/server" ||
    { echo "run.sh: the server did not start" >&2; cat "$work/server.err" >&2; exit 1; }
port=$https_server_port

# best throughput (MiB/s) and highest peak memory (KiB) over the runs
measure_module() {
    local url=$1 best=0 peak=0 line speed rss
    for _ in $(seq "$runs"); do
        line=$(HOME="$work/home" QT_QPA_PLATFORM=offscreen "$bin/updater-bench-download" "$url")
        speed=$(echo "$line" | awk '{print $3}')
        rss=$(echo "$line" | awk '{print $4}')
        best=$(awk -v a="$best" -v b="$speed" 'BEGIN{print (b>a)?b:a}')
        peak=$(( rss > peak ? rss : peak ))
    done
    echo "$best $peak"
}

measure_curl() {
    local url=$1 best=0 peak=0 speed rss
    for _ in $(seq "$runs"); do
        speed=$( { /usr/bin/time -f '%M' -o "$work/time" curl -k -s -o /dev/null -w '%{speed_download}' "$url"; } )
        rss=$(tail -n 1 "$work/time")
        speed=$(awk -v s="$speed" 'BEGIN{printf "%.2f", s/1048576}')
        best=$(awk -v a="$best" -v b="$speed" 'BEGIN{print (b>a)?b:a}')
        peak=$(( rss > peak ? rss : peak ))
    done
    echo "$best $peak"
}

printf '%-8s %-7s %12s %14s\n' file client 'MiB/s(best)' 'peak RSS KiB'
declare -A speed rss
for file in 100KiB 10MiB; do
    url="https://127.0.0.1:$port/$file.bin"
    read -r speed[module-$file] rss[module-$file] < <(measure_module "$url")
    read -r speed[curl-$file] rss[curl-$file] < <(measure_curl "$url")
    printf '%-8s %-7s %12s %14s\n' "$file" module "${speed[module-$file]}" "${rss[module-$file]}"
    printf '%-8s %-7s %12s %14s\n' "$file" curl "${speed[curl-$file]}" "${rss[curl-$file]}"
done

echo
for file in 100KiB 10MiB; do
    awk -v f="$file" -v m="${speed[module-$file]}" -v c="${speed[curl-$file]}" \
        'BEGIN{printf "throughput module/curl, %s: %.2f\n", f, (c>0)?m/c:0}'
done
echo "peak memory growth from 100 KiB to 10 MiB: module $(( rss[module-10MiB] - rss[module-100KiB] )) KiB," \
     "curl $(( rss[curl-10MiB] - rss[curl-100KiB] )) KiB"
echo "peak memory module/curl, 10 MiB: $(awk -v m="${rss[module-10MiB]}" -v c="${rss[curl-10MiB]}" 'BEGIN{printf "%.2f", m/c}')"
