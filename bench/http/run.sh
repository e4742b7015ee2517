#!/usr/bin/env bash
# Static-file throughput of Servlane next to nginx (one worker), same files,
# same machine, same run: HTTP/1.0, one request per connection, measured
# with ab at 1, 16 and 64 clients; then both while idle connections are held
# open. Prints requests/s and the ratio Servlane / nginx.
#
#   bench/http/run.sh    (environment: BUILD_DIR, REQUESTS, ROUNDS, IDLE, SLOTS, CLIENTS, FILES)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$repo/build-bench}
requests=${REQUESTS:-20000}
idle=${IDLE:-1000}
rounds=${ROUNDS:-3} # the machine is shared: the best of a few runs is the steadiest figure
slots=${SLOTS:-129} # MaxConnections of the benchmark host: 128 clients at once
clients=${CLIENTS:-1 16 64}
files=${FILES:-/1k.txt /64k.txt}

"$here/setup.sh"
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

ulimit -n 8192 2>/dev/null || true # the idle clients hold a socket each
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target servlane-bench-host >/dev/null
host_bin="$build/bench/http/servlane-bench-host"

work=$(mktemp -d)
chmod 755 "$work" # nginx workers read the files as another user
cleanup() {
    [ -n "${idle_pid:-}" ] && kill "$idle_pid" 2>/dev/null || true
    [ -n "${host_pid:-}" ] && kill "$host_pid" 2>/dev/null || true
    [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www"
python3 - "$work/www" <<'PY'
import os, string, sys
letters = (string.ascii_letters + string.digits).encode()
for name, size in (("1k.txt", 1024), ("64k.txt", 65536)):
    with open(os.path.join(sys.argv[1], name), "wb") as f:
        f.write(bytes(letters[b % len(letters)] for b in os.urandom(size)))
PY
chmod 644 "$work/www"/*

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
sl_port=$(free_port)
ng_port=$(free_port)

# One worker, no access log, files sent as they are: the peer does no more
# per request than Servlane does.
cat > "$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 4096; }
http {
    access_log off;
    sendfile on;
    keepalive_timeout 0;
    types { text/plain txt; }
    server {
        listen 127.0.0.1:$ng_port backlog=128;
        root $work/www;
    }
}
CONF
"$nginx_bin" -c "$work/nginx.conf" -p "$work"
"$host_bin" "$work/www" "$sl_port" "$slots" > "$work/host.log" 2>&1 &
host_pid=$!
for _ in $(seq 50); do grep -q listening "$work/host.log" && break; sleep 0.1; done

rate() { # port path concurrency
    # -r: count a reset connection as a failure instead of giving up.
    { ab -q -r -s 10 -n "$requests" -c "$3" "http://127.0.0.1:$1$2" 2>"$work/ab.err" || true; } |
        tee "$work/ab.out" | awk '/Requests per second/ {r=$4} /^Failed requests/ {f=$3}
             END {if (r == "") r = "-"; if (f > 0) printf "%s(%d failed)", r, f; else print r}'
}
ratio() { awk -v a="${1%%(*}" -v b="${2%%(*}" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

best() { # the higher of two rates ("-" counts as 0)
    awk -v a="${1%%(*}" -v b="${2%%(*}" -v ta="$1" -v tb="$2" 'BEGIN { print (a + 0 >= b + 0) ? ta : tb }'
}

echo "Servlane vs nginx (1 worker), HTTP/1.0, one request per connection,"
echo "$requests requests per run, best of $rounds runs each, taken in turns"
printf '%-8s %4s %14s %14s %7s\n' file c servlane nginx ratio
for file in $files; do
    for c in $clients; do
        ours=0; theirs=0
        for round in $(seq "$rounds"); do
            # Take turns at going first, so neither always meets the warmer
            # machine or the other's TIME_WAIT sockets.
            if [ $((round % 2)) -eq 1 ]; then
                ours=$(best "$ours" "$(rate "$sl_port" "$file" "$c")")
                theirs=$(best "$theirs" "$(rate "$ng_port" "$file" "$c")")
            else
                theirs=$(best "$theirs" "$(rate "$ng_port" "$file" "$c")")
                ours=$(best "$ours" "$(rate "$sl_port" "$file" "$c")")
            fi
        done
        printf '%-8s %4s %14s %14s %7s\n' "$file" "$c" "$ours" "$theirs" "$(ratio "$ours" "$theirs")"
    done
done
echo
echo "1k at c=16 while $idle idle connections are held open (Servlane MaxConnections $slots);"
echo "slowest: the longest any one request took, in ms (ab's figure)"
for target in servlane nginx; do
    port=$sl_port; [ "$target" = nginx ] && port=$ng_port
    python3 "$here/idle.py" "$port" "$idle" 60 &
    idle_pid=$!
    sleep 3
    result=$(rate "$port" /1k.txt 16)
    slowest=$(awk '/^ *100%/ {print $2}' "$work/ab.out")
    kill "$idle_pid" 2>/dev/null || true
    wait "$idle_pid" 2>/dev/null || true
    idle_pid=
    printf '%-8s %14s req/s   slowest %s ms\n' "$target" "$result" "${slowest:--}"
    [ "$target" = servlane ] && sl_idle=$result || ng_idle=$result
    sleep 2
done
echo "ratio with idle connections: $(ratio "$sl_idle" "$ng_idle")"
