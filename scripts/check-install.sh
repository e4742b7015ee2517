#!/usr/bin/env bash
# Installs the packages in a booted Debian 12 system container and checks
# them under a real systemd, against the CM11A simulator on a
# pseudo-terminal: what installing the engine alone pulls in, the service
# as user casalux, its live exposure rating, a page, a restart after
# kill -9, polkit for members of casalux only, the program folder closed to
# others, a headless home set up with casaluxctl (the port, a login, a room,
# a lamp and an MQTT broker) and switched from the page and from MQTT,
# remove, purge, reinstall, and the upgrade from the single casalux
# package of 0.1.0-1 (rebuilt here from the new packages' files and that
# version's maintainer scripts, seed-folder and unit, taken from git).
#
#   scripts/check-install.sh build/packages/casalux-engine_*.deb build/packages/casalux_*.deb
#
# Needs root, debootstrap and systemd-nspawn (scripts/setup.sh names them)
# and the simulator of a build (BUILD_DIR, default build). The base system
# is made once with debootstrap from the Debian mirror apt is configured
# with and kept in CASALUX_CONTAINER_DIR (default
# /var/tmp/casalux-container), with the downloaded packages; every run
# boots a fresh copy of it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --for "check-install" debootstrap systemd-container
engine_deb= desktop_deb=
for deb in "$@"; do
    case $(dpkg-deb -f "$deb" Package) in
    casalux-engine) engine_deb=$(realpath "$deb") ;;
    casalux) desktop_deb=$(realpath "$deb") ;;
    esac
done
if [ -z "$engine_deb" ] || [ -z "$desktop_deb" ]; then
    echo "usage: scripts/check-install.sh CASALUX_ENGINE_DEB CASALUX_DEB" >&2
    exit 2
fi
sim=$(realpath "${BUILD_DIR:-build}/tools/cm11a-sim/cm11a-sim")
[ -x "$sim" ] || { echo "check-install: no simulator at $sim (build it first)" >&2; exit 2; }
# The last commit with the single package's maintainer scripts.
old_rev=$(git log -n 1 --format=%H --diff-filter=AM -- packaging/debian/postinst)

cache=${CASALUX_CONTAINER_DIR:-/var/tmp/casalux-container}
base=$cache/base
archives=$cache/archives
run=$cache/run
work=$cache/work
started=$SECONDS
step() { echo "== $* ($((SECONDS - started)) s)"; }
fail() {
    echo "check-install: FAIL: $*" >&2
    exit 1
}

mirror() { # the first Debian archive apt uses
    { grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{ print $2 }'
      grep -hs '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
          sed 's/\[[^]]*\]//' | awk '{ print $2 }'; } | grep -v security | head -n 1
}

mkdir -p "$cache" "$archives"
if [ ! -d "$base" ]; then
    step "debootstrap bookworm from $(mirror)"
    rm -rf "$base.new"
    # libpam-systemd: polkitd will not install without it.
    debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus,libpam-systemd \
        bookworm "$base.new" "$(mirror)" >"$cache/debootstrap.log" 2>&1 ||
        fail "debootstrap (log: $cache/debootstrap.log)"
    echo casalux-check >"$base.new/etc/hostname"
    rm -f "$base.new"/var/cache/apt/archives/*.deb
    mv "$base.new" "$base"
fi

# The old single package, as 0.1.0-1 was: both new packages' files in one,
# with that version's scripts, seed-folder and unit.
rm -rf "$work"
mkdir -p "$work/old/DEBIAN"
dpkg-deb -x "$engine_deb" "$work/old"
dpkg-deb -x "$desktop_deb" "$work/old"
rm -rf "$work/old/usr/share/doc/casalux-engine"
for f in postinst prerm postrm; do
    git show "$old_rev:packaging/debian/$f" >"$work/old/DEBIAN/$f"
    chmod 0755 "$work/old/DEBIAN/$f"
done
git show "$old_rev:packaging/seed-folder" >"$work/old/usr/libexec/casalux/seed-folder"
git show "$old_rev:packaging/hearthcore.service" >"$work/old/lib/systemd/system/hearthcore.service"
depends=$( { dpkg-deb -f "$engine_deb" Depends; dpkg-deb -f "$desktop_deb" Depends; } |
    tr ',' '\n' | sed 's/^ *//' | grep -v '^casalux-engine' | sort -u | paste -sd, | sed 's/,/, /g')
