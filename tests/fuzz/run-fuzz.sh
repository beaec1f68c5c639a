#!/usr/bin/env bash
# Builds one fuzzer with clang's libFuzzer, AddressSanitizer and UBSan, and runs it
# for a bounded time. It starts from the seed corpus in tests/fuzz/corpus/TARGET, which
# it only reads; what it finds goes to BUILD_DIR/fuzz/corpus/TARGET (or to the folder
# named by FUZZ_CORPUS).
# Usage: run-fuzz.sh BUILD_DIR TARGET [SECONDS [libFuzzer options...]]
#   TARGET: page_message (page messages, decoded and dispatched) or url (the URL
#   parser against GLib's)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$1
target=$2
seconds=${3:-30}
shift $(($# < 3 ? $# : 3))
out="$build/fuzz"
corpus=${FUZZ_CORPUS:-$out/corpus/$target}
mkdir -p "$corpus"
case "$target" in
  page_message)
    sources=("$root"/src/{shell,supervisor,bridge,player,miniplayer,wake}/*.cpp
             "$build/generated/embedded_resources.cpp" "$root/tests/support/fake_platform.cpp"
             "$root/src/platform/gtk/page_message_decoding.cpp")
    libs=(icu-uc glib-2.0) ;;
  url)
    sources=("$root/src/bridge/url.cpp")
    libs=(glib-2.0) ;;
  *) echo "unknown fuzzer: $target" >&2; exit 2 ;;
esac
# shellcheck disable=SC2046
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/src" -I"$root/tests" $(pkg-config --cflags "${libs[@]}") \
  "${sources[@]}" "$here/${target}_fuzzer.cpp" $(pkg-config --libs "${libs[@]}") \
  -o "$out/${target}_fuzzer"
exec "$out/${target}_fuzzer" -max_total_time="$seconds" -max_len=512 -print_final_stats=1 "$@" \
  "$corpus" "$here/corpus/$target"
