#!/usr/bin/env bash
# Runs a command in a network namespace of its own (loopback only), so that tests
# which start a service on the fixed port can run side by side.
set -euo pipefail
if [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
  exec unshare -n bash -c 'ip link set lo up && exec "$@"' isolated "$@"
fi
exec "$@"
