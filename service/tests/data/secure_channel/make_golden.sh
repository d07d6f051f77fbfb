#!/usr/bin/env bash
# Makes the golden transcript of the secure channel with the openssl command line alone:
#   bash make_golden.sh            (writes into this folder)
# With R = 00..0F and S = F0..FF, ARIA-128-CBC and SHA-256 (L = 16):
#   server.key, server.der   the server's RSA-2048 key and certificate (testkit recipe
#                            channel_server; an existing server.key is kept)
#   server.rsa.der           the key as DER RSAPrivateKey, the form of a key handle
#   request.der              PXConnectionRequest {ARIA-128-CBC, SHA-256}, NULL parameters
#   response.der             PXConnectionResponse {RSA PKCS #1 v1.5 of R, SHA-256(R)}; the
#                            padding is random, so only this file changes from run to run
#   e3.bin                   the 0xE3 body: S under K = H(R)[0..16), IV = H(H(R))[0..16)
#   keys.txt                 K, IV and D0 to D5 (D0 = H(R || S), D(i) = H(full D(i-1)), each
#                            cut to 16 bytes), hexadecimal
#   plain-<n>.bin            the plaintexts, n = 0, 1, 15, 16, 17, 4096 bytes
#   client-<seq>.der         the client's records (key D1, IV D2, HMAC key D0) and
#   server-<seq>.der         the server's (key D4, IV D5, HMAC key D3): PXCipher {1, 0, seq,
#                            cipher, mac}; sequences 0 to 5 carry the six plaintexts in order,
#                            sequence 128 the 16-byte one
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
kit=$(cd "$here/../../../../testkit" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck source=../channel_der.sh
source "$here/../channel_der.sh"
unhex() { local h=$1 i; for ((i = 0; i < ${#h}; i += 2)); do printf "\\x${h:i:2}"; done; }
sha256() { openssl dgst -sha256 -binary; }
cut16() { head -c 16 | hexof; }
der() { openssl asn1parse -genconf "$1" -noout -out "$2" >/dev/null; }

keyarg=()
[ -f "$here/server.key" ] && keyarg=("$here/server.key")
bash "$kit/pki.sh" channel_server "$work/pki" "${keyarg[@]}"
cp "$work/pki/server.key" "$work/pki/server.der" "$work/pki/server.rsa.der" "$here/"

R=000102030405060708090a0b0c0d0e0f
S=f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff
unhex "$R" > "$work/R.bin"
unhex "$S" > "$work/S.bin"

cat > "$work/request.cnf" <<CNF
asn1=SEQUENCE:request
[request]
encAlgorithm=SEQUENCE:enc
hashAlgorithm=SEQUENCE:hash
[enc]
algorithm=OID:1.2.410.100001.1.20
parameters=NULL
[hash]
algorithm=OID:2.16.840.1.101.3.4.2.1
parameters=NULL
CNF
der "$work/request.cnf" "$here/request.der"

openssl pkeyutl -encrypt -certin -inkey "$work/pki/server.pem" -pkeyopt rsa_padding_mode:pkcs1 \
  -in "$work/R.bin" -out "$work/encR.bin"
HR=$(sha256 < "$work/R.bin" | hexof)
cat > "$work/response.cnf" <<CNF
asn1=SEQUENCE:response
[response]
encryptedRandom=FORMAT:HEX,BITSTRING:$(hexof < "$work/encR.bin")
hashedKey=FORMAT:HEX,OCTETSTRING:$HR
CNF
der "$work/response.cnf" "$here/response.der"

K=$(sha256 < "$work/R.bin" | cut16)
IV=$(sha256 < "$work/R.bin" | sha256 | cut16)
openssl enc -aria-128-cbc -K "$K" -iv "$IV" -in "$work/S.bin" -out "$here/e3.bin"

# D0 = H(R || S); D(i) = H(the full digest D(i-1)).
cat "$work/R.bin" "$work/S.bin" | sha256 > "$work/d0.full"
for i in 1 2 3 4 5; do sha256 < "$work/d$((i - 1)).full" > "$work/d$i.full"; done
D=()
for i in 0 1 2 3 4 5; do D[i]=$(cut16 < "$work/d$i.full"); done
{
  echo "K = $K"
  echo "IV = $IV"
  for i in 0 1 2 3 4 5; do echo "D$i = ${D[i]}"; done
} > "$here/keys.txt"

sizes=(0 1 15 16 17 4096)
for n in "${sizes[@]}"; do
  head -c "$n" /dev/zero |
    openssl enc -aria-128-ctr -K 0f0e0d0c0b0a09080706050403020100 -iv 00000000000000000000000000000000 \
      > "$here/plain-$n.bin"
done

# record <side> <sequence> <plaintext file> <key> <iv> <mac key>
record() {
  local side=$1 seq=$2 plain=$3 key=$4 iv=$5 mackey=$6
  local cipher mac
  cipher=$(openssl enc -aria-128-cbc -K "$key" -iv "$iv" -in "$plain" | hexof)
  mac=$(openssl dgst -sha256 -mac HMAC -macopt "hexkey:$mackey" -binary < "$plain" | hexof)
  record_der "$here/$side-$seq.der" 1 "$seq" "$cipher" "$mac" "$work"
}
for i in 0 1 2 3 4 5; do
  record client "$i" "$here/plain-${sizes[i]}.bin" "${D[1]}" "${D[2]}" "${D[0]}"
  record server "$i" "$here/plain-${sizes[i]}.bin" "${D[4]}" "${D[5]}" "${D[3]}"
done
record client 128 "$here/plain-16.bin" "${D[1]}" "${D[2]}" "${D[0]}"
record server 128 "$here/plain-16.bin" "${D[4]}" "${D[5]}" "${D[3]}"
