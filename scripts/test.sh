#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test under AddressSanitizer and
# UndefinedBehaviorSanitizer, runs the concurrency test under ThreadSanitizer, fuzzes the XML
# parser for a bounded time, and builds the optimised library alone and consumes it from
# outside the tree. Every build treats warnings as errors; any failure or sanitizer report
# fails the command. After the sanitizer build the rest runs in two lanes of one core each;
# each lane writes build-logs/<lane>.log, shown when it fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=${HYPERVALE_JOBS:-2}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
logs=build-logs
rm -rf "$logs"
mkdir -p "$logs"
started=$SECONDS

# Unity builds: each target's sources compile as a few units, which parses the heavy headers
# (Xerces, Boost, GoogleTest) far fewer times.
configure() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DHYPERVALE_WERROR=ON -DCMAKE_UNITY_BUILD=ON "$@" >/dev/null
}

# The sanitizer builds compile without optimisation and with line tables only: that halves
# their build time, and the sanitizers find the same faults.
unoptimised=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g1")

asan_tests() { ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 300; }

tsan_concurrency() {
  configure build-tsan "${unoptimised[@]}" -DHYPERVALE_TSAN=ON \
    -DHYPERVALE_BUILD_EXAMPLES=OFF -DHYPERVALE_BUILD_BENCH=OFF &&
    cmake --build build-tsan -j1 --target concurrency_test &&
    ctest --test-dir build-tsan --output-on-failure -R '^concurrency_test$' --timeout 300
}

installed_release() {
  configure build-release -DCMAKE_BUILD_TYPE=Release -DHYPERVALE_BUILD_TESTS=OFF \
    -DHYPERVALE_BUILD_EXAMPLES=OFF -DHYPERVALE_BUILD_BENCH=OFF &&
    cmake --build build-release -j1 &&
    scripts/check-install.sh build-release
}

# Two lanes of one core each: the sanitizer suite, then the fuzzer; ThreadSanitizer, then the
# optimised library. Each stage runs only if the one before it in its lane passed.
asan_lane() { asan_tests && HYPERVALE_JOBS=1 scripts/fuzz.sh build && scripts/fuzz.sh run; }
tsan_lane() { tsan_concurrency && installed_release; }

declare -A running
# Starts a stage in the background, its output in its log.
begin() {
  local name=$1
  shift
  echo "== $name (started at ${SECONDS}s; log $logs/$name.log) =="
  "$@" >"$logs/$name.log" 2>&1 &
  running[$name]=$!
}
# Waits for the stages named; shows the log of each that failed, and fails if any did.
await() {
  local name failed=0
  for name in "$@"; do
    if wait "${running[$name]}"; then
      echo "== $name passed (at ${SECONDS}s) =="
    else
      echo "== $name FAILED; the end of $logs/$name.log: =="
      tail -n 150 "$logs/$name.log"
      failed=1
    fi
  done
  return $failed
}

echo "== the whole tree under AddressSanitizer + UndefinedBehaviorSanitizer =="
configure build-asan "${unoptimised[@]}" -DHYPERVALE_SANITIZE=ON
cmake --build build-asan -j"$jobs"

begin asan-then-fuzzing asan_lane
begin tsan-then-release tsan_lane
await asan-then-fuzzing tsan-then-release

echo "== all stages passed in ${SECONDS}s (from ${started}s) =="
