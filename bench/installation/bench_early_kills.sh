#!/usr/bin/env bash
# bench_early_kills.sh [BUILD_DIR] [KILLS]
#
# KILLS (default 200) installations of the library that ships, each killed
# (SIGKILL) at a random moment in its first 50 ms, where it makes its lock
# file, recovers the folder and starts unpacking; each followed by an
# installation of another package into the same folder, which must succeed
# without waiting for a lock. Prints how many succeeded, how many of the
# kills left a lock file or a journal behind, and the longest and median
# time of the follow-up installations.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "${1:-build}" && pwd)
kills=${2:-200}
key=$PWD/tests/keys/test-private.pem

work=$(mktemp -d /tmp/bench_early_kills.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/run
mkdir -p a b install "$HOME" "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
host() { "$build/bin/updater-host" --org-name UpdaterBench --app-name bench_early_kills "$@"; }

# Two packages of 100 files over the same paths.
for i in $(seq 0 99); do
    mkdir -p "a/d$((i % 10))" "b/d$((i % 10))"
    head -c 4096 /dev/urandom > "a/d$((i % 10))/f$i.bin"
    head -c 4096 /dev/urandom > "b/d$((i % 10))/f$i.bin"
done
"$build/bin/ztx" pack a --key "$key" -o a.ztx >/dev/null 2>&1
"$build/bin/ztx" pack b --key "$key" -o b.ztx >/dev/null 2>&1
host --dir install update-from-data "$work/a.ztx" >/dev/null

now() { date +%s%N; }
successes=0 leftLocks=0 leftJournals=0
: > times.txt
for round in $(seq 1 "$kills"); do
    host --dir install update-from-data "$work/a.ztx" >/dev/null 2>&1 &
    pid=$!
    sleep "0.0$(printf '%02d' $((RANDOM % 50)))"
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    [ -e install/UPDATES/install.lock ] && leftLocks=$((leftLocks + 1))
    ls install/UPDATES/*.journal >/dev/null 2>&1 && leftJournals=$((leftJournals + 1))

    start=$(now)
    result=$(host --dir install update-from-data "$work/b.ztx" 2>/dev/null || true)
    echo $(( ($(now) - start) / 1000000 )) >> times.txt
    case $result in 0\|*) successes=$((successes + 1)) ;; *) echo "round $round: $result" ;; esac
    cmp -s b/d0/f0.bin install/d0/f0.bin || echo "round $round: package b is not in place"
done
sort -n times.txt > sorted.txt
echo "kills: $kills in the first 50 ms; left a lock file: $leftLocks, a journal: $leftJournals"
echo "follow-up installations: $successes of $kills succeeded;" \
     "median $(awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }' sorted.txt) ms," \
     "longest $(tail -1 sorted.txt) ms (a lock wait would take 120000 ms)"
