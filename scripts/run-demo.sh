#!/usr/bin/env bash
# Installs what is missing, builds the library and the demo, and runs the demo against the
# bundled engine simulator. Extra arguments go to the demo (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"${HYPERVALE_JOBS:-2}" --target hypervale hypervale-demo hypervale-engine-simulator
exec build/examples/hypervale-demo "$@"
