#!/usr/bin/env bash
# Sanitizer stage of the test suite:
#  - the whole test suite built with AddressSanitizer + UndefinedBehaviorSanitizer,
#    LeakSanitizer on (build-asan);
#  - the concurrency stress test built with ThreadSanitizer (build-tsan).
# Every sanitizer stops the process at its first report, so any report fails
# the test that caused it and with it this script.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
jobs="$(nproc 2>/dev/null || echo 2)"

configure_and_build() {  # <build dir> <sanitizers>
  cmake -S . -B "$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_BUILD_TESTS=ON -DTW_SANITIZE="$2"
  cmake --build "$1" -j"$jobs"
}

export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:report_error_type=1"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer + LeakSanitizer: whole suite"
configure_and_build build-asan address,undefined
# The tests dlopen the sanitized library built in the same directory, so the
# library's own code runs instrumented, not only the test program's.
ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:strict_init_order=1" \
LSAN_OPTIONS="report_objects=1" \
  ctest --test-dir build-asan --output-on-failure --no-tests=error -j"$jobs"

echo "== ThreadSanitizer: concurrency stress test"
configure_and_build build-tsan thread
# libcurl and OpenSSL are not instrumented, so TSan checks our code and the
# tests' only; tools/tsan.supp keeps it from reading the memory calls of
# uninstrumented libraries as races (seen in OpenSSL's session objects).
tsan_options="halt_on_error=1:second_deadlock_stack=1:history_size=4:suppressions=$PWD/tools/tsan.supp"
# Older ThreadSanitizer runtimes cannot map their shadow memory under a high
# ASLR entropy; running without address randomisation avoids that.
run=()
if setarch "$(uname -m)" -R true 2>/dev/null; then run=(setarch "$(uname -m)" -R); fi
TSAN_OPTIONS="$tsan_options" "${run[@]}" \
  ctest --test-dir build-tsan --output-on-failure --no-tests=error -R '^Concurrency\.'
echo "== Sanitizer builds clean"
