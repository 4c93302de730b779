#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, runs every test.
# Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash tools/deps.sh
jobs="$(nproc 2>/dev/null || echo 2)"

# The Windows DLLs (64- and 32-bit) first: ctest checks their tables and
# runs the 64-bit one under Wine.
echo "== Windows build"
bash tools/build-windows.sh all

echo "== Build and unit/integration tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_BUILD_TESTS=ON -DTW_WINDOWS_BUILD_DIR="$PWD/build-windows"
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

# Further stages (the Debian packages installed, used and removed,
# sanitizers, fuzzing, benchmark smoke run) live in their own scripts so
# each can also be run alone.
for stage in tools/check-debian-packages.sh tools/cross-check-aarch64.sh tools/check-sanitizers.sh tools/fuzz.sh \
  bench/smoke.sh; do
  if [ -f "$stage" ]; then
    echo "== $stage"
    bash "$stage"
  fi
done
echo "== All tests passed"
