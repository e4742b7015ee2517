# Sourced by the scripts that run the programs against the CM11A simulator.
#
#   use_workdir
#
# Makes a temporary folder, $work, and a list, $pids, of the background
# processes started; when the script ends they are ended, the last started
# first, and the folder is removed.
#
#   free_port
#
# Prints a TCP port that is free on 127.0.0.1.
#
#   build_engine_and_sim BUILD_DIR REPO
#
# Configures BUILD_DIR as a Release build of REPO when it is not one yet,
# and builds the engine and the simulator in it.
#
#   start_engine_on_sim BUILD_DIR HOME WEB_PORT
#
# Seeds HOME with the sample home on WEB_PORT and runs the engine of
# BUILD_DIR on it against a simulator of its own, both logged in $work and
# added to $pids.
#
#   start_sim SIM_BINARY LOG_FILE [ARGS...]
#
# Starts the simulator in the background with its log in LOG_FILE, waits
# for it to name its pseudo-terminal (the log's first line) and sets
# sim_pid and sim_device. Ends the script when the simulator does not start.
start_sim() {
    local binary=$1 log=$2
    shift 2
    "$binary" "$@" >"$log" &
    sim_pid=$!
    for _ in $(seq 50); do
        [ -s "$log" ] && break
        sleep 0.1
    done
    sim_device=$(head -n 1 "$log")
    if [ -z "$sim_device" ]; then
        echo "The simulator did not start." >&2
        exit 1
    fi
}

use_workdir() {
    work=$(mktemp -d)
    pids=()
    trap end_workdir EXIT
}
end_workdir() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill -TERM "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}

build_engine_and_sim() {
    if [ ! -f "$1/CMakeCache.txt" ]; then
        cmake -S "$2" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} \
        cmake --build "$1" --target hearthcore cm11a-sim >/dev/null
}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

start_engine_on_sim() {
    local build=$1 home=$2 port=$3
    "$(dirname "${BASH_SOURCE[0]}")/seed-home.sh" "$home" "$port"
    start_sim "$build/tools/cm11a-sim/cm11a-sim" "$work/sim.log"
    pids+=("$sim_pid")
    CASALUX_SERIAL_1=$sim_device XDG_CONFIG_HOME=$home/config \
        "$build/src/engine/hearthcore" --home "$home" >"$work/engine.log" 2>&1 &
    pids+=($!)
}
