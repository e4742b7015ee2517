#!/usr/bin/env bash
# Static-file throughput of Servlane next to nginx (one worker), same files,
# same machine, same run: HTTP/1.0, one request per connection, measured
# with ab at 1, 16 and 64 clients; then both while idle connections are held
# open. Prints requests/s and the ratio Servlane / nginx.
#
#   bench/http/run.sh    (environment: BUILD_DIR, REQUESTS, ROUNDS, IDLE, SLOTS, CLIENTS, FILES, LOADERS)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$repo/build-bench}
requests=${REQUESTS:-20000}
# ab runs in one process: on a machine of two cores one ab takes a whole
# core near 20 000 requests a second and becomes the limit. The clients are
# split over this many ab processes (the requests/s is all of them together).
loaders=${LOADERS:-2}
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

# ab takes a whole core at about 20 000 requests a second here, so with
# many clients both servers may be waiting on it and requests/s says little
# about either. What a server spends per request says more: its own CPU
# time (user + system, in us) and the TCP segments an exchange takes (both
# ends are on the loopback; counted for the whole machine, so run it quiet).
tick_us=$((1000000 / $(getconf CLK_TCK)))
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
out_segs() { awk '/^Tcp:/ { if (!col) { for (i = 1; i <= NF; i++) if ($i == "OutSegs") col = i } else print $col }' /proc/net/snmp; }
sl_pid() { echo "$host_pid"; }
ng_pid() { pgrep -P "$(cat "$work/nginx.pid")" | head -1; }
rate() { # port path concurrency server-pid: prints "requests/s CPU-us segments ab-busy-%"
    local ticks segs started ended k n=$loaders
    [ "$3" -lt "$n" ] && n=$3
    ticks=$(cpu_ticks "$4"); segs=$(out_segs)
    started=$(date +%s.%N)
    local pids=()
    for k in $(seq "$n"); do
        # -r: count a reset connection as a failure instead of giving up.
        /usr/bin/time -f '%U %S' -o "$work/ab.time.$k" \
            ab -q -r -s 10 -n $((requests / n)) -c $(($3 / n)) "http://127.0.0.1:$1$2" \
            >"$work/ab.out.$k" 2>"$work/ab.err" &
        pids+=($!)
    done
    wait "${pids[@]}" || true
    ended=$(date +%s.%N)
    cat "$work"/ab.out.* >"$work/ab.out"
    awk -v t="$(awk -v a="$started" -v b="$ended" 'BEGIN { print b - a }')" \
        '/^Complete requests/ {done += $3} /^Failed requests/ {f += $3}
         END { if (done == 0) r = "-"; else r = sprintf("%.0f", (done - f) / t)
               if (f > 0) printf "%s(%d failed)", r, f; else printf "%s", r }' "$work/ab.out"
    echo " $(( ($(cpu_ticks "$4") - ticks) * tick_us / requests ))" \
        "$(awk -v a="$segs" -v b="$(out_segs)" -v n="$requests" 'BEGIN { printf "%.1f", (b - a) / n }')" \
        "$(cat "$work"/ab.time.* | awk -v a="$started" -v b="$ended" '{ c += $1 + $2 } END { printf "%d", 100 * c / (b - a) }')"
    rm -f "$work"/ab.out.* "$work"/ab.time.*
}
ratio() { awk -v a="${1%%(*}" -v b="${2%%(*}" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

# Of two runs ("requests/s CPU-us segments ab-busy-%"), the higher rate (with
# how busy ab was in that run), the lower CPU time and the fewer segments
# ("-" counts as 0 requests/s).
best() {
    [ -z "$1" ] && { echo "$2"; return; }
    set -- $1 $2
    awk -v a="${1%%(*}" -v b="${5%%(*}" -v ta="$1" -v tb="$5" -v c="$2" -v d="$6" -v e="$3" -v f="$7" \
        -v ba="$4" -v bb="$8" \
        'BEGIN { print ((a + 0 >= b + 0) ? ta : tb), (c + 0 <= d + 0 ? c : d), (e + 0 <= f + 0 ? e : f),
                       ((a + 0 >= b + 0) ? ba : bb) }'
}
field() { echo "$1" | cut -d' ' -f"$2"; }

