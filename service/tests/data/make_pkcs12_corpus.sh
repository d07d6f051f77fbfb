#!/usr/bin/env bash
# Writes the seed corpus of the PKCS #12 fuzz target with the openssl command line, password
# "pw", a 512-bit RSA key and a small self-signed certificate under a small CA:
#   a_*  the forms the library reads: certificates in EncryptedData (triple DES, RC2-40), keys
#        under the PKCS #12 schemes and PBES2, plain key bags, SHA-1 MAC (one iteration), a
#        friendlyName
#   n_*  the same without MacData, so that mutations reach the bags
#   x_*  refused forms: SHA-256 MAC, a third bag attribute, MAC iterations -2048, an eight-octet
#        length
# Run from this folder: bash make_pkcs12_corpus.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
legacy=(-provider legacy -provider default)
out=$here/fuzz_pkcs12
rm -rf "$out"
mkdir -p "$out"

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:512 -out "$work/ca.key" 2>/dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:512 -out "$work/key.pem" 2>/dev/null
openssl req -new -x509 -key "$work/ca.key" -subj "/CN=Fuzz CA" -days 3650 -out "$work/ca.pem" \
  -addext basicConstraints=critical,CA:true 2>/dev/null
openssl req -new -key "$work/key.pem" -subj "/CN=Fuzz" -out "$work/req.csr" 2>/dev/null
openssl x509 -req -in "$work/req.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -set_serial 2 \
  -days 3650 -out "$work/cert.pem" 2>/dev/null

p12() {
  local name=$1
  shift
  openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -certfile "$work/ca.pem" \
    -passout pass:pw -iter 3 -name 'Fuzz' -out "$out/$name.p12" "${legacy[@]}" "$@"
}
forms() {
  local prefix=$1
  shift
  p12 "${prefix}_3des" -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES "$@"
  p12 "${prefix}_rc2" -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-RC2-40 "$@"
  p12 "${prefix}_keyonly" -keypbe PBE-SHA1-3DES -certpbe NONE "$@"
  p12 "${prefix}_rc4" -keypbe PBE-SHA1-RC4-128 -certpbe NONE "$@"
  p12 "${prefix}_rc2key" -keypbe PBE-SHA1-RC2-128 -certpbe NONE "$@"
  p12 "${prefix}_plain" -keypbe NONE -certpbe NONE "$@"
  p12 "${prefix}_pbes2" -certpbe NONE "$@"
}
forms a -macalg sha1 -nomaciter
forms n -nomac
p12 x_sha256 -keypbe NONE -certpbe NONE -nomaciter
p12 x_csp -keypbe NONE -certpbe NONE -macalg sha1 -nomaciter -CSP 'Fuzz Provider'
# The MAC's iteration count (2048, the file's last INTEGER) made -2048.
p12 x_mac_negative -keypbe NONE -certpbe NONE -macalg sha1 -iter 2048
python3 - "$out/x_mac_negative.p12" <<'PY'
import sys
der = open(sys.argv[1], "rb").read()
assert der.endswith(b"\x02\x02\x08\x00")
open(sys.argv[1], "wb").write(der[:-2] + b"\xf8\x00")
PY
printf '\x30\x88\x80\x00\x00\x00\x00\x00\x00\x00\x00' > "$out/x_length_8_octets.p12"
