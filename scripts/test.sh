#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole suite twice (a normal build and an
# AddressSanitizer + UndefinedBehaviorSanitizer build), checks the installed library from
# outside the tree, runs the concurrency test under ThreadSanitizer and fuzzes the XML parser
# for a bounded time. Any failure or sanitizer report fails the command.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=${HYPERVALE_JOBS:-2}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 300
}

echo "== normal build =="
run_suite build
echo "== installed library, consumed from outside the tree =="
scripts/check-install.sh build
echo "== sanitizer build (ASan + UBSan) =="
run_suite build-asan -DHYPERVALE_SANITIZE=ON

echo "== ThreadSanitizer build of the concurrency test =="
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHYPERVALE_TSAN=ON >/dev/null
cmake --build build-tsan -j"$jobs" --target concurrency_test
TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1} \
  ctest --test-dir build-tsan --output-on-failure -R Concurrency --timeout 300

echo "== fuzzing the XML parser (bounded) =="
scripts/fuzz.sh
