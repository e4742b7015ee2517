#!/usr/bin/env bash
# Resident memory of a Servlane host while many clients download one large
# file at once: CLIENTS curl downloads (to /dev/null) of a SIZE_MB file from
# the benchmark host (MaxConnections 12, as the engine), all on 127.0.0.1.
# Prints the host's peak resident set (VmHWM) and its resident set before.
# Large files go out from disk in chunks, so the figure should not grow
# with the file size or the number of clients.
#
#   bench/slowclients/memory.sh    (environment: BUILD_DIR, CLIENTS, SIZE_MB)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$repo/build-bench}
clients=${CLIENTS:-100}
size_mb=${SIZE_MB:-100}

"$repo/scripts/setup.sh" --for "The memory benchmark" curl python3
ulimit -n 8192 2>/dev/null || true
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} \
    cmake --build "$build" --target servlane-bench-host >/dev/null

work=$(mktemp -d)
host_pid=
cleanup() {
    [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www"
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$work/www/big.bin"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$build/bench/http/servlane-bench-host" "$work/www" "$port" 12 >"$work/host.log" 2>&1 &
host_pid=$!
for _ in $(seq 50); do grep -q listening "$work/host.log" && break; sleep 0.1; done
before=$(awk '/VmRSS/ {print $2}' "/proc/$host_pid/status")

start=$(date +%s.%N)
curl_pids=()
for i in $(seq "$clients"); do
    curl -s -o /dev/null -m 300 -w '%{size_download}\n' "http://127.0.0.1:$port/big.bin" \
        >"$work/curl.$i" &
    curl_pids+=($!)
done
peak_now=0
while kill -0 "${curl_pids[@]}" 2>/dev/null; do
    rss=$(awk '/VmRSS/ {print $2}' "/proc/$host_pid/status")
    [ "$rss" -gt "$peak_now" ] && peak_now=$rss
    sleep 0.2
    # stop sampling once every download has ended
    alive=0
    for p in "${curl_pids[@]}"; do kill -0 "$p" 2>/dev/null && alive=1 && break; done
    [ "$alive" = 0 ] && break
done
wait "${curl_pids[@]}" 2>/dev/null || true
end=$(date +%s.%N)
hwm=$(awk '/VmHWM/ {print $2}' "/proc/$host_pid/status")
complete=$(cat "$work"/curl.* | awk -v want="$((size_mb * 1024 * 1024))" '$1 == want {n++} END {print n + 0}')
echo "$clients clients x $size_mb MB from the benchmark host (MaxConnections 12)"
echo "complete downloads: $complete of $clients, $(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.1f", b - a}') s"
echo "host resident memory: before $((before / 1024)) MB, highest sampled $((peak_now / 1024)) MB, peak (VmHWM) $((hwm / 1024)) MB"
