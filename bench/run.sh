#!/usr/bin/env bash
# Builds the benchmark and runs the library and curl side by side against a loopback HTTPS
# engine serving real-engine-shaped bodies (tests/fixtures/v4/vm.xml, about 9.7 KB a VM) and
# reporting engine 4.5 (it answers "follow" with the linked objects inline):
#   (b) GETs of one VM, (c) the inventory walk of VMs with two disks each (mask 0x10),
#   (a) one list of many VMs, with curl downloading the same body from `openssl s_server -WWW`
#       (same certificate) as the transport-speed baseline of the bench engine;
#   (s) the walk again against the engine simulator (4.5) at 2 ms a request and 20 ms a login:
#       the library following links (nRhevFollowLinks=1), one request per object (=0), and with
#       a login for every request (nRhevPersistentAuth=0).
# Every library row is compared with curl replaying exactly the URLs that row requested, and
# shows the requests and the logins it cost the engine. (b), (c) and (a) also show Xerces-C's own
# scan of the bodies the library received, and the floor it sets: curl + that scan.
# Extra arguments go to hv_bench, e.g. --runs 5, --only a, --reuse 0,1, --list 2000,
# --baseline OTHER_BUILD/bench/hv_bench_client, --request-ms 5, --login-ms 50.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${HYPERVALE_BENCH_BUILD:-build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target hv_bench hv_bench_client >/dev/null
for tool in curl openssl; do
  command -v "$tool" >/dev/null || { echo "bench/run.sh: $tool is needed (Debian: $tool)" >&2; exit 2; }
done
exec "$build/bench/hv_bench" --client "$build/bench/hv_bench_client" \
  --fixtures tests/fixtures "$@"
