#!/usr/bin/env bash
# Device commands queued on the remote-control pages against a picture.
# The engine (hearthcore) runs against the CM11A simulator as the demo runs
# it. First one command alone gives the interface's round trip (the peer);
# then COMMANDS command requests are sent at once, and a second later a
# plain GET of a picture. Prints the picture's answer time, and the gaps
# between the commands' answers as a ratio to the round trip (back to back
# is about 1.0). Every request goes to 127.0.0.1 only.
#
#   bench/remote/queue.sh    (environment: BUILD_DIR, COMMANDS)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$repo/build-bench}
commands=${COMMANDS:-40}

"$repo/scripts/setup.sh" --for "The command queue benchmark" curl python3
. "$repo/scripts/sim.sh"
build_engine_and_sim "$build" "$repo"
use_workdir

port=$(free_port)
home=$work/home
start_engine_on_sim "$build" "$home" "$port"

python3 - "$port" "$commands" <<'PY'
import sys, time, socket, threading

port, count = int(sys.argv[1]), int(sys.argv[2])

def get(target):
    """One HTTP/1.0 GET; the time from sending to the server's close."""
    start = time.monotonic()
    with socket.create_connection(("127.0.0.1", port), timeout=300) as s:
        s.sendall(f"GET {target} HTTP/1.0\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
        while s.recv(65536):
            pass
    return start, time.monotonic()

for _ in range(100):
    try:
        get("/index.html")
        break
    except OSError:
        time.sleep(0.2)

links = ["/index.html?A~1~LoungeLamp~turnon~Lounge", "/index.html?A~1~LoungeLamp~turnoff~Lounge"]
alone = []
for i in range(4):
    s, e = get(links[i % 2])
    alone.append(e - s)
trip = min(alone)

ends = [None] * count
def command(i):
    ends[i] = get(links[i % 2])[1]
threads = [threading.Thread(target=command, args=(i,)) for i in range(count)]
begin = time.monotonic()
for t in threads:
    t.start()
time.sleep(1.0)
s, e = get("/bulbon.gif")
picture = e - s
for t in threads:
    t.join()
order = sorted(ends)
gaps = [b - a for a, b in zip(order, order[1:])]
print(f"one command alone (round trip): {trip * 1000:.0f} ms")
print(f"picture while {count} commands queue: {picture * 1000:.1f} ms")
print(f"{count} commands: all answered after {order[-1] - begin:.1f} s; "
      f"gap between answers: worst {max(gaps) / trip:.2f}x, "
      f"mean {sum(gaps) / len(gaps) / trip:.2f}x the round trip")
PY
