#!/usr/bin/env bash
# Installs every Debian package the build, the application and the tests need.
# Safe to run again: packages already installed are skipped.
set -euo pipefail

packages=(
  cmake g++ ninja-build pkg-config git ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev openssl libmbedtls-dev libcjson-dev libldap-dev asn1c
  qt6-base-dev qt6-tools-dev libgl-dev
  xvfb xauth trayer xdotool imagemagick x11-utils fonts-nanum
  slapd ldap-utils pkexec
  python3 python3-cryptography-vectors strace
  clang libclang-rt-14-dev
  valgrind
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup: run as root or install sudo" >&2; exit 1; }
  sudo=(sudo)
fi

echo "setup: installing ${missing[*]}"
# Keep package scripts from starting daemons (slapd) during the install. A policy file that is
# already there (container and cloud images have one) is the machine's own and stays.
policy=${BRINDLOW_POLICY_RC_D:-/usr/sbin/policy-rc.d}
added_policy=0
cleanup() {
  local status=$?
  if [ "$added_policy" = 1 ]; then "${sudo[@]}" rm -f "$policy"; fi
  # The trap's own last status would become the script's: keep the one the script ended with.
  return "$status"
}
trap cleanup EXIT
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
  added_policy=1
  "${sudo[@]}" chmod 755 "$policy"
fi

export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
# Tests start their own slapd; never leave the system one running.
if pgrep -x slapd >/dev/null 2>&1; then "${sudo[@]}" pkill -x slapd || true; fi
