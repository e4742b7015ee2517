#!/usr/bin/env bash
# Renders the Casalux main window (home panel, a room, the event editor, the
# macros), the wait window and the tray menu into
# docs/screenshots/desktop-*.png, in the light palette at 1x, and the home
# panel and the room again dark (-dark), at 2x (@2x) and both (-dark@2x).
# No display is needed: the window is drawn on Qt's offscreen platform,
# against the simulated CM11A on a sample home seeded afresh for each set
# (the pictures switch devices), at a fixed date and time.
#
#   scripts/screenshots.sh [BUILD_DIR]     # default build
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

if [ ! -x "$build/src/desktop/casalux-screenshots" ] || [ ! -x "$build/tools/cm11a-sim/cm11a-sim" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" --target casalux-screenshots cm11a-sim
fi

work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
. scripts/sim.sh

# shoot NAME SCALE [OPTIONS...]: one set of pictures on a fresh home.
shoot() {
    local name=$1 scale=$2
    shift 2
    local home=$work/$name
    mkdir -p "$home"
    scripts/seed-home.sh "$home" 8089 >/dev/null
    # Fixed events, so the pictures do not change from run to run.
    printf '%s\r\n' \
        'Hall Light~C~1~100~07:30~on~daily~mtwuf' \
        'Hall Light~C~1~ ~23:00~off~daily~mtwufsr' \
        'Lounge Lamp~A~1~60~sSet:-1~on~daily~mtwufsr' \
        'Kitchen Kettle~B~2~100~06:45~on~once~m' >"$home/evelst.rvf"
    start_sim "$build/tools/cm11a-sim/cm11a-sim" "$home/sim.out" --baud 0
    XDG_CONFIG_HOME=$home/config QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=$scale \
        CASALUX_SERIAL_1=$sim_device CASALUX_NOW=2026-03-05T18:42:10 \
        "$build/src/desktop/casalux-screenshots" --home "$home" --out docs/screenshots \
        --room Lounge "$@"
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
}

mkdir -p docs/screenshots
shoot light 1
shoot dark 1 --dark --suffix -dark --views home,room
shoot light2x 2 --suffix @2x --views home,room
shoot dark2x 2 --dark --suffix -dark@2x --views home,room

# Smaller files where a lossless optimiser is at hand (none is required).
if command -v optipng >/dev/null; then
    optipng -quiet -o2 docs/screenshots/desktop-*.png
elif command -v pngcrush >/dev/null; then
    for f in docs/screenshots/desktop-*.png; do pngcrush -q -ow "$f"; done
fi
