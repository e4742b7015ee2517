#!/usr/bin/env bash
# Checks the Debian packages made by scripts/package.sh: what each package
# holds, that the engine's programs need no desktop or speech library,
# lintian, the desktop entry, the AppStream metadata, the service unit
# (syntax and exposure), the polkit rule, and the unpacked engine serving a
# room page and switching a lamp on the CM11A simulator, on a folder seeded
# the way the package seeds it. A check whose tool is missing says so and
# is skipped; any other failure ends the script.
#
#   scripts/check-package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:-build}
max_exposure=3.0
one_deb() { # name
    local debs=("$dir"/packages/"$1"_*.deb)
    if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
        echo "check-package: expected one $1_*.deb in $dir/packages (run scripts/package.sh)" >&2
        exit 1
    fi
    echo "${debs[0]}"
}
engine_deb=$(one_deb casalux-engine)
desktop_deb=$(one_deb casalux)

# shellcheck source=scripts/sim.sh
. scripts/sim.sh
use_workdir
fail() {
    echo "check-package: FAIL: $*" >&2
    exit 1
}
skip() {
    echo "check-package: SKIP: $*"
}
have() { command -v "$1" >/dev/null; }

echo "== contents =="
holds() { # deb file...
    local deb=$1 listing
    shift
    listing=$(dpkg-deb -c "$deb" | awk '{ print $NF }' | sed 's|^\./|/|')
    for f in "$@"; do
        grep -qxF "$f" <<<"$listing" || fail "$(basename "$deb") lacks $f"
    done
}
holds "$engine_deb" /usr/bin/hearthcore /usr/bin/casaluxctl /lib/systemd/system/hearthcore.service \
    /usr/lib/tmpfiles.d/casalux.conf /usr/share/polkit-1/rules.d/50-casalux.rules \
    /lib/udev/rules.d/70-casalux-serial.rules /usr/libexec/casalux/seed-folder \
    /usr/share/casalux/html/index.html /usr/share/man/man1/hearthcore.1.gz \
    /usr/share/man/man1/casaluxctl.1.gz /usr/share/doc/casalux-engine/copyright
holds "$desktop_deb" /usr/bin/casalux /usr/share/applications/org.casalux.Casalux.desktop \
    /usr/share/metainfo/org.casalux.Casalux.metainfo.xml \
    /usr/share/icons/hicolor/scalable/apps/org.casalux.Casalux.svg \
    /usr/share/icons/hicolor/48x48/apps/org.casalux.Casalux.png \
    /usr/share/man/man1/casalux.1.gz /usr/share/doc/casalux/copyright
grep -q "^License: GPL-3+" <(dpkg-deb --fsys-tarfile "$engine_deb" |
    tar -xOf - ./usr/share/doc/casalux-engine/copyright) || fail "the copyright file does not say GPL-3+"
dpkg-deb -f "$desktop_deb" Depends | grep -q "casalux-engine (= $(dpkg-deb -f "$engine_deb" Version))" ||
    fail "casalux does not depend on casalux-engine of its own version"
echo "each package holds its part"

root=$work/root
dpkg-deb -x "$engine_deb" "$root"

