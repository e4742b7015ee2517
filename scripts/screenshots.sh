#!/usr/bin/env bash
# Renders the Casalux main window (home panel, a room, the event editor, the
# macros), the wait window and the tray menu into docs/screenshots/desktop-*.png. No display is needed: the
# window is drawn on Qt's offscreen platform, against the simulated CM11A
# on a sample home seeded in a temporary folder, at a fixed date and time.
#
#   scripts/screenshots.sh [BUILD_DIR]     # default build
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

if [ ! -x "$build/src/desktop/casalux-screenshots" ] || [ ! -x "$build/tools/cm11a-sim/cm11a-sim" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" --target casalux-screenshots cm11a-sim
fi

home=$(mktemp -d)
sim_out=$home/sim.out
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT

scripts/seed-home.sh "$home" 8089 >/dev/null
# Fixed events, so the pictures do not change from run to run.
printf '%s\r\n' \
    'Hall Light~C~1~100~07:30~on~daily~mtwuf' \
    'Hall Light~C~1~ ~23:00~off~daily~mtwufsr' \
    'Lounge Lamp~A~1~60~sSet:-1~on~daily~mtwufsr' \
    'Kitchen Kettle~B~2~100~06:45~on~once~m' >"$home/evelst.rvf"

. scripts/sim.sh
start_sim "$build/tools/cm11a-sim/cm11a-sim" "$sim_out" --baud 0

mkdir -p docs/screenshots
XDG_CONFIG_HOME=$home/config QT_QPA_PLATFORM=offscreen CASALUX_SERIAL_1=$sim_device \
    CASALUX_NOW=2026-03-05T18:42:10 \
    "$build/src/desktop/casalux-screenshots" --home "$home" --out docs/screenshots --room Lounge
