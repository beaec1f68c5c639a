#!/usr/bin/env bash
# Builds the page-message fuzzer with clang's libFuzzer and AddressSanitizer, and
# runs it for a bounded time. Usage: run-fuzz.sh BUILD_DIR [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$1
seconds=${2:-30}
out="$build/fuzz"
mkdir -p "$out/corpus"
sources=$(ls "$root"/src/{shell,supervisor,bridge,player,miniplayer,wake}/*.cpp)
# shellcheck disable=SC2086
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/src" -I"$root/tests" $(pkg-config --cflags icu-uc) \
  $sources "$build/generated/embedded_resources.cpp" "$root/tests/support/fake_platform.cpp" \
  "$here/page_message_fuzzer.cpp" $(pkg-config --libs icu-uc) -o "$out/page_message_fuzzer"
"$out/page_message_fuzzer" -max_total_time="$seconds" -max_len=512 -print_final_stats=1 "$out/corpus"
