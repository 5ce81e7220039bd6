#!/usr/bin/env bash
# Serves a generated inventory of N VMs (default 10000) with the simulator program and reads
# the whole VM list once through the library, printing time and peak memory of the client.
set -euo pipefail
cd "$(dirname "$0")/.."
vms=${1:-10000}
cmake --build build -j2 --target vm_list_bench hypervale-engine-simulator >/dev/null
work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT
echo "bench-password" > "$work/pw"
build/tools/hypervale-engine-simulator --vms "$vms" --password-file "$work/pw" \
  --ca-out "$work/ca.pem" > "$work/sim.out" &
sim=$!
for _ in $(seq 100); do grep -q listening "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/.*127.0.0.1:\([0-9]*\).*/\1/p' "$work/sim.out")
build/bench/vm_list_bench "localhost:$port" "$work/pw" "$work/ca.pem"