cat >"$work/old/DEBIAN/control" <<EOF
Package: casalux
Version: 0.1.0-1
Architecture: $(dpkg-deb -f "$engine_deb" Architecture)
Maintainer: $(dpkg-deb -f "$engine_deb" Maintainer)
Depends: $depends
Recommends: polkitd
Section: misc
Priority: optional
Description: X10 home automation for the CM11A interface
 The single package of 0.1.0-1, for the upgrade check.
EOF
dpkg-deb --root-owner-group -Zgzip -b "$work/old" "$work/casalux_0.1.0-1.deb" >/dev/null
mkdir -p "$work/debs"
cp "$engine_deb" "$desktop_deb" "$work/casalux_0.1.0-1.deb" "$work/debs/"

step "boot a copy of the base system"
rm -rf "$run"
cp -a --reflink=auto "$base" "$run"
nspawn_pid=
cleanup() {
    if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
        in_container systemctl poweroff >/dev/null 2>&1 || true
        for _ in $(seq 100); do
            kill -0 "$nspawn_pid" 2>/dev/null || break
            sleep 0.2
        done
        kill -TERM "$nspawn_pid" 2>/dev/null || true
        wait "$nspawn_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1 systemd-nspawn -q -D "$run" -b --register=no --keep-unit \
    --console=read-only --capability=CAP_BPF --system-call-filter=bpf \
    --bind="$archives:/var/cache/apt/archives" --bind-ro="$work/debs:/debs" \
    --bind-ro="$sim:/usr/local/bin/cm11a-sim" >"$cache/console.log" 2>&1 &
nspawn_pid=$!
leader=
for _ in $(seq 300); do
    # The container's systemd is the child of systemd-nspawn.
    leader=$(pgrep -x -P "$nspawn_pid" systemd || true)
    [ -n "$leader" ] && break
    kill -0 "$nspawn_pid" 2>/dev/null || fail "the container did not boot: $(tail "$cache/console.log")"
    sleep 0.2
done
[ -n "$leader" ] || fail "no systemd in the container"
in_container() {
    nsenter -t "$leader" -a -- /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}
sh_in() { in_container sh -ec "$1"; }
state=
for _ in $(seq 100); do
    # Answers only once systemd listens on its bus.
    state=$(in_container systemctl is-system-running --wait 2>/dev/null || true)
    [ -n "$state" ] && break
    sleep 0.2
done
echo "the container's systemd: $state"
sh_in 'apt-get update -qq'

# What an install adds to this bare system: packages and megabytes.
measure() { # label apt-argument...
    local label=$1 plan size
    shift
    plan=$(in_container apt-get install -s "$@")
    # Only the question apt ends with says how much it would use.
    size=$(in_container apt-get install --assume-no "$@" 2>/dev/null |
        sed -n 's/^After this operation, \(.*\) of additional disk space.*/\1/p' || true)
    printf '%s: %s packages, %s\n' "$label" "$(grep -c '^Inst ' <<<"$plan")" "$size"
}
step "what installing pulls in"
measure "the single package of 0.1.0-1" /debs/casalux_0.1.0-1.deb
measure "casalux-engine" /debs/"$(basename "$engine_deb")"
measure "casalux-engine and casalux" /debs/"$(basename "$engine_deb")" /debs/"$(basename "$desktop_deb")"
count=$(in_container apt-get install -s /debs/"$(basename "$engine_deb")" | grep -c '^Inst ')
[ "$count" -le 80 ] || fail "casalux-engine pulls in $count packages, more than 80"

apt_install() { sh_in "apt-get install -y -qq $* >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; exit 1; }"; }

# Points the engine at the simulator, run in the container as casalux on a
# pseudo-terminal, and gives the pages a port of their own.
web_port=$((20000 + $$ % 20000))
start_engine_on_sim() {
    sh_in 'if [ -f /tmp/sim.pid ]; then kill "$(cat /tmp/sim.pid)" 2>/dev/null || true; fi
           rm -f /tmp/sim.log
           runuser -u casalux -- /usr/local/bin/cm11a-sim </dev/null >/tmp/sim.log 2>&1 &
           echo $! >/tmp/sim.pid
           for i in $(seq 50); do [ -s /tmp/sim.log ] && break; sleep 0.1; done'
    local device
    device=$(in_container head -n 1 /tmp/sim.log)
    [ -n "$device" ] || fail "the simulator did not start"
    mkdir -p "$run/etc/systemd/system/hearthcore.service.d"
    printf '%s\n' '[Service]' "Environment=CASALUX_SERIAL_1=$device" 'DeviceAllow=char-pts rw' \
        >"$run/etc/systemd/system/hearthcore.service.d/simulator.conf"
    printf '%s\r\n' '[Software]' 'Microsoft\Windows\Casalux\port=1' \
        "Microsoft\\Windows\\Casalux\\webport=$web_port" >"$run/var/lib/casalux/machine.ini"
    sh_in 'chown casalux:casalux /var/lib/casalux/machine.ini
           chmod 0660 /var/lib/casalux/machine.ini
           systemctl daemon-reload
           systemctl restart hearthcore.service'
}
get() { curl -s --max-time 5 "http://127.0.0.1:$web_port$1"; }
wait_page() {
    for _ in $(seq 100); do
        get /index.html >/dev/null && return 0
        sleep 0.3
    done
    fail "no page on port $web_port: $(in_container journalctl -u hearthcore --no-pager | tail -n 20)"
}
main_pid() { in_container systemctl show -P MainPID hearthcore.service; }

step "install casalux-engine alone"
apt_install /debs/"$(basename "$engine_deb")"
for lib in libqt6gui6 libqt6widgets6 libpocketsphinx3; do
    ! in_container dpkg -s "$lib" >/dev/null 2>&1 || fail "installing casalux-engine installed $lib"
done
sh_in 'systemctl is-enabled hearthcore.service >/dev/null' || fail "the service is not enabled"
[ "$(in_container stat -c '%a %U:%G' /var/lib/casalux)" = "2770 casalux:casalux" ] ||
    fail "the program folder is $(in_container stat -c '%a %U:%G' /var/lib/casalux)"
[ "$(in_container stat -c '%a %U:%G' /run/casalux)" = "2770 casalux:casalux" ] ||
    fail "/run/casalux is missing or open"

step "a headless home, set up from the shell"
# As a person would on a box with no screen: the engine runs without a port
# and says so on its pages; casaluxctl sets the port, a login, a room, a
# lamp and the hub; the lamp then switches from the page and from MQTT.
sh_in 'useradd -m member && usermod -aG casalux member'
ctl() { in_container runuser -u member -- casaluxctl "$@"; }
ctl webport "$web_port" >/dev/null || fail "casaluxctl webport"
wait_page
get /index.html | grep -q 'No X10 interface found yet' ||
    fail "no set-up notice on the page: $(get /index.html | head -c 400)"
# The unit lets the engine open serial adapters; the simulator's terminal
# is a pseudo-terminal, which a drop-in allows.
mkdir -p "$run/etc/systemd/system/hearthcore.service.d"
printf '%s\n' '[Service]' 'DeviceAllow=char-pts rw' \
    >"$run/etc/systemd/system/hearthcore.service.d/simulator.conf"
sh_in 'systemctl daemon-reload && systemctl restart hearthcore.service
       runuser -u casalux -- /usr/local/bin/cm11a-sim </dev/null >/tmp/sim.log 2>&1 &
       echo $! >/tmp/sim.pid
       for i in $(seq 50); do [ -s /tmp/sim.log ] && break; sleep 0.1; done'
device=$(in_container head -n 1 /tmp/sim.log)
[ -n "$device" ] || fail "the simulator did not start"
wait_page
ctl port "$device" >/dev/null || fail "casaluxctl port $device"
echo 'a secret' | ctl login admin --password-stdin >/dev/null || fail "casaluxctl login"
ctl room add Lounge >/dev/null || fail "casaluxctl room add"
ctl device add Lounge Lamp A3 bulb >/dev/null || fail "casaluxctl device add"
auth_get() { curl -s --max-time 5 -u 'admin:a secret' "http://127.0.0.1:$web_port$1"; }
for _ in $(seq 50); do
    auth_get /index.html | grep -q 'No X10 interface found yet' || break
    sleep 0.3
done
[ "$(curl -s -o /dev/null -w '%{http_code}' --max-time 5 \
    "http://127.0.0.1:$web_port/index.html?A~3~LoungeLamp~turnon~Lounge")" = 401 ] ||
    fail "the page switched without the login"
auth_get '/index.html?A~3~LoungeLamp~turnon~Lounge' >/dev/null
for _ in $(seq 50); do
    in_container grep -q 'A3 ON' /tmp/sim.log && break
    sleep 0.2
done
in_container grep -q 'A3 ON' /tmp/sim.log ||
    fail "the lamp was not switched on from the page: $(in_container journalctl -u hearthcore --no-pager | tail -n 20)"
apt_install mosquitto-clients mosquitto
mqtt_port=$((web_port + 1))
sh_in "systemctl stop mosquitto.service 2>/dev/null || true
       runuser -u mosquitto -- mosquitto -p $mqtt_port -d"
ctl mqtt port "$mqtt_port" >/dev/null || fail "casaluxctl mqtt port"
ctl mqtt host 127.0.0.1 >/dev/null || fail "casaluxctl mqtt host"
# A set sent before the engine subscribes is lost, as with any MQTT client:
# it is sent again until the lamp follows.
for _ in $(seq 30); do
    in_container mosquitto_pub -h 127.0.0.1 -p "$mqtt_port" -t casalux/LoungeLamp/set -m OFF || true
    in_container grep -q 'A3 OFF' /tmp/sim.log && break
    sleep 1
done
in_container grep -q 'A3 OFF' /tmp/sim.log ||
    fail "the lamp was not switched off from MQTT: $(in_container journalctl -u hearthcore --no-pager | tail -n 20)"
ctl login --clear >/dev/null || fail "casaluxctl login --clear"
ctl mqtt host '' >/dev/null || true
echo "set up from the shell: switched from the page with the login and from MQTT"

step "the service on the simulator"
start_engine_on_sim
wait_page
[ "$(in_container stat -c %U "/proc/$(main_pid)")" = casalux ] || fail "the engine does not run as casalux"
exposure=$(in_container systemd-analyze security hearthcore.service |
    sed -n 's/.*Overall exposure level for hearthcore.service: \([0-9.]*\).*/\1/p')
echo "live exposure $exposure (at most 3.0)"
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 3.0) }' || fail "exposure '$exposure'"
get '/index.html' | grep -q '<' || fail "the page is empty"
printf '%s\r\n' 'Den~~~' 'Den~Lamp~A~3' >"$run/var/lib/casalux/rmlst.rvf"
chmod 0660 "$run/var/lib/casalux/rmlst.rvf"
get '/index.html?A~3~DenLamp~turnon~Den' >/dev/null
for _ in $(seq 50); do
    in_container grep -q 'A3 ON' /tmp/sim.log && break
    sleep 0.2
