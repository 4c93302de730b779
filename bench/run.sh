#!/usr/bin/env bash
# The benchmark in one command: installs missing packages, builds the
# library and the benchmark (Release) in their own build directory, serves
# the benchmark's files with nginx on 127.0.0.1 from a process of its own,
# runs the cases and prints the table. nginx is stopped however the run ends.
# Arguments go to the benchmark program, e.g. --quick or --only GROUP
# (request, transfer, memory, base64, escape); --in-process instead serves
# the files from a server inside the benchmark program.
# BUILD_DIR overrides the build directory (default build-bench).
# Exits non-zero when something fails or a full run misses a target.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash tools/deps.sh
build="${BUILD_DIR:-build-bench}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTW_BUILD_BENCH=ON > /dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target tw_bench tw_bench_peak tw_bench_reuse
bench="$build/bench/tw_bench"

args=()
in_process=0
for arg in "$@"; do
  if [ "$arg" = --in-process ]; then in_process=1; else args+=("$arg"); fi
done
if [ "$in_process" -eq 1 ]; then
  exec "$bench" "${args[@]}"
fi

source bench/nginx.sh
work="$(mktemp -d)"
trap 'stop_nginx; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
mkdir "$work/files"
"$bench" "${args[@]}" --write-files "$work/files"
# The reuse benchmark's file: 1 KiB of text, so a raw body is never cut short.
head -c 1024 /dev/zero | tr '\0' x > "$work/files/1k-text"
start_nginx "$work/files" "$work"
echo "Request cases: $(nginx -v 2>&1 | sed 's/.*: //') at $NGINX_URL, pid $(cat "$NGINX_PID_FILE")" >&2
"$bench" "${args[@]}" --server "$NGINX_URL"
# Connection reuse against the same nginx, HTTP and HTTPS (--quick: a short run).
quick=()
for arg in "${args[@]}"; do [ "$arg" = --quick ] && quick=(--quick); done
python3 bench/reuse.py "$build/bench/tw_bench_reuse" "$(ls "$build"/libTarnwellFunctions.so)" \
  "$NGINX_URL/1k-text" "$NGINX_HTTPS_URL/1k-text" "$NGINX_CA" "${quick[@]}"
