#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, if any are
# missing. As root it runs apt-get; otherwise it prints the line to run.
#
#   scripts/setup.sh                          # what the build and tests need
#   scripts/setup.sh --for WHAT PACKAGE...    # other packages (e.g. a benchmark's)
set -euo pipefail

who="Casalux"
packages=(
    cmake g++ ninja-build pkg-config
    qt6-base-dev qt6-serialport-dev qcoro-qt6-dev
    curl
    chromium qt6-websockets-dev
    libpocketsphinx-dev pocketsphinx-en-us flite sox
    dpkg-dev debhelper fakeroot file lintian desktop-file-utils appstream systemd nodejs
    libmosquitto-dev mosquitto mosquitto-clients
)
if [ "${1:-}" = "--for" ]; then
    who=$2
    shift 2
    packages=("$@")
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

line="apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    echo "$who needs these Debian packages: ${missing[*]}" >&2
    echo "Run as root:  apt-get update && $line" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
