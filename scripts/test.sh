#!/usr/bin/env bash
# Sets up a Debian 12 machine (packages installed only when missing), builds, and
# runs every test: unit, end to end under Xvfb, the library service's, the fuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j2 "$@"
