#!/bin/sh
# Seeds of the DER fuzz target (fuzz_der/): keys made by the openssl command line, a DigestInfo,
# and a few malformed encodings that the reader must refuse.
set -e
cd "$(dirname "$0")/fuzz_der"
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out key.pem 2>/dev/null
openssl rsa -in key.pem -traditional -outform DER -out rsa_private.der 2>/dev/null
openssl rsa -in key.pem -RSAPublicKey_out -outform DER -out rsa_public.der 2>/dev/null
openssl rsa -in key.pem -pubout -outform DER -out subject_public_key_info.der 2>/dev/null
rm key.pem
chmod 644 rsa_private.der
# DigestInfo of SHA-256("abc").
printf '3031300d060960864801650304020105000420' | xxd -r -p > digestinfo_sha256.der
printf 'ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad' | xxd -r -p \
  >> digestinfo_sha256.der
printf '308500000000050201000201' | xxd -r -p > long_length_of_length.der
printf '30050300020100' | xxd -r -p > empty_bit_string.der
printf '3084ffffffff0201' | xxd -r -p > length_past_end.der
