#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them (our code beside OpenSSL in the same run).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh
build=${BRINDLOW_BENCH_BUILD:-$top/build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLOW_TESTS=OFF -DBRINDLOW_BENCH=ON
cmake --build "$build" -j "$(nproc)"
for b in "$build"/bench/bench_*; do
  [ -x "$b" ] && "$b" "$@"
done
