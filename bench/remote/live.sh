#!/usr/bin/env bash
# Open room pages that stay current. The engine (hearthcore) runs against
# the CM11A simulator on the sample home; clients ask for the room's states
# as the pages' script does (states.json with If-None-Match, once a second).
#
# 1. Latency: EVENTS wall-switch presses typed into the simulator, each at a
#    random moment; the time from the press to the first answer that shows
#    it (median and worst).
# 2. Cost: the engine's CPU time while PAGES idle open pages poll for
#    SECONDS, next to the peer, the same number of clients reloading the
#    start page every 2 s; printed as percent of one core and as a ratio.
# Every request goes to 127.0.0.1 only.
#
#   bench/remote/live.sh    (environment: BUILD_DIR, EVENTS (50), PAGES (100), SECONDS_EACH (30))
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$repo/build-bench}

"$repo/scripts/setup.sh" --for "The live pages benchmark" python3
. "$repo/scripts/sim.sh"
build_engine_and_sim "$build" "$repo"
use_workdir

port=$(free_port)
home=$work/home
"$repo/scripts/seed-home.sh" "$home" "$port" >/dev/null
# The simulator reads wall-switch presses from a pipe this script holds.
mkfifo "$work/presses"
"$build/tools/cm11a-sim/cm11a-sim" <"$work/presses" >"$work/sim.log" &
pids+=($!)
exec 7>"$work/presses"
for _ in $(seq 50); do
    [ -s "$work/sim.log" ] && break
    sleep 0.1
done
CASALUX_SERIAL_1=$(head -n 1 "$work/sim.log") XDG_CONFIG_HOME=$home/config \
    "$build/src/engine/hearthcore" --home "$home" >"$work/engine.log" 2>&1 &
engine=$!
pids+=("$engine")

python3 - "$port" "$engine" "${EVENTS:-50}" "${PAGES:-100}" "${SECONDS_EACH:-30}" <<'PY' 7>&7
import json, os, random, socket, statistics, sys, threading, time

port, engine, events, pages, seconds = (int(a) for a in sys.argv[1:])
presses = os.fdopen(7, "w", buffering=1)

def get(target, tag=""):
    head = f"GET {target} HTTP/1.0\r\nHost: 127.0.0.1:{port}\r\n"
    if tag:
        head += f"If-None-Match: {tag}\r\n"
    with socket.create_connection(("127.0.0.1", port), timeout=30) as s:
        s.sendall((head + "\r\n").encode())
        data = b""
        while chunk := s.recv(65536):
            data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    fields = dict(l.split(": ", 1) for l in lines[1:] if ": " in l)
    return lines[0].split(" ")[1], fields.get("ETag", ""), body

for _ in range(100):
    try:
        get("/index.html")
        break
    except OSError:
        time.sleep(0.2)
time.sleep(2)

def cpu():
    with open(f"/proc/{engine}/stat") as f:
        parts = f.read().rsplit(")", 1)[1].split()
    return (int(parts[11]) + int(parts[12])) / os.sysconf("SC_CLK_TCK")

# 1. Latency, seen by one page polling as the script does.
seen = {"lamp": None, "at": 0.0}
stop = threading.Event()
def page():
    tag = ""
    while not stop.is_set():
        status, new, body = get("/states.json?Lounge", tag)
        if status == "200":
            tag = new
            lamp = next(d for d in json.loads(body)["devices"] if d["head"] == "A~1~LoungeLamp")
            if lamp["on"] != seen["lamp"]:
                seen["lamp"], seen["at"] = lamp["on"], time.monotonic()
        stop.wait(1.0)
poller = threading.Thread(target=page)
poller.start()
time.sleep(1.5)
delays = []
for i in range(events):
    time.sleep(random.uniform(0.5, 1.5))
    want = not seen["lamp"]
    pressed = time.monotonic()
    presses.write(f"A1 {'ON' if want else 'OFF'}\n")
    while seen["lamp"] != want and time.monotonic() - pressed < 10:
        time.sleep(0.005)
    delays.append(seen["at"] - pressed if seen["lamp"] == want else float("inf"))
stop.set()
poller.join()
print(f"wall switch to open page, {events} presses: median {statistics.median(delays) * 1000:.0f} ms, "
      f"worst {max(delays) * 1000:.0f} ms (pages ask once a second)")

# 2. The engine's CPU with many clients.
def load(target, period, conditional):
    stop = threading.Event()
    def client():
        tag = ""
        time.sleep(random.uniform(0, period))
        while not stop.is_set():
            status, new, _ = get(target, tag if conditional else "")
            if status == "200":
                tag = new
            stop.wait(period)
    threads = [threading.Thread(target=client) for _ in range(pages)]
    for t in threads:
        t.start()
    time.sleep(period + 1)
    before, start = cpu(), time.monotonic()
    time.sleep(seconds)
    used = (cpu() - before) / (time.monotonic() - start)
    stop.set()
    for t in threads:
        t.join()
    return used

idle = load("/states.json?Lounge", 1.0, True)
reload = load("/index.html", 2.0, False)
print(f"engine CPU, {pages} idle open pages asking every 1 s: {idle * 100:.2f} % of one core")
print(f"engine CPU, {pages} clients reloading the start page every 2 s (peer): {reload * 100:.2f} % of one core")
print(f"ratio live/peer: {idle / reload:.2f}")
PY