done
in_container grep -q 'A3 ON' /tmp/sim.log || fail "the lamp was not switched on"
echo "page served, lamp switched on, as user casalux"

step "restart after kill -9"
before=$(main_pid)
in_container sh -c "kill -9 $before"
for _ in $(seq 60); do
    now=$(main_pid)
    [ "$now" != 0 ] && [ "$now" != "$before" ] && break
    sleep 0.5
done
[ "$now" != 0 ] && [ "$now" != "$before" ] || fail "the engine was not restarted"
echo "restarted as $now"
# The simulator keeps its terminal open, so the killed engine's exclusive
# hold on it outlives the engine (a real port is released): a new one.
start_engine_on_sim
wait_page

step "polkit and the program folder, for a member and for another user"
sh_in 'useradd -m other'
in_container runuser -u member -- systemctl restart hearthcore.service ||
    fail "a member of casalux may not restart the service"
! in_container runuser -u other -- systemctl restart hearthcore.service 2>/dev/null ||
    fail "a user outside casalux restarted the service"
wait_page
# A lamp switched from a page: the engine rewrites machine.ini.
get '/index.html?A~3~DenLamp~turnoff~Den' >/dev/null
for _ in $(seq 50); do
    in_container grep -q 'A3 OFF' /tmp/sim.log && break
    sleep 0.2
