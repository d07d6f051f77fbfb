#!/usr/bin/env bash
# Runs a test program in an X server of its own (xvfb-run). Listing the tests needs none. Without
# xvfb-run the program runs as it is and its tests skip, saying why.
set -u
for argument in "$@"; do
  [ "$argument" = --gtest_list_tests ] && exec "$@"
done
if ! command -v xvfb-run > /dev/null 2>&1; then
  export BRINDLOW_E2E_SKIP="xvfb-run is not installed"
  exec "$@"
fi
# Concurrent runs start their search for a free display number at different places.
exec xvfb-run -a -n $((100 + RANDOM % 4000)) -s "-screen 0 1280x1024x24 -nolisten tcp" "$@"
