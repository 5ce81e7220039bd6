#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test under AddressSanitizer and
# UndefinedBehaviorSanitizer, builds the optimised library alone and consumes it from outside
# the tree, runs the concurrency test under ThreadSanitizer and fuzzes the XML parser for a
# bounded time. Every build treats warnings as errors; any failure or sanitizer report fails
# the command.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=${HYPERVALE_JOBS:-2}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

configure() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DHYPERVALE_WERROR=ON "$@" >/dev/null
}

# The sanitizer builds compile without optimisation and with line tables only: that halves
# their build time, and the sanitizers find the same faults.
unoptimised=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g1")

echo "== every test under AddressSanitizer + UndefinedBehaviorSanitizer =="
configure build-asan "${unoptimised[@]}" -DHYPERVALE_SANITIZE=ON
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 300

echo "== optimised library, installed and consumed from outside the tree =="
configure build-release -DCMAKE_BUILD_TYPE=Release -DHYPERVALE_BUILD_TESTS=OFF \
  -DHYPERVALE_BUILD_EXAMPLES=OFF -DHYPERVALE_BUILD_BENCH=OFF
cmake --build build-release -j"$jobs"
scripts/check-install.sh build-release

echo "== the concurrency test under ThreadSanitizer =="
configure build-tsan -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" \
  -DHYPERVALE_TSAN=ON -DHYPERVALE_BUILD_EXAMPLES=OFF -DHYPERVALE_BUILD_BENCH=OFF
cmake --build build-tsan -j"$jobs" --target concurrency_test
ctest --test-dir build-tsan --output-on-failure -R '^concurrency_test$' --timeout 300

echo "== fuzzing the XML parser (bounded) =="
scripts/fuzz.sh
