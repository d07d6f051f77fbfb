#!/bin/sh
# Seeds of the KCDSA and ECDSA fuzz targets (fuzz_kcdsa/, fuzz_ecdsa/): a P-256 key and signature
# made by the openssl command line, the curve identifiers, the signature value of the KCDSA
# standard's 2048/256 example, small parameter and key encodings, and malformed values.
set -e
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
openssl ecparam -name prime256v1 -genkey -noout -out "$tmp/key.pem"
printf 'abc' | openssl dgst -sha256 -sign "$tmp/key.pem" > fuzz_ecdsa/signature.der
openssl ec -in "$tmp/key.pem" -pubout -outform DER 2>/dev/null | tail -c 65 > fuzz_ecdsa/public_key.bin
openssl ecparam -name prime256v1 -outform DER > fuzz_ecdsa/p256_oid.der
openssl ecparam -name secp384r1 -outform DER > fuzz_ecdsa/p384_oid.der
printf '3008020300ff01020101' | xxd -r -p > fuzz_ecdsa/short_signature.der
printf '300702020001020101' | xxd -r -p > fuzz_ecdsa/non_minimal.der

printf '3045032100' | xxd -r -p > fuzz_kcdsa/signature.der
printf '59490077f98c21788509cb478ccde77a4fb5414e13cf9281cb80975b3370d97d0220' | xxd -r -p \
  >> fuzz_kcdsa/signature.der
printf '185f21b5dbf4255b954a4d62cf363c3273211147cba054e83a87da2dd7e0741d' | xxd -r -p \
  >> fuzz_kcdsa/signature.der
printf '300902011702010b020104' | xxd -r -p > fuzz_kcdsa/parameters.der
printf '3035020117' | xxd -r -p > fuzz_kcdsa/parameters_with_seed.der
printf '02010b0201040203008001302504200001020304050607' | xxd -r -p \
  >> fuzz_kcdsa/parameters_with_seed.der
printf '08090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f020107' | xxd -r -p \
  >> fuzz_kcdsa/parameters_with_seed.der
printf '020300ff01' | xxd -r -p > fuzz_kcdsa/key.der
printf '3007030201ab020101' | xxd -r -p > fuzz_kcdsa/unused_bits.der
