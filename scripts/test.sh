#!/usr/bin/env bash
# Builds everything and runs every test: once as a normal build with warnings
# as errors, then packages that build and checks the package, then once more
# under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCASALUX_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" --parallel "$jobs"
    ctest --test-dir "$dir" --output-on-failure --parallel "$jobs"
}

echo "== Build and test =="
run_suite build
echo "== Debian package =="
scripts/package.sh build
scripts/check-package.sh build
echo "== Build and test with AddressSanitizer + UndefinedBehaviorSanitizer =="
run_suite build-asan -DCASALUX_SANITIZE=ON
