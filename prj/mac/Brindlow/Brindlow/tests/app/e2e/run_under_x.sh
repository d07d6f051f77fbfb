#!/usr/bin/env bash
# Runs a test program in an X server of its own (testkit/x_server.sh). Listing the tests needs
# none. Without Xvfb the program runs as it is and its tests skip, saying why.
set -u
for argument in "$@"; do
  [ "$argument" = --gtest_list_tests ] && exec "$@"
done
for tool in Xvfb xdpyinfo; do
  if ! command -v "$tool" > /dev/null 2>&1; then
    export BRINDLOW_E2E_SKIP="$tool is not installed"
    exec "$@"
  fi
done
top=$(cd "$(dirname "$0")/../../../../../../.." && pwd)
exec bash "$top/testkit/x_server.sh" "$@"
