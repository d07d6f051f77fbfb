#!/usr/bin/env bash
# Runs the given test program in a private X server. Exits 77 (skipped) without xvfb-run.
set -u
if ! command -v xvfb-run > /dev/null 2>&1; then
  echo "xvfb-run is not installed: skipping the installer's run under X"
  exit 77
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" env QT_QPA_PLATFORM=xcb "$@"
