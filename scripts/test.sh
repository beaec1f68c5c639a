#!/usr/bin/env bash
# Sets up a Debian 12 machine (packages installed only when missing), builds, and
# runs every test: unit, end to end under Xvfb, the library service's, the fuzzer.
# Then builds again with AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer
# (in build-asan) and runs the unit, integration and end-to-end tests there: every
# test of the native player (libmpv) included.
# Arguments go to both ctest runs (for example -R e2e.test_recovery); with none, both
# run everything they have.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
status=0
ctest --test-dir build --output-on-failure -j2 "$@" || status=$?

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLEMAR_SANITIZE=ON >/dev/null
cmake --build build-asan
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# GLib's slice allocator hides frees from the sanitizer.
export G_SLICE=always-malloc
# Unit tests with leak checking. Allocation stacks are unwound the slow way: system
# libraries have no frame pointers, and the suppressions (one-time caches of those
# libraries) match frames deep inside them. The same settings check the player (libmpv)
# and GTK paths by hand (several times slower, too slow for a shared machine):
#   ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:malloc_context_size=40 \
#   LSAN_OPTIONS=suppressions=$PWD/tests/sanitizers/lsan.supp ctest --test-dir build-asan -R integration
ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:malloc_context_size=40 \
LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0" \
  ctest --test-dir build-asan --output-on-failure -j2 -LE "e2e|integration" "$@" || status=$?
# The integration and end-to-end tests start the player engine (libmpv, and WebKitGTK's
# GStreamer for the page's own video) and the whole desktop stack; slow unwinding on
# every allocation makes them several times slower, so they check memory errors and
# undefined behaviour only.
ASAN_OPTIONS=detect_leaks=0 \
  ctest --test-dir build-asan --output-on-failure -j2 -L "e2e|integration" "$@" || status=$?

# A configuration that left a kind of test out would pass above having run none of it:
# with no arguments, each build must have tests of every kind it runs.
if [ $# -eq 0 ]; then
  for want in "build unit integration e2e backend fuzz" "build-asan unit integration e2e"; do
    read -r dir labels <<<"$want"
    for label in $labels; do
      listed=$(ctest --test-dir "$dir" -N -L "^$label\$" || true)
      if ! grep -q '^Total Tests: [1-9]' <<<"$listed"; then
        echo "$dir has no $label test" >&2
        status=1
      fi
    done
  done
fi
exit $status
