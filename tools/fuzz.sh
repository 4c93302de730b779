#!/usr/bin/env bash
# Fuzzing stage of the test suite: builds the libFuzzer targets in fuzz/
# with clang (build-fuzz) and runs each for a bounded time, starting from
# its seed corpus in fuzz/corpus/<target>. Any crash, sanitizer report or
# violated property fails the script; the input that caused it is kept in
# build-fuzz/artifacts/<target>/.
#
#   tools/fuzz.sh                 every target, FUZZ_SECONDS (default 35) each
#   FUZZ_SECONDS=3600 tools/fuzz.sh query_string     one target, one hour
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds="${FUZZ_SECONDS:-35}"
jobs="$(nproc 2>/dev/null || echo 2)"
build=build-fuzz
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(base64 body_encoding header_json header_callback percent_encode query_string request_options)

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTW_BUILD_TESTS=OFF -DTW_BUILD_TOOLS=OFF -DTW_BUILD_BENCH=OFF -DTW_BUILD_FUZZERS=ON \
  -DTW_SANITIZE=address,undefined
cmake --build "$build" -j"$jobs" --target "${targets[@]/#/fuzz_}"

export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
for target in "${targets[@]}"; do
  # New inputs go to a scratch corpus; the seeds in the repository stay as they are.
  corpus="$build/corpus/$target" artifacts="$build/artifacts/$target/" log="$build/fuzz_$target.log"
  mkdir -p "$corpus" "$artifacts"
  # A target's dictionary, where it has one, gives the mutator its tokens.
  dict=()
  [ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
  echo "== fuzz_$target for ${seconds}s"
  if ! "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -max_len=8192 \
      -print_final_stats=1 -artifact_prefix="$artifacts" "${dict[@]}" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$target FAILED; the failing input is in $artifacts"
    exit 1
  fi
  grep -E '^stat::(number_of_executed_units|peak_rss_mb|new_units_added)' "$log" | sed "s/^/  fuzz_$target /"
done
echo "== Fuzzing found nothing"
