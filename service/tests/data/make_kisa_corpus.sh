#!/usr/bin/env bash
# Writes the seed corpus of the KISA fuzz target from the kit's kisa-vid recipe: signature lists
# (good, SHA-1, other serial, altered) and certificates whose subjectAltName holds a VID, a cut
# VID, an empty one or only the realName.
# Run from this folder: bash make_kisa_corpus.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash "$here/../../../testkit/pki.sh" kisa-vid "$work"
rm -rf "$here/fuzz_kisa"
mkdir -p "$here/fuzz_kisa"
for f in siglist siglist-sha1 siglist-serial siglist-altered tokens vid-sha1 vid-sha512 \
  vid-empty vid-short realname; do
  cp "$work/$f.der" "$here/fuzz_kisa/$f.der"
done
