#!/usr/bin/env bash
# Installs what is missing and builds the library.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"${HYPERVALE_JOBS:-2}"
echo "Built: $(ls build/src/libhypervale.so*)"
