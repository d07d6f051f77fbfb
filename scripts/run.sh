#!/usr/bin/env bash
# Builds Brindlow and starts it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh

build=${BRINDLOW_BUILD:-$top/build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLOW_TESTS=OFF
cmake --build "$build" -j "$(nproc)"

app=$build/Brindlow.app/Contents/MacOS/Brindlow
if [ ! -x "$app" ]; then
  echo "run: the desktop application is not built yet; the libraries in $build are built." >&2
  exit 0
fi
exec "$app"