echo "== no desktop or speech library for the engine =="
# What a box without a screen would have to install for the engine.
desktop_libs='libQt6(Gui|Widgets|OpenGL|DBus)|libpocketsphinx|libsphinxbase|libGL|libEGL|libX|libxcb|libxkb'
for program in hearthcore casaluxctl; do
    needed=$(readelf -d "$root/usr/bin/$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    [ -n "$needed" ] || fail "no NEEDED entries in $program"
    if bad=$(grep -E "^($desktop_libs)" <<<"$needed"); then
        fail "$program needs $(tr '\n' ' ' <<<"$bad")"
    fi
done
if bad=$(dpkg-deb -f "$engine_deb" Depends Recommends | grep -oE 'libqt6(gui|widgets|opengl)6|libpocketsphinx[0-9]*|pocketsphinx-en-us|qt6-qpa-plugins'); then
    fail "casalux-engine depends on $(tr '\n' ' ' <<<"$bad")"
fi
echo "hearthcore and casaluxctl need neither Qt Gui/Widgets nor pocketsphinx"

echo "== lintian =="
if have lintian; then
    # Every tag down to the pedantic ones; what is left is overridden in
    # debian/*.lintian-overrides, each with its reason.
    lintian --pedantic -I --fail-on error,warning,info,pedantic "$dir"/packages/*.deb ||
        fail "lintian reports tags"
else
    skip "lintian is not installed (Debian package lintian)"
fi

dpkg-deb -x "$desktop_deb" "$work/desktop"
unit=$root/lib/systemd/system/hearthcore.service
desktop=$work/desktop/usr/share/applications/org.casalux.Casalux.desktop
metainfo=$work/desktop/usr/share/metainfo/org.casalux.Casalux.metainfo.xml

echo "== desktop entry =="
if have desktop-file-validate; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
else
    skip "desktop-file-validate is not installed (Debian package desktop-file-utils)"
fi

echo "== AppStream metadata =="
if have appstreamcli; then
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
else
    skip "appstreamcli is not installed (Debian package appstream)"
fi

echo "== service unit =="
if have systemd-analyze; then
    # verify looks for the program at its installed place, so a copy that
    # differs only in that path is checked against the unpacked tree. It
    # only warns about unknown keys: any message counts as a failure.
    mkdir "$work/unit"
    sed "s|^ExecStart=/|ExecStart=$root/|" "$unit" >"$work/unit/hearthcore.service"
    messages=$(MANPATH=$root/usr/share/man systemd-analyze verify "$work/unit/hearthcore.service" 2>&1) ||
        fail "systemd-analyze verify: $messages"
    [ -z "$messages" ] || fail "systemd-analyze verify: $messages"
    report=$(systemd-analyze security --offline=true --root="$root" hearthcore.service 2>&1) ||
        fail "systemd-analyze security: $report"
    exposure=$(sed -n 's/.*Overall exposure level for hearthcore.service: \([0-9.]*\).*/\1/p' <<<"$report")
    [ -n "$exposure" ] || fail "no exposure level in: $report"
    echo "exposure $exposure (at most $max_exposure)"
    awk -v e="$exposure" -v m="$max_exposure" 'BEGIN { exit !(e <= m) }' ||
        fail "exposure $exposure is above $max_exposure"
else
    skip "systemd-analyze is not installed (Debian package systemd)"
fi

echo "== polkit rule =="
if have node; then
    # The rule under a stand-in polkit: members of casalux may start, stop
    # and restart this one unit; everything else is left to polkit's default.
    node - "$root/usr/share/polkit-1/rules.d/50-casalux.rules" <<'JS' || fail "polkit rule"
const rules = [];
const polkit = { Result: { YES: "yes", NO: "no" }, addRule: (rule) => rules.push(rule) };
eval(require("fs").readFileSync(process.argv[2], "utf8"));
function ask(id, unit, verb, groups) {
    const action = { id, lookup: (key) => ({ unit, verb })[key] };
    const subject = { isInGroup: (group) => groups.includes(group) };
    for (const rule of rules) {
        const answer = rule(action, subject);
        if (answer !== undefined) return answer;
    }
    return "default";
}
const units = "org.freedesktop.systemd1.manage-units";
const cases = [
    [units, "hearthcore.service", "start", ["casalux"], "yes"],
    [units, "hearthcore.service", "stop", ["users", "casalux"], "yes"],
    [units, "hearthcore.service", "restart", ["casalux"], "yes"],
    [units, "hearthcore.service", "start", ["users"], "default"],
    [units, "ssh.service", "stop", ["casalux"], "default"],
    [units, "hearthcore.service", "kill", ["casalux"], "default"],
    ["org.freedesktop.systemd1.manage-unit-files", undefined, undefined, ["casalux"], "default"],
];
let bad = 0;
for (const [id, unit, verb, groups, want] of cases) {
    const got = ask(id, unit, verb, groups);
    if (got !== want) {
        console.error(`${id} ${unit} ${verb} for ${groups}: ${got}, expected ${want}`);
        bad++;
    }
}
process.exit(bad ? 1 : 0);
JS
    echo "the rule grants start, stop and restart of hearthcore.service to casalux only"
else
    skip "node is not installed (Debian package nodejs): the polkit rule is not checked"
fi

echo "== the unpacked engine on the simulator =="
# The programs find Servlane through their RUNPATH at its installed place.
triplet=$(find "$root/usr/lib" -name 'libservlane.so.*' -printf '%h\n' | head -n 1)
[ -n "$triplet" ] || fail "no libservlane.so.* in the package"
runpath=$(readelf -d "$root/usr/bin/hearthcore" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
[ "$runpath" = "${triplet#"$root"}" ] || fail "hearthcore's RUNPATH is '$runpath', not ${triplet#"$root"}"

home=$work/home
"$root/usr/libexec/casalux/seed-folder" "$root/usr/share/casalux" "$home"
[ "$(stat -c %a "$home")" = 2770 ] ||
    fail "the seeded folder is not setgid, group-writable and closed to others"
[ "$(stat -c %a "$home/html/index.html")" = 660 ] || fail "a seeded file is not 0660"
cmp -s "$home/html/index.html" "$root/usr/share/casalux/html/index.html" ||
    fail "seeding did not copy the pages"
# Seeding again (an upgrade) replaces nothing the user changed.
printf 'Den~~~\r\nDen~Lamp~A~3\r\n' >"$home/rmlst.rvf"
printf '<body><h1><room></h1>%s\r\n' '<p>mine</p><p><dev0></p>' >"$home/html/index.html"
rm "$home/html/bulbon.gif"
chmod 2775 "$home" # as earlier versions left it
"$root/usr/libexec/casalux/seed-folder" "$root/usr/share/casalux" "$home"
[ "$(stat -c %a "$home")" = 2770 ] || fail "seeding again did not close the folder to others"
grep -q mine "$home/html/index.html" || fail "seeding again replaced an edited page"
[ -f "$home/html/bulbon.gif" ] || fail "seeding again did not restore a missing picture"
cp "$root/usr/share/casalux/html/index.html" "$home/html/index.html"

web_port=$((20000 + $$ % 20000))
printf '%s\n' '[Software]' 'Microsoft\Windows\Casalux\port=1' \
    "Microsoft\\Windows\\Casalux\\webport=$web_port" >"$home/machine.ini"
chmod 0660 "$home/machine.ini" "$home/rmlst.rvf" "$home/html/index.html"

start_sim "$dir/tools/cm11a-sim/cm11a-sim" "$work/sim.log"
pids+=("$sim_pid")
# As the service runs it: the program folder is its home, under a umask
# that leaves files readable by others.
(umask 0022 && cd "$home" && env -u XDG_CONFIG_HOME HOME="$home" LD_LIBRARY_PATH="$triplet" \
    CASALUX_SERIAL_1="$sim_device" "$root/usr/bin/hearthcore" --home "$home") >"$work/engine.log" 2>&1 &
pids+=($!)

get() { curl -s --max-time 10 "http://127.0.0.1:$web_port$1"; }
for _ in $(seq 150); do
    get /index.html >/dev/null && break
    sleep 0.2
done
page=$(get '/index.html?loadroomDen') || fail "no page on port $web_port: $(cat "$work/engine.log")"
grep -q 'index.html?A~3~DenLamp~turnon~Den' <<<"$page" || fail "the room page lacks the lamp: $page"
get '/index.html?A~3~DenLamp~turnon~Den' >/dev/null || fail "the lamp's link was not answered"
for _ in $(seq 50); do
    grep -q 'A3 ON' "$work/sim.log" && break
    sleep 0.2
done
grep -q 'A3 ON' "$work/sim.log" || fail "the simulator never switched A3 on: $(cat "$work/sim.log")"
echo "the room page was served and the lamp switched on"
# What this script wrote itself is 0660 too; anything else was seeded or
# made by the engine.
open=$(find "$home" -type f ! -perm 660)
[ -z "$open" ] || fail "files in the program folder not 0660: $open"
strays=$(find "$home" -name '*.conf' -o -name .config)
[ -z "$strays" ] || fail "the engine wrote settings of its own into the program folder: $strays"
echo "the engine's files are closed to others and it keeps no settings file of its own"
echo "check-package: all checks passed"
