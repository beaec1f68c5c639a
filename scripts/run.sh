#!/usr/bin/env bash
# Sets up a Debian 12 machine (packages installed only when missing), builds, and
# launches Brindlemar with its bundled library service.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target brindlemar brindlemar-page-bridge
exec build/bin/brindlemar
