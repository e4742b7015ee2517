#!/usr/bin/env bash
# Slow-client attacks against the engine's pages and against nginx (one
# worker) side by side: slowhttptest's slowloris (-H), slow body (-B) and
# slow read (-X, against a 4 MiB file, which goes out through sendfile and
# whose readers give up mid-file), CONNECTIONS connections each, while a
# probe asks for a page every half second (curl, 1 s limit). Prints per
# server and mode the worst probe time and how many probes took longer
# than 1 s (or failed), and at the end whether both servers still run.
#
# The engine (hearthcore) runs as scripts/demo-engine.sh runs it: against
# the CM11A simulator, with a seeded program folder and a web port. Every
# request goes to 127.0.0.1 only; each attack and probe loop ends by itself.
#
#   bench/slowclients/run.sh    (environment: BUILD_DIR, CONNECTIONS, SECONDS_PER_MODE)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$repo/build-bench}
connections=${CONNECTIONS:-500}
length=${SECONDS_PER_MODE:-30}

had_nginx=0
dpkg-query -W -f='${Status}' nginx-light 2>/dev/null | grep -q "install ok installed" && had_nginx=1
"$repo/scripts/setup.sh" --for "The slow-client benchmark" slowhttptest nginx-light curl python3
# A fresh package starts a system nginx on port 80; the benchmark runs its own.
if [ "$had_nginx" = 0 ] && command -v systemctl >/dev/null &&
    systemctl is-active --quiet nginx 2>/dev/null; then
    systemctl stop nginx || true
fi
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

ulimit -n 8192 2>/dev/null || true # the attackers hold a socket each, on both sides
. "$repo/scripts/sim.sh"
build_engine_and_sim "$build" "$repo"
work=$(mktemp -d)
chmod 755 "$work" # nginx workers read the files as another user
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill -TERM "${pids[i]}" 2>/dev/null || true; done
    [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

engine_port=$(free_port)
nginx_port=$(free_port)

# The engine, as the demo runs it.
home=$work/home
start_engine_on_sim "$build" "$home" "$engine_port"

# A file larger than the server keeps in memory, for the slow readers.
head -c $((4 * 1024 * 1024)) /dev/urandom >"$home/html/large.bin"

# nginx with one worker serving the same pages.
mkdir -p "$work/www"
cp -r "$repo/html/." "$work/www/"
cp "$home/html/large.bin" "$work/www/"
chmod -R a+rX "$work/www"
cat >"$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 4096; }
http {
    access_log off;
    sendfile on;
    types { text/html html; image/gif gif; }
    server {
        listen 127.0.0.1:$nginx_port backlog=128;
        root $work/www;
    }
}
CONF
"$nginx_bin" -c "$work/nginx.conf" -p "$work"

page=/index.html
for port in "$engine_port" "$nginx_port"; do
    for _ in $(seq 100); do
        curl -s -o /dev/null -m 1 "http://127.0.0.1:$port$page" && break
        sleep 0.2
    done
done
engine_status=$(curl -s -o /dev/null -m 2 -w '%{http_code}' "http://127.0.0.1:$engine_port$page" || true)
nginx_status=$(curl -s -o /dev/null -m 2 -w '%{http_code}' "http://127.0.0.1:$nginx_port$page" || true)
echo "engine on $engine_port answers $page with $engine_status; nginx on $nginx_port with $nginx_status"

# probe PORT SECONDS: one request every half second, bounded by count.
probe() {
    local port=$1 count=$(($2 * 2)) worst=0 over=0 failed=0 n=0 t
    for _ in $(seq "$count"); do
        if t=$(curl -s -o /dev/null -m 1 -w '%{time_total}' "http://127.0.0.1:$port$page"); then
            :
        else
            t=1.000
            failed=$((failed + 1))
        fi
        n=$((n + 1))
        worst=$(awk -v a="$worst" -v b="$t" 'BEGIN { print (b > a) ? b : a }')
        over=$(awk -v o="$over" -v b="$t" 'BEGIN { print (b >= 1.0) ? o + 1 : o }')
        sleep 0.5
    done
    printf '%d probes, worst %.3f s, %d at 1 s or more (%d failed)\n' "$n" "$worst" "$over" "$failed"
}

declare -A mode_target=([slowloris]=$page [slowbody]=$page [slowread]=/large.bin)
declare -A mode_flags=(
    [slowloris]="-H -i 10 -x 24"
    [slowbody]="-B -i 10 -s 8192 -x 24 -t POST"
    [slowread]="-X -w 512 -y 1024 -n 5 -z 32 -k 3"
)

printf '\n%-10s %-7s %s\n' mode server "probe during the attack ($connections connections, ${length} s)"
for mode in slowloris slowbody slowread; do
    for target in engine nginx; do
        port=$engine_port
        [ "$target" = nginx ] && port=$nginx_port
        # shellcheck disable=SC2086 # the flags are words on purpose
        timeout $((length + 30)) slowhttptest ${mode_flags[$mode]} -c "$connections" -r 200 \
            -l "$length" -p 3 -u "http://127.0.0.1:$port${mode_target[$mode]}" \
            >"$work/attack-$mode-$target.log" 2>&1 &
        attack=$!
        sleep 3 # the connections build up
        result=$(probe "$port" "$((length - 5))")
        wait "$attack" 2>/dev/null || true
        printf '%-10s %-7s %s\n' "$mode" "$target" "$result"
        sleep 3 # the last attackers go before the next round
    done
done

# A client that went away mid-file must not have ended either server.
engine_pid=${pids[1]}
alive() { kill -0 "$1" 2>/dev/null && echo running || echo "ENDED"; }
printf '\nafter the attacks: engine %s (answers %s), nginx %s (answers %s)\n' \
    "$(alive "$engine_pid")" \
    "$(curl -s -o /dev/null -m 2 -w '%{http_code}' "http://127.0.0.1:$engine_port$page" || true)" \
    "$(alive "$(cat "$work/nginx.pid")")" \
    "$(curl -s -o /dev/null -m 2 -w '%{http_code}' "http://127.0.0.1:$nginx_port$page" || true)"
