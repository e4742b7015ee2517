#!/usr/bin/env bash
# Builds the Debian package from a build folder (default build/, configured
# here when it does not exist yet) and prints the path of each .deb it made
# as its last lines.
#
#   scripts/package.sh [BUILD_DIR]
#   sudo apt install ./build/packages/casalux_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
dir=${1:-build}
jobs=$(nproc 2>/dev/null || echo 2)

# The package's layout is under /usr; a build folder configured before that
# was the default is moved there (only the paths compiled in change).
if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake -S . -B "$dir" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$dir" --parallel "$jobs" --target casalux hearthcore casaluxctl casalux_docs
out=$PWD/$dir/packages
rm -f "$out"/*.deb
(cd "$dir" && cpack -G DEB --config CPackConfig.cmake >/dev/null)
ls "$out"/*.deb
