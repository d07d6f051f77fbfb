#!/usr/bin/env bash
# Runs the given test program in a private X server, so the windows are real X windows clicked
# with xdotool and photographed with ImageMagick's import. Exits 77 (skipped) when a tool is
# missing.
set -u
for tool in xvfb-run xdotool import; do
  if ! command -v "$tool" > /dev/null 2>&1; then
    echo "$tool is not installed: skipping the end-to-end test of the desktop windows"
    exit 77
  fi
done
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" env QT_QPA_PLATFORM=xcb "$@"
