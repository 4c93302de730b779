#!/usr/bin/env bash
# The benchmark: installs missing packages, builds the library and the
# benchmark (Release) in their own build directory, runs it and prints the
# table. Arguments go to the benchmark program, e.g. --quick or
# --only escape (groups: request, transfer, memory, base64, escape).
# BUILD_DIR overrides the build directory (default build-bench).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash tools/deps.sh
build="${BUILD_DIR:-build-bench}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTW_BUILD_BENCH=ON > /dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target tw_bench tw_bench_peak
"$build/bench/tw_bench" "$@"
