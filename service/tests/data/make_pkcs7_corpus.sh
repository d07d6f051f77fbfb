#!/usr/bin/env bash
# Writes the seed corpus of the SignedData fuzz target (fuzz_pkcs7_signed_data/) with openssl cms
# and the test kit's chain, signing the text of fuzz_pkcs7_signed_data.cpp's kDetachedContent:
#   attr, nosmimecap, sha1, sha512, noattr      content attached, signed attributes or none
#   detached, detached-noattr                   content left out (the target supplies it)
#   stream                                      indefinite lengths
#   nocerts, two-signers, md5, pss, ecdsa       the shapes the verifier refuses or walks further
#   bare                                        the SignedData of attr without its ContentInfo
# Run from this folder: bash make_pkcs7_corpus.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
kit=$here/../../../testkit
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=$here/fuzz_pkcs7_signed_data
rm -rf "$out"
mkdir -p "$out"

bash "$kit/pki.sh" chain "$work/chain" >/dev/null
bash "$kit/pki.sh" ecdsa-signer "$work/ec" "$work/chain" >/dev/null
printf 'Brindlow SignedData fuzz seed\n' > "$work/m"
signer=(-signer "$work/chain/sign.pem" -inkey "$work/chain/sign.key")
sign() {
  local name=$1
  shift
  openssl cms -sign -binary -in "$work/m" -outform DER -out "$out/$name.der" "$@"
}
sign attr "${signer[@]}" -md sha256 -nodetach
sign nosmimecap "${signer[@]}" -md sha256 -nodetach -nosmimecap
sign sha1 "${signer[@]}" -md sha1 -nodetach -nosmimecap
sign sha512 "${signer[@]}" -md sha512 -nodetach -nosmimecap
sign noattr "${signer[@]}" -md sha256 -nodetach -noattr
sign detached "${signer[@]}" -md sha256 -nosmimecap
sign detached-noattr "${signer[@]}" -md sha256 -noattr
sign stream "${signer[@]}" -md sha256 -nodetach -nosmimecap -stream
sign nocerts "${signer[@]}" -md sha256 -nodetach -nosmimecap -nocerts
sign two-signers "${signer[@]}" -signer "$work/chain/ca.pem" -inkey "$work/chain/ca.key" \
  -md sha256 -nodetach -nosmimecap
sign md5 "${signer[@]}" -md md5 -nodetach -nosmimecap
sign pss "${signer[@]}" -md sha256 -nodetach -nosmimecap -keyopt rsa_padding_mode:pss
sign ecdsa -signer "$work/ec/ecdsa.pem" -inkey "$work/ec/ecdsa.key" -md sha256 -nodetach \
  -nosmimecap
# The SignedData inside attr: the element at depth 2.
line=$(openssl asn1parse -inform DER -in "$out/attr.der" | awk '/d=2/ {print; exit}')
offset=${line%%:*}
offset=${offset// /}
dd if="$out/attr.der" of="$out/bare.der" bs=1 skip="$offset" status=none
ls "$out"
