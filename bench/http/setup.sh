#!/usr/bin/env bash
# Installs what the HTTP benchmark needs besides the build: nginx (the peer
# it is measured against) and ab from apache2-utils (the load generator).
# As root it runs apt-get; otherwise it prints the line to run.
set -euo pipefail

packages=(nginx-light apache2-utils python3)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

line="apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    echo "The HTTP benchmark needs these Debian packages: ${missing[*]}" >&2
    echo "Run as root:  apt-get update && $line" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# The package starts a system nginx on port 80; the benchmark runs its own.
if command -v systemctl >/dev/null && systemctl is-active --quiet nginx 2>/dev/null; then
    systemctl stop nginx || true
fi
