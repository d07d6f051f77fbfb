#!/usr/bin/env bash
# Builds Brindlow and starts it: Brindlow.app in the build folder. Without a display it starts
# a virtual X server (xvfb-run) with trayer as its system tray, and says so.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh

build=${BRINDLOW_BUILD:-$top/build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLOW_TESTS=OFF
cmake --build "$build" -j "$(nproc)"

app=$build/Brindlow.app/Contents/MacOS/Brindlow
if [ ! -x "$app" ]; then
  echo "run: $app was not built." >&2
  exit 1
fi
# The application ends itself once its installed bundle is gone; run from the build folder, the
# bundle it watches is the one it runs from.
export BRINDLOW_APPLICATIONS=${BRINDLOW_APPLICATIONS:-$build}

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display; starting Brindlow in a virtual X server (xvfb-run) with trayer as the" \
       "system tray. Its windows are not visible here: take a picture with" \
       "'DISPLAY=<display> import -window root shot.png'." >&2
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -c '
    echo "run: virtual display $DISPLAY" >&2
    trayer --align right --edge top --widthtype request --height 24 --transparent false &
    for _ in $(seq 100); do
      xdotool search --onlyvisible --classname "^panel$" > /dev/null 2>&1 && break
      sleep 0.1
    done
    exec env QT_QPA_PLATFORM=xcb "$0"' "$app"
fi
exec "$app"