done
# What this script wrote is 0660 too; the rest was seeded or made by the
# package and the engine.
open=$(in_container find /var/lib/casalux -type f ! -perm 660)
[ -z "$open" ] || fail "files in the program folder not 0660: $open"
in_container runuser -u member -- grep -q webport /var/lib/casalux/machine.ini ||
    fail "a member cannot read machine.ini"
! in_container runuser -u other -- cat /var/lib/casalux/machine.ini >/dev/null 2>&1 ||
    fail "a user outside casalux reads machine.ini"
! in_container runuser -u other -- ls /var/lib/casalux >/dev/null 2>&1 ||
    fail "a user outside casalux lists the program folder"
[ -z "$(in_container find /var/lib/casalux -name '*.conf')" ] || fail "settings files in the program folder"
echo "members restart it and read the folder; others neither"

step "the desktop program, remove, purge, reinstall"
apt_install /debs/"$(basename "$desktop_deb")"
in_container test -x /usr/bin/casalux || fail "no desktop program"
apt_install_remove() { sh_in "apt-get $* -y -qq casalux-engine >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; exit 1; }"; }
apt_install_remove remove
! in_container dpkg -s casalux >/dev/null 2>&1 || fail "removing the engine left the desktop program"
in_container test -f /var/lib/casalux/rmlst.rvf || fail "remove lost the lists"
[ "$(main_pid)" = 0 ] || fail "the engine still runs after remove"
apt_install_remove purge
in_container test ! -e /var/lib/casalux || fail "purge left /var/lib/casalux"
in_container test ! -e /run/casalux || fail "purge left /run/casalux"
apt_install /debs/"$(basename "$engine_deb")"
start_engine_on_sim
wait_page
echo "removed, purged and installed again"
apt_install_remove purge

