# Sourced by the scripts that run the programs against the CM11A simulator.
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
