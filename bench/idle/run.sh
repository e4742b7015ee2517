#!/usr/bin/env bash
# Wake-ups of the idle programs: the engine (hearthcore) and the desktop
# program (casalux, offscreen), each against the CM11A simulator with a
# seeded program folder, web pages up, nothing to do. After a settling
# time it counts each program's context switches (every thread, from
# /proc) and CPU time over SECONDS and prints them per second. The minute
# tick is in the figure (one wake-up a minute, 0.017/s). The peer is each
# program's simulator, idle beside it, measured the same way.
#
#   bench/idle/run.sh    (environment: BUILD_DIR, SECONDS_IDLE (60), SETTLE (10),
#                         PROGRAMS ("engine desktop"; one of them to measure it alone))
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$repo/build-bench}
length=${SECONDS_IDLE:-60}
settle=${SETTLE:-10}
programs=${PROGRAMS:-engine desktop}
targets=(cm11a-sim)
[[ " $programs " == *" engine "* ]] && targets+=(hearthcore)
[[ " $programs " == *" desktop "* ]] && targets+=(casalux)

"$repo/scripts/setup.sh" --for "The idle benchmark" python3
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} \
    cmake --build "$build" --target "${targets[@]}" >/dev/null

. "$repo/scripts/sim.sh"
use_workdir

# One program on its own simulator and folder: NAME BINARY [ARGS...]
start_program() {
    local name=$1 binary=$2
    shift 2
    local home=$work/$name
    "$repo/scripts/seed-home.sh" "$home" "$(free_port)" >/dev/null
    start_sim "$build/tools/cm11a-sim/cm11a-sim" "$work/$name-sim.log"
    pids+=("$sim_pid")
    eval "${name}_sim=$sim_pid"
    CASALUX_SERIAL_1=$sim_device XDG_CONFIG_HOME=$home/config QT_QPA_PLATFORM=offscreen \
        "$binary" --home "$home" "$@" >"$work/$name.log" 2>&1 &
    pids+=($!)
    eval "${name}_pid=$!"
}
measured=()
if [[ " $programs " == *" engine "* ]]; then
    start_program engine "$build/src/engine/hearthcore"
    measured+=("hearthcore=$engine_pid" "cm11a-sim of hearthcore=$engine_sim")
fi
if [[ " $programs " == *" desktop "* ]]; then
    start_program desktop "$build/src/desktop/casalux"
    measured+=("casalux=$desktop_pid" "cm11a-sim of casalux=$desktop_sim")
fi
sleep "$settle"

python3 - "$length" "${measured[@]}" <<'PY'
import os, sys, time
length = float(sys.argv[1])
names = dict(arg.split("=", 1) for arg in sys.argv[2:])
tick = os.sysconf("SC_CLK_TCK")

def sample(pid):
    switches = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/status") as f:
            for line in f:
                if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                    switches += int(line.split()[1])
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return switches, (int(fields[11]) + int(fields[12])) / tick

before = {n: sample(p) for n, p in names.items()}
time.sleep(length)
after = {n: sample(p) for n, p in names.items()}
print(f"idle for {length:.0f} s (after settling):")
for n in names:
    wakeups = (after[n][0] - before[n][0]) / length
    cpu = (after[n][1] - before[n][1]) / length * 100
    print(f"  {n:24} {wakeups:6.2f} wake-ups/s   CPU {cpu:5.2f} %")
PY
