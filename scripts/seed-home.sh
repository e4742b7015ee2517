#!/usr/bin/env bash
# Seeds a program folder with a small sample home: three rooms, six devices,
# an event a minute from now and one two minutes from now, a sunset event,
# the remote-control pages, and the interface on port 1.
#
#   scripts/seed-home.sh FOLDER [WEB_PORT]
#   scripts/seed-home.sh --types-to INI_FILE
#
# Nothing already in the folder is replaced: an existing machine.ini, room
# and device list, event list, macro list or page is left as it is, so the
# script is safe to run on a folder in use. The device kinds of the sample
# go to FOLDER/config/Casalux/casalux.ini (for programs run with
# XDG_CONFIG_HOME=FOLDER/config); --types-to adds those a user's own
# settings file does not have yet, and changes nothing else in it.
set -euo pipefail
cd "$(dirname "$0")/.."

sample_types=(LoungeLamp=bulb LoungeFan=fan LoungeRadio=radio KitchenCeiling=bulb2
    KitchenKettle=switch HallLight=bulb)

# Adds the sample's device kinds missing from the [type] group of an INI file.
add_types() {
    local file=$1 line key missing=()
    mkdir -p "$(dirname "$file")"
    touch "$file"
    for line in "${sample_types[@]}"; do
        key=${line%%=*}
        if ! awk -v key="$key" '/^\[/ { group = $0 } group == "[type]" && index($0, key "=") == 1 { found = 1 } END { exit !found }' "$file"; then
            missing+=("$line")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if grep -qx '\[type\]' "$file"; then
        local tmp
        tmp=$(mktemp "$file.XXXXXX")
        ADD=$(printf '%s\n' "${missing[@]}") awk '{ print } $0 == "[type]" { printf "%s\n", ENVIRON["ADD"] }' \
            "$file" >"$tmp"
        mv "$tmp" "$file"
    else
        { [ -s "$file" ] && echo; echo '[type]'; printf '%s\n' "${missing[@]}"; } >>"$file"
    fi
}

if [ "${1:-}" = --types-to ]; then
    add_types "${2:?usage: seed-home.sh --types-to INI_FILE}"
    exit 0
fi

home=${1:?usage: seed-home.sh FOLDER [WEB_PORT]}
web_port=${2:-8088}

# Writes standard input to a file of the folder unless it is there already.
seed() {
    if [ -e "$home/$1" ]; then
        cat >/dev/null
        echo "seed-home: $home/$1 is there already; left as it is" >&2
    else
        cat >"$home/$1"
    fi
}

mkdir -p "$home"
cp -rn html "$home/"
if [ ! -e "$home/rmlst.rvf" ]; then
    printf '%s\r\n' \
        'Lounge~~~' 'Lounge~Lamp~A~1' 'Lounge~Fan~A~2' 'Lounge~Radio~A~3' \
        'Kitchen~~~' 'Kitchen~Ceiling~B~1' 'Kitchen~Kettle~B~2' \
        'Hall~~~' 'Hall~Light~C~1' | seed rmlst.rvf
    add_types "$home/config/Casalux/casalux.ini"
    on_at=$(date -d '+1 minute' +%H:%M)
    off_at=$(date -d '+2 minutes' +%H:%M)
    printf '%s\r\n' \
        "Hall Light~C~1~100~$on_at~on~daily~mtwufsr" \
        "Hall Light~C~1~ ~$off_at~off~daily~mtwufsr" \
        'Lounge Lamp~A~1~100~sSet:-1~on~daily~mtwufsr' | seed evelst.rvf
    printf '%s\r\n' 'When~A1~Lounge~Lamp~turns~on~Turn~On~C1~Hall~Light' | seed macs.hlk
fi
# The interface on port 1, the pages on the given port.
printf '%s\n' '[Software]' 'Microsoft\Windows\Casalux\port=1' \
    "Microsoft\\Windows\\Casalux\\webport=$web_port" | seed machine.ini
