#!/usr/bin/env bash
# Builds the Debian packages with dpkg-buildpackage (Debian's build flags,
# stripping, dpkg-shlibdeps, debug-symbol packages) from a copy of the
# sources in BUILD_DIR/deb (default build/deb), and prints the path of each
# .deb it made as its last lines. The packages build only what they ship;
# the tests run in scripts/test.sh.
#
#   scripts/package.sh [BUILD_DIR]
#   sudo apt install ./build/packages/casalux-engine_*.deb      # engine only
#   sudo apt install ./build/packages/casalux*_*.deb            # with the desktop program
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
dir=${1:-build}
jobs=$(nproc 2>/dev/null || echo 2)
work=$PWD/$dir/deb
out=$PWD/$dir/packages

# dpkg-buildpackage builds in the source tree and leaves its results beside
# it, so it works on a copy: the sources git knows of (also new ones not yet
# committed), or everything but the build folders outside a git checkout.
rm -rf "$work"
mkdir -p "$work/src" "$out"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
        tar --null -T - -cf - | tar -xf - -C "$work/src"
else
    tar --exclude='./build*' --exclude=./.git -cf - . | tar -xf - -C "$work/src"
fi

log=$work/build.log
echo "dpkg-buildpackage (log: $log)"
if ! (cd "$work/src" &&
    DEB_BUILD_OPTIONS="nocheck parallel=$jobs${DEB_BUILD_OPTIONS:+ $DEB_BUILD_OPTIONS}" \
        dpkg-buildpackage -b -us -uc) >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "package: dpkg-buildpackage failed (log: $log)" >&2
    exit 1
fi
rm -f "$out"/*.deb
mv "$work"/*.deb "$out"/
ls "$out"/*.deb
