#!/usr/bin/env bash
# Builds Casalux and runs it on a sample home.
#
# With a display, the desktop program opens; without one (a server, a
# container), the background engine runs and serves the remote-control
# pages instead (scripts/demo-engine.sh). Unless a USB-serial adapter is
# plugged in (or CASALUX_HARDWARE=1), the CM11A simulator stands in for the
# interface and its log shows what the program switches.
#
#   scripts/run.sh                         # folder build/demo-home
#   DEMO_HOME=~/casalux scripts/run.sh     # another program folder
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: running the background engine with its web pages."
    exec scripts/demo-engine.sh
fi

scripts/setup.sh
home=${DEMO_HOME:-$PWD/build/demo-home}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target casalux hearthcore cm11a-sim

hardware=${CASALUX_HARDWARE:-0}
if [ "$hardware" = 0 ] && [ -n "$(ls -A /dev/serial/by-id 2>/dev/null)" ]; then
    hardware=1
fi

scripts/seed-home.sh "$home" "${DEMO_WEB_PORT:-8088}"
# The user's own settings, not a copy in the demo folder: "Run as a service"
# and "Load at log-in" write where the user's service manager and session
# read (XDG_CONFIG_HOME). Only the sample's device kinds not there yet are
# added.
scripts/seed-home.sh --types-to "${XDG_CONFIG_HOME:-$HOME/.config}/Casalux/casalux.ini"

if [ "$hardware" = 1 ]; then
    echo "Using the interface on the serial ports (see README: Using a real CM11A)."
    exec build/src/desktop/casalux --home "$home"
fi

. scripts/sim.sh
sim_out=$(mktemp)
sim_pid=
stop() {
    trap - INT TERM EXIT
    [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -f "$sim_out"
    exit 0
}
trap stop INT TERM EXIT
start_sim build/tools/cm11a-sim/cm11a-sim "$sim_out"
device=$sim_device
echo "Simulated CM11A on $device (port 1); program folder $home"
tail -n +2 -f "$sim_out" &
CASALUX_SERIAL_1=$device build/src/desktop/casalux --home "$home" || true
