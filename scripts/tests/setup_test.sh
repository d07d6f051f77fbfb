#!/usr/bin/env bash
# Runs scripts/setup.sh as a fresh machine's first run would, with every package reported
# missing, against stand-ins for apt-get, dpkg-query, sudo, pgrep and pkill on PATH and a policy
# file in a scratch folder: nothing is installed and no real process or system file is touched.
# Checks the status, and that a policy file the machine had stays while one the script added goes.
set -uo pipefail

setup=$(cd "$(dirname "$0")/.." && pwd)/setup.sh
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Stand-ins. apt-get records each call and the policy file as it was during the call; a failing
# install is asked for with APT_FAIL=1. id answers a user id of 1000 when AS_USER=1, so that the
# script goes through sudo.
stubs=$scratch/bin
mkdir -p "$stubs"
cat > "$stubs/apt-get" <<'STUB'
#!/bin/sh
echo "apt-get $*" >> "$STUB_LOG"
if [ -e "$BRINDLOW_POLICY_RC_D" ]; then
  echo "policy during apt-get: $(tail -n 1 "$BRINDLOW_POLICY_RC_D")" >> "$STUB_LOG"
else
  echo "policy during apt-get: none" >> "$STUB_LOG"
fi
if [ "${APT_FAIL:-0}" = 1 ] && [ "$1" = install ]; then exit 100; fi
exit 0
STUB
cat > "$stubs/dpkg-query" <<'STUB'
#!/bin/sh
exit 1
STUB
cat > "$stubs/sudo" <<'STUB'
#!/bin/sh
echo "sudo $1" >> "$STUB_LOG"
exec "$@"
STUB
cat > "$stubs/pgrep" <<'STUB'
#!/bin/sh
exit 1
STUB
cat > "$stubs/pkill" <<'STUB'
#!/bin/sh
echo "pkill $*" >> "$STUB_LOG"
exit 0
STUB
cat > "$stubs/id" <<'STUB'
#!/bin/sh
if [ "${AS_USER:-0}" = 1 ] && [ "${1:-}" = -u ]; then echo 1000; exit 0; fi
exec /usr/bin/id "$@"
STUB
chmod 755 "$stubs"/*

# run <name> <pre-existing policy: 0|1> <as user: 0|1> <install fails: 0|1> <expected status>
run() {
  local name=$1 existing=$2 as_user=$3 apt_fail=$4 expected=$5
  local dir=$scratch/$name
  mkdir -p "$dir"
  local policy=$dir/policy-rc.d log=$dir/log
  : > "$log"
  if [ "$existing" = 1 ]; then
    printf '#!/bin/sh\n# the machine'"'"'s own\nexit 0\n' > "$policy"
  fi
  local before=""
  [ "$existing" = 1 ] && before=$(cat "$policy")

  env PATH="$stubs:$PATH" STUB_LOG="$log" BRINDLOW_POLICY_RC_D="$policy" AS_USER="$as_user" \
    APT_FAIL="$apt_fail" bash -e "$setup" > "$dir/out" 2>&1
  local status=$?

  [ "$status" = "$expected" ] || fail "$name: status $status, expected $expected ($(cat "$dir/out"))"
  grep -q '^apt-get install -y -q --no-install-recommends cmake ' "$log" ||
    fail "$name: the missing packages were not installed ($(cat "$log"))"
  if [ "$existing" = 1 ]; then
    [ -e "$policy" ] || fail "$name: the machine's policy file was removed"
    [ "$(cat "$policy" 2>/dev/null)" = "$before" ] || fail "$name: the machine's policy file changed"
    grep -q '^policy during apt-get: exit 0$' "$log" || fail "$name: the machine's policy was not in place"
  else
    [ ! -e "$policy" ] || fail "$name: the added policy file was left behind"
    grep -q '^policy during apt-get: exit 101$' "$log" ||
      fail "$name: no policy kept daemons from starting during the install ($(cat "$log"))"
  fi
  if [ "$as_user" = 1 ]; then
    grep -q '^sudo env$' "$log" || fail "$name: the install did not go through sudo"
  fi
  ! grep -q '^pkill' "$log" || fail "$name: a process was ended"
}

run first-run-with-policy 1 0 0 0
run first-run-without-policy 0 0 0 0
run first-run-through-sudo 1 1 0 0
# A failed install still fails the script, and still takes the added policy away.
run failed-install 0 1 1 100

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "setup checks passed"
