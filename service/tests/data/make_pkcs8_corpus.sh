#!/usr/bin/env bash
# Writes the seed corpora of the PKCS #8 and PBES2 fuzz targets with the openssl command line:
#   fuzz_pkcs8/  PrivateKeyInfo (openssl's, one with the KISA randomNum and an unrelated
#                attribute, one in BER) and EncryptedPrivateKeyInfo under the schemes openssl
#                writes and the KISA ones, a few iterations each (a 512-bit RSA key keeps them
#                small); hostile ones: iteration counts of -2048, an eight-octet length
#   fuzz_pbes2/  PBES2-params: every scheme and PRF the library reads, keyLength, and the shapes
#                it refuses (otherSource salt, unknown PRF, wrong keyLength, short IV, ...)
# Run from this folder: bash make_pkcs8_corpus.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
legacy=(-provider legacy -provider default)
p8=$here/fuzz_pkcs8
p2=$here/fuzz_pbes2
rm -rf "$p8" "$p2"
mkdir -p "$p8" "$p2"
hexof() { od -An -tx1 -v "$1" | tr -d ' \n'; }
genconf() { openssl asn1parse -genconf "$1" -noout -out "$2" >/dev/null; }

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:512 -out "$work/key.pem" 2>/dev/null
openssl pkcs8 -topk8 -nocrypt -in "$work/key.pem" -outform DER -out "$p8/plain_rsa.der"
openssl rsa -in "$work/key.pem" -traditional -outform DER -out "$work/rsa.der" 2>/dev/null

for scheme in seed-cbc aes-128-cbc aes-256-cbc aria-128-cbc des3; do
  openssl pkcs8 -topk8 -in "$work/key.pem" -outform DER -out "$p8/pbes2_$scheme.der" \
    -v2 "$scheme" -iter 3 -passout pass:pw "${legacy[@]}"
done
openssl pkcs8 -topk8 -in "$work/key.pem" -outform DER -out "$p8/pbes2_sha512.der" \
  -v2 aes-128-cbc -v2prf hmacWithSHA512 -iter 3 -passout pass:pw
for scheme in PBE-SHA1-3DES PBE-SHA1-2DES PBE-SHA1-RC2-128 PBE-SHA1-RC2-40 PBE-SHA1-RC4-128; do
  openssl pkcs8 -topk8 -in "$work/key.pem" -outform DER -out "$p8/pkcs12_$scheme.der" \
    -v1 "$scheme" -iter 3 -passout pass:pw "${legacy[@]}"
done

cat > "$work/plain.cnf" <<CNF
asn1=SEQUENCE:info
[info]
version=INTEGER:0
algorithm=SEQUENCE:rsa
key=FORMAT:HEX,OCTETSTRING:$(hexof "$work/rsa.der")
attributes=IMPLICIT:0,SET:attributes
[rsa]
oid=OID:rsaEncryption
parameters=NULL
[attributes]
localKeyId=SEQUENCE:localKeyId
randomNum=SEQUENCE:randomNum
[localKeyId]
type=OID:1.2.840.113549.1.9.21
values=SET:localKeyIdValues
[localKeyIdValues]
value=FORMAT:HEX,OCTETSTRING:01020304
[randomNum]
type=OID:1.2.410.200004.10.1.1.3
values=SET:randomNumValues
[randomNumValues]
first=FORMAT:HEX,BITSTRING:A1B2C3D4E5F60718293A4B5C6D7E8F9001122334
second=FORMAT:HEX,BITSTRING:00FF
CNF
genconf "$work/plain.cnf" "$p8/plain_random_num.der"

# The KCDSA algorithm with a small domain (the values need not be a real group to be decoded).
cat > "$work/kcdsa.cnf" <<CNF
asn1=SEQUENCE:info
[info]
version=INTEGER:0
algorithm=SEQUENCE:kcdsa
key=FORMAT:HEX,OCTETSTRING:020105
[kcdsa]
oid=OID:1.2.410.200004.1.21
domain=SEQUENCE:domain
[domain]
p=INTEGER:23
q=INTEGER:11
g=INTEGER:4
CNF
genconf "$work/kcdsa.cnf" "$p8/plain_kcdsa.der"

# A KISA SHA-1 SEED-CBC key file (the ciphertext is random: decryption fails on its padding).
openssl rand 64 > "$work/random.bin"
cat > "$work/kisa.cnf" <<CNF
asn1=SEQUENCE:epki
[epki]
algorithm=SEQUENCE:algorithm
data=FORMAT:HEX,OCTETSTRING:$(hexof "$work/random.bin")
[algorithm]
oid=OID:1.2.410.200004.1.15
parameters=SEQUENCE:pbe
[pbe]
salt=FORMAT:HEX,OCTETSTRING:0102030405060708
iterations=INTEGER:4
CNF
genconf "$work/kisa.cnf" "$p8/kisa_sha1_seed.der"

