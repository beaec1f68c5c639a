#!/usr/bin/env bash
# Runs a GoogleTest executable as SHARDS processes side by side, each with its share
# of the selected cases (GoogleTest's own sharding), and fails when any of them fails.
# The player tests mostly wait for media to play in real time, so running shards side
# by side shortens them without loading the machine.
# Usage: run-shards.sh SHARDS EXECUTABLE [ARGUMENTS...]
set -uo pipefail
shards=$1
shift
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
pids=()
for ((i = 0; i < shards; i++)); do
  GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$i "$@" >"$dir/$i.log" 2>&1 &
  pids+=($!)
done
status=0
for ((i = 0; i < shards; i++)); do
  wait "${pids[$i]}" || status=1
done
for ((i = 0; i < shards; i++)); do
  echo "---- shard $((i + 1)) of $shards"
  cat "$dir/$i.log"
done
exit $status
