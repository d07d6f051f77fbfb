#!/usr/bin/env bash
# Runs a command in an X server of its own and returns the command's status.
#   bash testkit/x_server.sh command [arguments...]
# The server picks a free display number itself (-displayfd) instead of the command line
# searching for one, so concurrent runs never race for a number. Its cookie lies in a private
# folder that only this script removes. The command starts once a client has been answered, the
# server never resets (a reset drops a client connecting at that moment), and the server is
# ended and waited for before this script returns, so no server outlives its run.
# Set X_SERVER_SCREEN to change the screen (default 1280x1024x24). Exits 77 (skipped, for
# CTest) when Xvfb or xdpyinfo is missing, and 1 when no server comes up, with its log.
set -u

if [ $# -eq 0 ]; then
  echo "usage: x_server.sh command [arguments...]" >&2
  exit 2
fi
for tool in Xvfb xdpyinfo; do
  if ! command -v "$tool" > /dev/null 2>&1; then
    echo "x_server.sh: $tool is not installed: skipping" >&2
    exit 77
  fi
done

folder=$(mktemp -d "${TMPDIR:-/tmp}/x-server.XXXXXX") || exit 1
server=
command_pid=

# Ends the server and waits for it (killing it when it does not go within 10 seconds), then
# removes the folder. The server goes first, whatever else fails.
finish() {
  if [ -n "$server" ]; then
    kill -TERM "$server" 2> /dev/null
    sleep 10 > /dev/null 2>&1 &
    local guard=$! ended=
    wait -n -p ended "$server" "$guard" 2> /dev/null
    if [ "${ended:-}" = "$server" ]; then
      kill "$guard" 2> /dev/null
      wait "$guard" 2> /dev/null
    else
      kill -KILL "$server" 2> /dev/null
      wait "$server" 2> /dev/null
    fi
  fi
  rm -rf "$folder"
}
trap finish EXIT
# A stop request reaches the command; the server is ended on the way out.
trap '[ -n "$command_pid" ] && kill -TERM "$command_pid" 2> /dev/null' TERM INT HUP

# One wildcard entry (any host, any display): the server reads it at its start, before it has
# chosen its display, and every client finds it whichever display that is. The record: family
# 0xffff, empty address, empty display number, the protocol name and 16 random bytes.
cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
printf '\xff\xff\x00\x00\x00\x00\x00\x12MIT-MAGIC-COOKIE-1\x00\x10' > "$folder/Xauthority"
printf '%b' "$(sed 's/../\\x&/g' <<< "$cookie")" >> "$folder/Xauthority"
export XAUTHORITY=$folder/Xauthority

# The server writes its display number to the pipe once it accepts connections.
mkfifo "$folder/display"
Xvfb -displayfd 3 -screen 0 "${X_SERVER_SCREEN:-1280x1024x24}" -nolisten tcp -noreset \
  -auth "$XAUTHORITY" 3> "$folder/display" > "$folder/server.log" 2>&1 < /dev/null &
server=$!
number=
read -r -t 60 number < "$folder/display"
if ! [[ "$number" =~ ^[0-9]+$ ]]; then
  echo "x_server.sh: the X server did not start within 60 seconds:" >&2
  cat "$folder/server.log" >&2
  exit 1
fi
export DISPLAY=:$number

# The first answer to a real client, within a generous deadline for a loaded machine.
deadline=$((SECONDS + 60))
until xdpyinfo > /dev/null 2> "$folder/probe.log"; do
  if ((SECONDS >= deadline)) || ! kill -0 "$server" 2> /dev/null; then
    echo "x_server.sh: the X server on $DISPLAY does not answer:" >&2
    cat "$folder/probe.log" "$folder/server.log" >&2
    exit 1
  fi
  sleep 0.1
done

"$@" &
command_pid=$!
# A trapped signal ends a wait early: wait again until the command itself has ended.
while :; do
  wait "$command_pid"
  status=$?
  kill -0 "$command_pid" 2> /dev/null || break
done
exit "$status"
