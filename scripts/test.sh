#!/usr/bin/env bash
# Builds every layer with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh

build=${BRINDLOW_TEST_BUILD:-$top/build-test}
jobs=$(nproc)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBRINDLOW_SANITIZE=ON -DBRINDLOW_TESTS=ON -DBRINDLOW_BENCH=ON -DBRINDLOW_BENCH_SMOKE=ON
cmake --build "$build" -j "$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$top/.ci/lsan.supp:print_suppressions=0
cd "$build"
ctest --output-on-failure -j "$jobs" --timeout 600
