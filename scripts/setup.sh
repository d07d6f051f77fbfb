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
  python3 python3-cryptography-vectors
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
# Keep package scripts from starting daemons (slapd) during the install.
policy=/usr/sbin/policy-rc.d
added_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
  "${sudo[@]}" chmod 755 "$policy"
  added_policy=1
fi
cleanup() { [ "$added_policy" = 1 ] && "${sudo[@]}" rm -f "$policy"; }
trap cleanup EXIT

export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
# Tests start their own slapd; never leave the system one running.
if pgrep -x slapd >/dev/null 2>&1; then "${sudo[@]}" pkill -x slapd || true; fi
