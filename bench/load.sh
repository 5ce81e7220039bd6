#!/usr/bin/env bash
# Builds and runs the load check: T facades on T threads against one engine simulator (its own
# process, generation 4.2, tasks done after one poll), each running K backup cycles, for
# T = 1, 8, 32 and 64 with connection reuse on and off. One line per run; see bench/load_main.cpp.
# Extra arguments go to every hv_load run, e.g. --cycles 5.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${HYPERVALE_BENCH_BUILD:-build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target hv_load hypervale-engine-simulator >/dev/null
status=0
header=--header
for threads in 1 8 32 64; do
  for reuse in 1 0; do
    "$build/bench/hv_load" --simulator "$build/tools/hypervale-engine-simulator" \
      --threads "$threads" --reuse "$reuse" --cycles 10 $header "$@" || status=1
    header=
  done
done
exit $status
