#!/usr/bin/env bash
# bench_redirects.sh [BUILD_DIR] [RUNS]
#
# Update of a 10 MB package (10 files of incompressible bytes) served by
# nginx on 127.0.0.1 (TLS, keep-alive), through updater-host and the built
# library, three ways side by side:
#   direct         the package's own URL
#   2 redirects    301 then 302 on the same server, then the package
#   2 redirects, other host
#                  301 on the same server, then 302 to a second server (a
#                  new TLS connection), as release downloads are sent to a
#                  storage host
# Every round runs each once, in an order that rotates from round to round,
# each into a fresh installation folder. Prints the median wall time of each
# and its ratio to the direct download.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "${1:-build}" && pwd)
runs=${2:-11}
key=$PWD/tests/keys/test-private.pem

work=$(mktemp -d /tmp/bench_redirects.XXXXXX)
nginx_pid=
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p src www temp "$HOME"

for i in $(seq 0 9); do head -c 1000000 /dev/urandom > "src/file$i.dll"; done
"$build/bin/ztx" pack src --key "$key" -o www/app.ztx >/dev/null 2>&1
echo "package: $(stat -c %s www/app.ztx) bytes, $(ls src | wc -l) files"

free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 40000))
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
    done
}
port=$(free_port)
storage_port=$(free_port)
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj /CN=bench 2>/dev/null
cat > nginx.conf <<CONF
master_process off;
daemon off;
error_log $work/error.log;
pid $work/nginx.pid;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/temp; proxy_temp_path $work/temp; fastcgi_temp_path $work/temp;
  uwsgi_temp_path $work/temp; scgi_temp_path $work/temp;
  default_type application/octet-stream;
  ssl_certificate $work/cert.pem; ssl_certificate_key $work/key.pem;
  root $work/www;
  server {
    listen 127.0.0.1:$port ssl;
    location = /first { return 301 /second; }
    location = /second { return 302 /app.ztx; }
    location = /away { return 301 /storage; }
    location = /storage { return 302 https://127.0.0.1:$storage_port/app.ztx; }
  }
  server { listen 127.0.0.1:$storage_port ssl; }
}
CONF
nginx -p "$work" -e "$work/error.log" -c "$work/nginx.conf" &
nginx_pid=$!
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.05
done

declare -A urls=([direct]=/app.ztx [two]=/first [other]=/away)
declare -A names=([direct]="direct" [two]="2 redirects" [other]="2 redirects, other host")
clients=(direct two other)
run_once() { # client round
    local folder=$work/install-$1-$2 start end
    mkdir -p "$folder"
    sync
    start=$(date +%s.%N)
    "$build/bin/updater-host" --org-name UpdaterBench --app-name bench_redirects --dir "$folder" \
        update --url "https://127.0.0.1:$port${urls[$1]}" > result.txt 2>/dev/null || true
    end=$(date +%s.%N)
    grep -q '^0|file updated' result.txt || { echo "Update failed: $(cat result.txt)" >&2; exit 1; }
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }' >> "times-$1"
}
for round in $(seq "$runs"); do
    for k in 0 1 2; do
        run_once "${clients[$(((round + k) % 3))]}" "$round"
    done
done

median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
direct=$(median times-direct)
printf '%-26s %10s %8s\n' "Update of the package" "median s" "ratio"
for client in "${clients[@]}"; do
    value=$(median "times-$client")
    printf '%-26s %10.3f %8.2f\n' "${names[$client]}" "$value" "$(awk -v a="$value" -v b="$direct" 'BEGIN { print a / b }')"
done
echo "($runs rounds, order rotating; nginx $(nginx -v 2>&1 | sed 's/.*\///'), TLS, keep-alive)"
