#!/usr/bin/env bash
# Runs a command in a network namespace of its own (loopback only), so that tests
# which start a service on the fixed port 47874 can run side by side.
#
# Root makes the namespace directly. A normal user makes it inside a user namespace of
# its own, where it is root just long enough to bring the loopback up, and then runs
# the command as itself again (a nested user namespace maps it back to its own ids).
# Where the kernel allows neither, the command runs in the shared namespace, but only
# while it holds a lock on the port, so two such commands never meet there.
#
# With BRINDLEMAR_PORT_LOG set to a directory, one line per run is appended there:
# the network namespace, start and end (seconds since the epoch) and the command, so
# that the test suite can check that no two runs shared the port's namespace at once.
set -euo pipefail

if [ "${1:-}" = --inside ]; then
  # Second stage, in the namespace the command will run in.
  shift
  if [ -z "${BRINDLEMAR_PORT_LOG:-}" ]; then exec "$@"; fi
  mkdir -p "$BRINDLEMAR_PORT_LOG"
  namespace=$(readlink /proc/self/ns/net)
  start=$(date +%s.%N)
  status=0
  "$@" || status=$?
  printf '%s %s %s %s\n' "$namespace" "$start" "$(date +%s.%N)" "$*" \
    >>"$BRINDLEMAR_PORT_LOG/runs-$$-$RANDOM.txt"
  exit "$status"
fi

# BRINDLEMAR_SHARED_NETWORK=1 skips the namespaces (to try the fallback).
# "run-isolated.sh --probe" only says whether a namespace can be had (exit status).
self=$(readlink -f "$0")
mode=
if [ -z "${BRINDLEMAR_SHARED_NETWORK:-}" ]; then
  if [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
    mode=root
  elif unshare -rn bash -c 'ip link set lo up' 2>/dev/null; then
    mode=user
  fi
fi
if [ "${1:-}" = --probe ]; then [ -n "$mode" ]; exit; fi

if [ "$mode" = root ]; then
  exec unshare -n bash -c 'ip link set lo up && exec "$@"' isolated "$self" --inside "$@"
fi
if [ "$mode" = user ]; then
  exec unshare -rn bash -c 'ip link set lo up &&
    exec unshare --map-user="$1" --map-group="$2" "${@:3}"' isolated "$(id -u)" "$(id -g)" \
    "$self" --inside "$@"
fi

# No namespace to be had: wait for the port. The lock is held here, not handed down,
# so that nothing the command leaves behind can keep it.
lock="${TMPDIR:-/tmp}/brindlemar-port-47874.lock"
{ exec 9>>"$lock"; } 2>/dev/null || exec 9<"$lock"
flock 9
"$self" --inside "$@" 9>&-
