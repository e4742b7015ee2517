#!/usr/bin/env bash
# Installs what the HTTP benchmark needs besides the build: nginx (the peer
# it is measured against), ab from apache2-utils (the load generator) and
# GNU time (how busy ab was).
# As root it runs apt-get; otherwise it prints the line to run.
set -euo pipefail
cd "$(dirname "$0")/../.."

had_nginx=0
dpkg-query -W -f='${Status}' nginx-light 2>/dev/null | grep -q "install ok installed" && had_nginx=1
scripts/setup.sh --for "The HTTP benchmark" nginx-light apache2-utils python3 time
# A fresh package starts a system nginx on port 80; the benchmark runs its own.
if [ "$had_nginx" = 0 ] && command -v systemctl >/dev/null &&
    systemctl is-active --quiet nginx 2>/dev/null; then
    systemctl stop nginx || true
fi