# The same PrivateKeyInfo in BER: indefinite lengths.
python3 - "$p8/plain_rsa.der" "$p8/plain_rsa_ber.der" <<'PY'
import sys
der = open(sys.argv[1], "rb").read()
def parse(b, i):
    tag = b[i]; n = b[i + 1]; i += 2
    if n & 0x80:
        k = n & 0x7F; n = int.from_bytes(b[i:i + k], "big"); i += k
    return tag, b[i:i + n], i + n
tag, body, _ = parse(der, 0)
out = b"\x30\x80"
i = 0
while i < len(body):
    t, content, j = parse(body, i)
    if t == 0x30:
        out += b"\x30\x80" + content + b"\x00\x00"
    else:
        out += body[i:j]
    i = j
open(sys.argv[2], "wb").write(out + b"\x00\x00")
PY

# PBES2-params: one file per shape.
pbes2() {  # name, kdf lines, scheme oid, iv hex (empty: no IV), [salt section]
  local name=$1 kdf=$2 oid=$3 iv=$4
  local ivline="iv=FORMAT:HEX,OCTETSTRING:$iv"
  [ -z "$iv" ] && ivline=""
  cat > "$work/p.cnf" <<CNF
asn1=SEQUENCE:params
[params]
kdf=SEQUENCE:kdf
scheme=SEQUENCE:scheme
[kdf]
oid=OID:1.2.840.113549.1.5.12
parameters=SEQUENCE:kdfparameters
[kdfparameters]
$kdf
[scheme]
oid=OID:$oid
$ivline
[prf]
oid=OID:\${ENV::PRF}
parameters=NULL
[other]
oid=OID:1.2.3.4
CNF
  genconf "$work/p.cnf" "$p2/$name.der"
}
salt='salt=FORMAT:HEX,OCTETSTRING:0102030405060708'
iv=000102030405060708090A0B0C0D0E0F
export PRF=1.2.840.113549.2.7
pbes2 seed "$salt
iterations=INTEGER:3" 1.2.410.200004.1.4 $iv
pbes2 aria_keylength "$salt
iterations=INTEGER:3
keyLength=INTEGER:16" 1.2.410.100001.1.20 $iv
pbes2 aes192 "$salt
iterations=INTEGER:3" 2.16.840.1.101.3.4.1.22 $iv
pbes2 aes256_keylength_wrong "$salt
iterations=INTEGER:3
keyLength=INTEGER:16" 2.16.840.1.101.3.4.1.42 $iv
for prf in 7 8 9 10 11 6; do
  export PRF=1.2.840.113549.2.$prf
  pbes2 "aes128_prf_$prf" "$salt
iterations=INTEGER:3
prf=SEQUENCE:prf" 2.16.840.1.101.3.4.1.2 $iv
done
pbes2 other_source 'salt=SEQUENCE:other
iterations=INTEGER:3' 2.16.840.1.101.3.4.1.2 $iv
pbes2 iterations_zero "$salt
iterations=INTEGER:0" 2.16.840.1.101.3.4.1.2 $iv
pbes2 iterations_wrapping "$salt
iterations=INTEGER:0x100000003" 2.16.840.1.101.3.4.1.2 $iv
pbes2 iv_short "$salt
iterations=INTEGER:3" 1.2.410.200004.1.4 0001020304050607
pbes2 iv_missing "$salt
iterations=INTEGER:3" 1.2.410.200004.1.4 ""
pbes2 scheme_kisa_pbe "$salt
iterations=INTEGER:3" 1.2.410.200004.1.15 $iv
pbes2 iterations_negative "$salt
iterations=INTEGER:-2048" 2.16.840.1.101.3.4.1.2 $iv

# Hostile key files: an iteration count of -2048 under PBES2 and under a PKCS #12 scheme, and a
# value whose length has eight octets (2^63, beyond any signed 64-bit length).
negative_iterations() {  # name, algorithm oid, parameters section
  cat > "$work/n.cnf" <<CNF
asn1=SEQUENCE:epki
[epki]
algorithm=SEQUENCE:algorithm
data=FORMAT:HEX,OCTETSTRING:000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F
[algorithm]
oid=OID:$2
parameters=SEQUENCE:parameters
$3
[kdf]
oid=OID:1.2.840.113549.1.5.12
parameters=SEQUENCE:kdfparameters
[kdfparameters]
$salt
iterations=INTEGER:-2048
[scheme]
oid=OID:2.16.840.1.101.3.4.1.2
iv=FORMAT:HEX,OCTETSTRING:$iv
CNF
  genconf "$work/n.cnf" "$p8/$1.der"
}
negative_iterations pbes2_iterations_negative 1.2.840.113549.1.5.13 "[parameters]
kdf=SEQUENCE:kdf
scheme=SEQUENCE:scheme"
negative_iterations pkcs12_iterations_negative 1.2.840.113549.1.12.1.3 "[parameters]
$salt
iterations=INTEGER:-2048"
printf '\x30\x88\x80\x00\x00\x00\x00\x00\x00\x00\x00' > "$p8/length_8_octets.der"