echo "Servlane vs nginx (1 worker), HTTP/1.0, one request per connection,"
echo "$requests requests per run, best of $rounds runs each, taken in turns;"
echo "cpu: the server's CPU time per request in us (ratio nginx / Servlane); segs: TCP segments"
echo "per request; ab%: the CPU ab took in the best run, in % of one core, with the clients split"
echo "over up to $loaders ab processes (LOADERS; 100 per process: ab was the limit)"
printf '%-8s %4s %10s %10s %6s | %5s %5s %6s | %5s %5s | %4s %4s\n' file c servlane nginx ratio \
    cpu cpu ratio segs segs ab% ab%
for file in $files; do
    for c in $clients; do
        ours=; theirs=
        for round in $(seq "$rounds"); do
            # Take turns at going first, so neither always meets the warmer
            # machine or the other's TIME_WAIT sockets.
            if [ $((round % 2)) -eq 1 ]; then
                ours=$(best "$ours" "$(rate "$sl_port" "$file" "$c" "$(sl_pid)")")
                theirs=$(best "$theirs" "$(rate "$ng_port" "$file" "$c" "$(ng_pid)")")
            else
                theirs=$(best "$theirs" "$(rate "$ng_port" "$file" "$c" "$(ng_pid)")")
                ours=$(best "$ours" "$(rate "$sl_port" "$file" "$c" "$(sl_pid)")")
            fi
        done
        printf '%-8s %4s %10s %10s %6s | %5s %5s %6s | %5s %5s | %4s %4s\n' "$file" "$c" \
            "$(field "$ours" 1)" "$(field "$theirs" 1)" "$(ratio "$(field "$ours" 1)" "$(field "$theirs" 1)")" \
            "$(field "$ours" 2)" "$(field "$theirs" 2)" "$(ratio "$(field "$theirs" 2)" "$(field "$ours" 2)")" \
            "$(field "$ours" 3)" "$(field "$theirs" 3)" "$(field "$ours" 4)" "$(field "$theirs" 4)"
    done
done
echo
echo "1k at c=16 while $idle idle connections are held open (Servlane MaxConnections $slots),"
echo "best of $rounds runs each, taken in turns; slowest: the longest any one request took in"
echo "that run, in ms (ab's figure)"
idle_run() { # target: prints "requests/s slowest-ms"
    local port=$sl_port pid result
    [ "$1" = nginx ] && port=$ng_port
    python3 "$here/idle.py" "$port" "$idle" 60 &
    idle_pid=$!
    sleep 3
    pid=$(sl_pid); [ "$1" = nginx ] && pid=$(ng_pid)
    result=$(field "$(rate "$port" /1k.txt 16 "$pid")" 1)
    echo "$result $(awk '/^ *100%/ && $2 > m {m = $2} END {print m + 0}' "$work/ab.out")"
    kill "$idle_pid" 2>/dev/null || true
    wait "$idle_pid" 2>/dev/null || true
    idle_pid=
    sleep 2
}
higher() { [ -z "$1" ] && { echo "$2"; return; }; awk -v a="$1" -v b="$2" 'BEGIN { split(a, x, " "); split(b, y, " "); print (x[1] + 0 >= y[1] + 0) ? a : b }'; }
sl_idle=; ng_idle=
for round in $(seq "$rounds"); do
    if [ $((round % 2)) -eq 1 ]; then
        sl_idle=$(higher "$sl_idle" "$(idle_run servlane)")
        ng_idle=$(higher "$ng_idle" "$(idle_run nginx)")
    else
        ng_idle=$(higher "$ng_idle" "$(idle_run nginx)")
        sl_idle=$(higher "$sl_idle" "$(idle_run servlane)")
    fi
done
printf '%-8s %14s req/s   slowest %s ms\n' servlane "$(field "$sl_idle" 1)" "$(field "$sl_idle" 2)"
printf '%-8s %14s req/s   slowest %s ms\n' nginx "$(field "$ng_idle" 1)" "$(field "$ng_idle" 2)"
echo "ratio with idle connections: $(ratio "$(field "$sl_idle" 1)" "$(field "$ng_idle" 1)")"
