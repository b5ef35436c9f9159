#!/usr/bin/env bash
# Download benchmark: the module's download engine against `curl -k`, both
# fetching a 100 KiB and a 10 MiB file from the same local HTTPS server in
# the same run. The clients take turns (the order rotates every round), so
# that a busy moment of the shared machine falls on all of them alike. Prints
# the median throughput and the highest peak memory of each, and the ratios
# to curl.
#
# Usage: bench/download/run.sh [runs]     (build directory: build/, or $BUILD_DIR)
#
# CLIENTS (default "module curl") chooses what is compared; each word is one
# client:
#   module         build/bin/updater-bench-download
#   module@PATH    another build of that program (an earlier commit, say)
#   buffer:BYTES   the module with a read buffer of BYTES (the test build's
#                  limit, build/bin/updater-bench-download-limits)
#   curl           curl -k
# e.g. CLIENTS="buffer:16384 buffer:65536 buffer:262144 curl" bench/download/run.sh 9
set -euo pipefail
cd "$(dirname "$0")/../.."

build_dir=${BUILD_DIR:-build}
runs=${1:-5}
bin="$build_dir/bin"
read -r -a clients <<<"${CLIENTS:-module curl}"
[ -x "$bin/updater-test-https-server" ] || { echo "run.sh: build $bin/updater-test-https-server first" >&2; exit 2; }
for client in "${clients[@]}"; do
    case $client in
        module) program="$bin/updater-bench-download" ;;
        module@*) program=${client#module@} ;;
        buffer:*) program="$bin/updater-bench-download-limits" ;;
        curl) program=$(command -v curl) ;;
        *) echo "run.sh: unknown client $client" >&2; exit 2 ;;
    esac
    [ -x "$program" ] || { echo "run.sh: $client: build or install $program first" >&2; exit 2; }
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

# One download; prints "MiB/s peak-KiB".
measure() {
    local client=$1 url=$2 line speed
    case $client in
        curl)
            speed=$(/usr/bin/time -f '%M' -o "$work/time" curl -k -s -o /dev/null -w '%{speed_download}' "$url")
            awk -v s="$speed" -v m="$(tail -n 1 "$work/time")" 'BEGIN{printf "%.2f %d\n", s/1048576, m}'
            return ;;
        module) line=$(HOME="$work/home" QT_QPA_PLATFORM=offscreen "$bin/updater-bench-download" "$url") ;;
        module@*) line=$(HOME="$work/home" QT_QPA_PLATFORM=offscreen "${client#module@}" "$url") ;;
        buffer:*) line=$(HOME="$work/home" QT_QPA_PLATFORM=offscreen UPDATER_LIMIT_DOWNLOAD_READ_BUFFER="${client#buffer:}" \
                         "$bin/updater-bench-download-limits" "$url") ;;
    esac
    echo "$line" | awk '{print $3, $4}'
}

# The name a client is shown by: module@PATH by the folder that holds PATH.
label() {
    case $1 in
        module@*) local path=${1#module@}; echo "module@$(basename "$(dirname "$path")")" ;;
        *) echo "$1" ;;
    esac
}

median() { sort -g | awk '{v[NR]=$1} END{print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
highest() { sort -g | tail -n 1; }

for file in 100KiB 10MiB; do
    url="https://127.0.0.1:$port/$file.bin"
    for round in $(seq "$runs"); do
        count=${#clients[@]}
        for i in $(seq 0 $((count - 1))); do
            client=${clients[$(( (i + round) % count ))]}
            read -r speed rss < <(measure "$client" "$url")
            echo "$speed" >>"$work/speed-$file-${client//[\/:@]/_}"
            echo "$rss" >>"$work/rss-$file-${client//[\/:@]/_}"
        done
    done
done

printf '%-8s %-24s %14s %14s\n' file client 'MiB/s(median)' 'peak RSS KiB'
declare -A speed rss
for file in 100KiB 10MiB; do
    for client in "${clients[@]}"; do
        key="$file-${client//[\/:@]/_}"
        speed[$key]=$(median <"$work/speed-$key")
        rss[$key]=$(highest <"$work/rss-$key")
        printf '%-8s %-24s %14s %14s\n' "$file" "$(label "$client")" "${speed[$key]}" "${rss[$key]}"
    done
done

echo
has_curl=false
for client in "${clients[@]}"; do [ "$client" = curl ] && has_curl=true; done
for file in 100KiB 10MiB; do
    $has_curl || break
    for client in "${clients[@]}"; do
        [ "$client" = curl ] && continue
        awk -v f="$file" -v n="$(label "$client")" -v m="${speed[$file-${client//[\/:@]/_}]}" -v c="${speed[$file-curl]}" \
            'BEGIN{printf "throughput %s/curl, %s: %.2f\n", n, f, (c>0)?m/c:0}'
    done
done
for client in "${clients[@]}"; do
    key=${client//[\/:@]/_}
    echo "peak memory growth from 100 KiB to 10 MiB, $(label "$client"): $(( rss[10MiB-$key] - rss[100KiB-$key] )) KiB"
done
if $has_curl && [ -n "${rss[10MiB-module]:-}" ]; then
    echo "peak memory module/curl, 10 MiB: $(awk -v m="${rss[10MiB-module]}" -v c="${rss[10MiB-curl]}" 'BEGIN{printf "%.2f", m/c}')"
fi
