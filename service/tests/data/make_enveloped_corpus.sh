#!/usr/bin/env bash
# Writes the seed corpora of the EnvelopedData fuzz target (fuzz_pkcs7_enveloped_data/) and of
# the streaming DER fuzz target (fuzz_simple_asn/) with openssl cms, for the recipient of
# enveloped_recipient.pem/.key (whose key fuzz_pkcs7_enveloped_data.cpp carries), the password
# "q1w2e3r4!@" and the KEK 000102..0F:
#   ktri-seed, ktri-aes256, ktri-des3     key transport (PKCS #1 v1.5), three content ciphers
#   oaep                                  RSAES-OAEP with SHA-1
#   pwri-aes128, pwri-seed                password recipients
#   kek                                   KEK recipient, its wrap named AES-128-CBC (a changed
#                                         last OID byte) so that it opens
#   stream                                indefinite lengths
#   bare                                  the EnvelopedData of ktri-seed without its ContentInfo
# Run from this folder: bash make_enveloped_corpus.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=$here/fuzz_pkcs7_enveloped_data
rm -rf "$out"
mkdir -p "$out"
L=(-provider legacy -provider default)
printf 'Brindlow EnvelopedData fuzz seed\n' > "$work/m"
enc() {
  local name=$1
  shift
  openssl cms -encrypt "${L[@]}" -binary -in "$work/m" -outform DER -out "$out/$name.der" "$@"
}
r=$here/enveloped_recipient.pem
enc ktri-seed -seed-cbc "$r"
enc ktri-aes256 -aes-256-cbc "$r"
enc ktri-des3 -des-ede3-cbc "$r"
enc oaep -seed-cbc -recip "$r" -keyopt rsa_padding_mode:oaep
enc pwri-aes128 -aes-128-cbc -pwri_password 'q1w2e3r4!@'
enc pwri-seed -seed-cbc -pwri_password 'q1w2e3r4!@'
enc kek -aes-128-cbc -secretkey 000102030405060708090A0B0C0D0E0F -secretkeyid 0A0B0C
# id-aes128-wrap (2.16.840.1.101.3.4.1.5) named as aes128-CBC (.1.2), the same length.
xxd -p "$out/kek.der" | tr -d '\n' | sed 's/0609608648016503040105/0609608648016503040102/' \
  | xxd -r -p > "$work/kek" && mv "$work/kek" "$out/kek.der"
enc stream -seed-cbc -stream "$r"
# The [0] content of the ContentInfo (4 + 11 + 4 header bytes before it).
tail -c +20 "$out/ktri-seed.der" > "$out/bare.der"

asn=$here/fuzz_simple_asn
rm -rf "$asn"
mkdir -p "$asn"
cp "$out/ktri-seed.der" "$out/bare.der" "$out/stream.der" "$asn/"
# A SEQUENCE with a value above the window size, and small shapes.
{ printf '\x30\x82\x4e\x27\x02\x01\x05\x04\x82\x4e\x20'; head -c 20000 /dev/zero; } > "$asn/window.der"
printf '\x0c\x03abc' > "$asn/utf8.der"
printf '\x30\x06\xa0\x04\x04\x02\x01\x02' > "$asn/context.der"
# Long-form lengths that DER writes shorter, on a SEQUENCE and on the OCTET STRING inside it.
printf '\x30\x0a\x30\x84\x00\x00\x00\x04\x04\x81\x01\x41' > "$asn/long-form.der"
