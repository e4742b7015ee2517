#!/usr/bin/env bash
# Seeds a program folder with a small sample home: three rooms, six devices,
# an event a minute from now and one two minutes from now, a sunset event,
# the remote-control pages, and the interface on port 1.
#
#   scripts/seed-home.sh FOLDER [WEB_PORT]
# Rooms, devices and events already there are kept.
set -euo pipefail
cd "$(dirname "$0")/.."
home=${1:?usage: seed-home.sh FOLDER [WEB_PORT]}
web_port=${2:-8088}

mkdir -p "$home/config/Casalux"
cp -r html "$home/"
if [ ! -e "$home/rmlst.rvf" ]; then
    printf '%s\r\n' \
        'Lounge~~~' 'Lounge~Lamp~A~1' 'Lounge~Fan~A~2' 'Lounge~Radio~A~3' \
        'Kitchen~~~' 'Kitchen~Ceiling~B~1' 'Kitchen~Kettle~B~2' \
        'Hall~~~' 'Hall~Light~C~1' >"$home/rmlst.rvf"
    printf '%s\n' '[type]' 'LoungeLamp=bulb' 'LoungeFan=fan' 'LoungeRadio=radio' \
        'KitchenCeiling=bulb2' 'KitchenKettle=switch' 'HallLight=bulb' \
        >"$home/config/Casalux/casalux.ini"
    on_at=$(date -d '+1 minute' +%H:%M)
    off_at=$(date -d '+2 minutes' +%H:%M)
    printf '%s\r\n' \
        "Hall Light~C~1~100~$on_at~on~daily~mtwufsr" \
        "Hall Light~C~1~ ~$off_at~off~daily~mtwufsr" \
        'Lounge Lamp~A~1~100~sSet:-1~on~daily~mtwufsr' >"$home/evelst.rvf"
    printf '%s\r\n' 'When~A1~Lounge~Lamp~turns~on~Turn~On~C1~Hall~Light' >"$home/macs.hlk"
fi
# The interface on port 1, the pages on the given port.
printf '%s\n' '[Software]' 'Microsoft\Windows\Casalux\port=1' \
    "Microsoft\\Windows\\Casalux\\webport=$web_port" >"$home/machine.ini"
