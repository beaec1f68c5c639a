#!/usr/bin/env bash
# Runs each fuzzer from its seed corpus (and an empty working corpus) to a million
# inputs, and prints what it did: inputs run, coverage reached, peak memory, time.
# By hand, after a build:  tests/bench/fuzz_million.sh build [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
runs=${2:-1000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in page_message url; do
  log="$work/$target.log"
  start=$SECONDS
  if FUZZ_CORPUS="$work/$target" "$here/../fuzz/run-fuzz.sh" "$build" "$target" 0 -runs="$runs" \
      >"$log" 2>&1; then result=ok; else result="FAILED (see below)"; status=1; fi
  seconds=$((SECONDS - start))
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  peak=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
  # A fuzzer that did not build or crashed has no DONE line: the figures are then "?".
  final=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$final")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$final")
  corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9a-zA-Z]*\).*/\1/p' <<<"$final")
  printf '%-13s %s\n' "$target" "$result"
  printf '  inputs run    %12s   (anchor: at least %s, no crash)\n' "${executed:-?}" "$runs"
  printf '  coverage      %12s   edges; %s features; corpus %s inputs/bytes\n' "${cov:-?}" "${ft:-?}" "${corp:-?}"
  printf '  peak memory   %12s   MB resident (AddressSanitizer included)\n' "${peak:-?}"
  printf '  wall time     %12s   s, build of the fuzzer included\n' "$seconds"
  if [ "$result" != ok ]; then tail -40 "$log"; fi
done
exit "$status"
