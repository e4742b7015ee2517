#!/usr/bin/env bash
# The engine's start-up time and idle memory, this build next to a peer
# build (another commit of the engine), run side by side in turns on the
# same machine. Each engine starts on a simulator of its own with the sample
# home; start-up is the time from exec until its pages answer, memory the
# resident size after it has settled (VmRSS) and its peak (VmHWM).
#
#   bench/engine/footprint.sh PEER_BUILD_DIR
#       (environment: BUILD_DIR (build-bench), ROUNDS (5), SETTLE (5))
#
# Make a peer with: git worktree add /tmp/peer COMMIT &&
#   cmake -S /tmp/peer -B /tmp/peer/build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release &&
#   cmake --build /tmp/peer/build-bench --target hearthcore cm11a-sim
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$repo/build-bench}
peer=${1:?usage: bench/engine/footprint.sh PEER_BUILD_DIR}
rounds=${ROUNDS:-5}
settle=${SETTLE:-5}

"$repo/scripts/setup.sh" --for "The engine footprint benchmark" python3 curl
. "$repo/scripts/sim.sh"
build_engine_and_sim "$build" "$repo"
use_workdir

# One run: BUILD_DIR NAME -> "startup_ms rss_kib hwm_kib"
measure() {
    local dir=$1 name=$2 port home start pid ms=-
    port=$(free_port)
    home=$work/$name
    rm -rf "$home"
    "$repo/scripts/seed-home.sh" "$home" "$port" >/dev/null
    start_sim "$dir/tools/cm11a-sim/cm11a-sim" "$work/$name-sim.log"
    local sim=$sim_pid
    start=$(date +%s%N)
    CASALUX_SERIAL_1=$sim_device XDG_CONFIG_HOME=$home/config \
        "$dir/src/engine/hearthcore" --home "$home" >"$work/$name.log" 2>&1 &
    pid=$!
    for _ in $(seq 300); do
        if curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$port/"; then
            ms=$((($(date +%s%N) - start) / 1000000))
            break
        fi
        sleep 0.01
    done
    sleep "$settle"
    local rss hwm
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
    hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status")
    kill -TERM "$pid" "$sim" 2>/dev/null || true
    wait "$pid" "$sim" 2>/dev/null || true
    echo "$ms $rss $hwm"
}

best() { sort -n | head -n 1; }
: >"$work/ours.txt"
: >"$work/peer.txt"
for round in $(seq "$rounds"); do
    if [ $((round % 2)) -eq 1 ]; then
        measure "$build" ours >>"$work/ours.txt"
        measure "$peer" peer >>"$work/peer.txt"
    else
        measure "$peer" peer >>"$work/peer.txt"
        measure "$build" ours >>"$work/ours.txt"
    fi
done
column() { awk -v c="$2" '{print $c}' "$work/$1.txt" | best; }
echo "hearthcore, best of $rounds runs each, taken in turns (this build / peer $peer)"
printf '%-22s %10s %10s %7s\n' measure this peer ratio
for row in "start-up (ms):1" "idle RSS (KiB):2" "peak RSS (KiB):3"; do
    label=${row%%:*}
    c=${row##*:}
    a=$(column ours "$c")
    b=$(column peer "$c")
    printf '%-22s %10s %10s %7s\n' "$label" "$a" "$b" \
        "$(awk -v a="$a" -v b="$b" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')"
done
