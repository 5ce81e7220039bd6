#!/usr/bin/env bash
# Builds the benchmark and runs the library and curl side by side against a loopback HTTPS
# engine serving real-engine-shaped bodies (tests/fixtures/v4/vm.xml, about 9.7 KB a VM):
#   (b) GETs of one VM, (c) the inventory walk of VMs with two disks each (mask 0x10),
#   (a) one list of many VMs; and (s) the walk again against the engine simulator (4.5) with a
#   cost of 20 ms per login, the library keeping its engine session and not. Every row shows
#   the requests and the logins it cost the engine.
# Extra arguments go to hv_bench, e.g. --runs 5, --only a, --reuse 0,1, --list 2000, --login-ms 50.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${HYPERVALE_BENCH_BUILD:-build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target hv_bench hv_bench_client >/dev/null
command -v curl >/dev/null || { echo "bench/run.sh: curl is needed" >&2; exit 2; }
exec "$build/bench/hv_bench" --client "$build/bench/hv_bench_client" \
  --fixtures tests/fixtures "$@"