step "upgrade from the single package of 0.1.0-1"
apt_install /debs/casalux_0.1.0-1.deb
start_engine_on_sim
wait_page
[ "$(in_container stat -c %a /var/lib/casalux)" = 2775 ] || fail "0.1.0-1 did not make an open folder"
# A list and a setting of the user's, written while the engine is stopped.
in_container systemctl stop hearthcore.service
printf '%s\r\n' 'Den~~~' 'Den~Lamp~A~3' >"$run/var/lib/casalux/rmlst.rvf"
printf '%s\r\n' 'Microsoft\Windows\Casalux\lastroom=Den' >>"$run/var/lib/casalux/machine.ini"
in_container systemctl start hearthcore.service
wait_page
apt_install /debs/"$(basename "$engine_deb")" /debs/"$(basename "$desktop_deb")"
[ "$(in_container dpkg-query -W -f='${Version}' casalux)" = "$(dpkg-deb -f "$desktop_deb" Version)" ] ||
    fail "casalux was not upgraded"
[ "$(in_container stat -c %a /var/lib/casalux)" = 2770 ] || fail "the upgrade left the folder open"
in_container grep -q 'Den~Lamp~A~3' /var/lib/casalux/rmlst.rvf || fail "the upgrade lost the lists"
in_container grep -q 'lastroom=Den' /var/lib/casalux/machine.ini || fail "the upgrade lost the settings"
in_container test -f /var/lib/casalux/hearthcore.enabled || fail "the upgrade lost hearthcore.enabled"
sh_in 'systemctl is-enabled hearthcore.service >/dev/null' || fail "the upgrade disabled the service"
wait_page
exe=$(in_container readlink "/proc/$(main_pid)/exe")
[ "$exe" = /usr/bin/hearthcore ] || fail "after the upgrade the engine runs $exe"
echo "folder, lists, settings and the enabled service kept; the folder closed"

echo "check-install: all checks passed in $((SECONDS - started)) s"
