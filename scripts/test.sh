#!/usr/bin/env bash
# Sets up a fresh machine, builds with warnings as errors, and runs every test
# (the test run starts and stops its own private database server).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRESTORE_WERROR=ON >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --timeout 300 -j2
