#!/usr/bin/env bash
# Runs the given test program in a private X server (testkit/x_server.sh, which exits 77,
# skipped, without Xvfb).
top=$(cd "$(dirname "$0")/../../../../.." && pwd)
exec bash "$top/testkit/x_server.sh" env QT_QPA_PLATFORM=xcb "$@"
