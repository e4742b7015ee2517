#!/usr/bin/env bash
# Runs the background engine on a machine without a display or an X10
# interface: starts the CM11A simulator, seeds a program folder with a small
# sample home, points port 1 at the simulator, starts hearthcore and prints
# the address of the remote-control page. Ctrl-C stops both.
#
#   scripts/demo-engine.sh            # web port 8088, folder build/demo-home
#   DEMO_WEB_PORT=9000 DEMO_HOME=/tmp/home scripts/demo-engine.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/setup.sh
web_port=${DEMO_WEB_PORT:-8088}
home=${DEMO_HOME:-$root/build/demo-home}

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target hearthcore cm11a-sim

scripts/seed-home.sh "$home" "$web_port"

sim_out=$(mktemp)
pids=()
stop() {
    trap - INT TERM EXIT
    # The engine first, so it lets go of the port before the simulator goes.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill -TERM "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -f "$sim_out"
    echo "Stopped."
    exit 0
}
trap stop INT TERM EXIT

. scripts/sim.sh
start_sim build/tools/cm11a-sim/cm11a-sim "$sim_out"
pids+=($sim_pid)
device=$sim_device

CASALUX_SERIAL_1=$device XDG_CONFIG_HOME=$home/config \
    build/src/engine/hearthcore --home "$home" &
engine_pid=$!
pids+=($engine_pid)

echo "Simulated CM11A on $device; program folder $home"
echo "Remote control: http://localhost:$web_port/index.html"
echo "Commands the interface carries out appear below. Ctrl-C stops."
tail -n +2 -f "$sim_out" &
pids+=($!)
wait "$engine_pid" || true
echo "hearthcore ended by itself (no answer from the interface?)." >&2
