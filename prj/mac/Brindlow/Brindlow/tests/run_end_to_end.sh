#!/usr/bin/env bash
# Runs the given test program in a private X server (testkit/x_server.sh), so the windows are
# real X windows clicked with xdotool and photographed with ImageMagick's import. Exits 77
# (skipped) when a tool is missing.
set -u
for tool in xdotool import; do
  if ! command -v "$tool" > /dev/null 2>&1; then
    echo "$tool is not installed: skipping the end-to-end test of the desktop windows"
    exit 77
  fi
done
top=$(cd "$(dirname "$0")/../../../../.." && pwd)
exec bash "$top/testkit/x_server.sh" env QT_QPA_PLATFORM=xcb "$@"
