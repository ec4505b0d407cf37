#!/bin/sh
# Times the filter and the prefilter against what libcups alone needs to read
# the same raster (bench/README.md). Builds a Release tree in build-bench/,
# makes receipt-like workloads there and prints one line per workload.
#   scripts/bench.sh [pairs]      (default 9 interleaved pairs per workload)
set -eu
cd "$(dirname "$0")/.."
pairs=${1:-9}
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTALVERO_TESTS=OFF -DTALVERO_BENCH=ON >/dev/null
cmake --build build-bench -j"$(nproc 2>/dev/null || echo 2)" \
  --target rastertoTalvero rastertoTalveroPlanes receipt_raster read_floor measured_run talvero_ppds >/dev/null
exec python3 bench/compare.py --build build-bench --pairs "$pairs"
