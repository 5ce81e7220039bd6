#!/usr/bin/env bash
# Installs the library from build directory $1 into a scratch prefix and builds and runs a
# program outside the tree against it, once through find_package and once through pkg-config.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
prefix=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$prefix" "$work"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
soname=$(objdump -p "$prefix"/lib*/libhypervale.so | awk '/SONAME/ {print $2}')
[ "$soname" = "libhypervale.so.0" ] || { echo "unexpected SONAME: $soname"; exit 1; }

echo "-- consumer through find_package"
cmake -S tests/consumer -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
LD_LIBRARY_PATH="$prefix/lib:$prefix/lib64:$prefix/lib/x86_64-linux-gnu" "$work/cmake/consumer"

echo "-- consumer through pkg-config"
export PKG_CONFIG_PATH="$(dirname "$(find "$prefix" -name hypervale.pc)")"
# shellcheck disable=SC2046
g++ tests/consumer/main.cpp -o "$work/consumer-pc" $(pkg-config --cflags --libs hypervale)
LD_LIBRARY_PATH="$(pkg-config --variable=libdir hypervale)" "$work/consumer-pc"
