# rsa-bounds <out> <chain folder>
# RSA keys at and beyond the size bounds that keys from files and peers are held to, issued by
# the chain's CA (ca.pem, ca.key):
#   wide.key/.pem    RSA-4096 with e = 65537, "CN=Wide Key"
#   e65.key/.pem     RSA-3072 with the 65-bit e = 2^64 + 1, "CN=Long Exponent"
#   <key>-pub.der    each key as a DER RSAPublicKey
#   <key>.sig        openssl dgst -sha256 -sign over m.bin (1,000 random bytes)
#   <key>.p7         openssl cms -sign of m.bin by that key (SHA-256, content attached)
#   huge.pem/.der    the chain's sign.pem again (its subject, issuer and serial) with a 32768-bit
#                    modulus and a 32768-bit public exponent below it in place of its key
#                    (openssl x509 -force_pubkey; openssl makes no such key, so the numbers
#                    come from python3 with a fixed seed)
#   huge-pub.der     that key as a DER RSAPublicKey
#   huge.p7          m.bin signed by the chain's sign.key (openssl cms -sign, SHA-256, content
#                    attached) with huge.pem in place of sign.pem as the only certificate
rsa_bounds() {
  local out=$1 chain=${2:?usage: rsa-bounds <out> <chain folder>}
  local work=$out/.work
  mkdir -p "$work"
  head -c 1000 /dev/urandom > "$out/m.bin"
  quiet openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:4096 -out "$out/wide.key"
  quiet openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:3072 \
    -pkeyopt rsa_keygen_pubexp:18446744073709551617 -out "$out/e65.key"
  printf '[sign]\nbasicConstraints = CA:false\nkeyUsage = critical,digitalSignature\n' \
    > "$work/ext.cnf"
  local name common serial=20
  for name in wide e65; do
    case $name in wide) common='Wide Key' ;; e65) common='Long Exponent' ;; esac
    quiet openssl req -new -key "$out/$name.key" -subj "/C=KR/O=Brindlow Test/CN=$common" \
      -out "$work/$name.csr"
    quiet openssl x509 -req -in "$work/$name.csr" -CA "$chain/ca.pem" -CAkey "$chain/ca.key" \
      -set_serial "$serial" -days 3650 -extfile "$work/ext.cnf" -extensions sign \
      -out "$out/$name.pem"
    serial=$((serial + 1))
    quiet openssl rsa -in "$out/$name.key" -RSAPublicKey_out -outform DER -out "$out/$name-pub.der"
    quiet openssl dgst -sha256 -sign "$out/$name.key" -out "$out/$name.sig" "$out/m.bin"
    quiet openssl cms -sign -binary -in "$out/m.bin" -signer "$out/$name.pem" \
      -inkey "$out/$name.key" -md sha256 -nodetach -outform DER -out "$out/$name.p7"
  done

  python3 - "$work" <<'PY'
import random, sys
rng = random.Random(32768)
n = rng.getrandbits(32768) | (3 << 32766) | 1
e = rng.getrandbits(32768) | (1 << 32767) | 1
e &= ~(1 << 32766)  # below n
rsa = "n=INTEGER:0x%x\ne=INTEGER:0x%x\n" % (n, e)
with open(sys.argv[1] + "/rsa.cnf", "w") as f:
    f.write("asn1=SEQUENCE:rsa\n[rsa]\n" + rsa)
with open(sys.argv[1] + "/spki.cnf", "w") as f:
    f.write("asn1=SEQUENCE:spki\n[spki]\nalg=SEQUENCE:alg\nkey=BITWRAP,SEQUENCE:rsa\n"
            "[alg]\noid=OID:rsaEncryption\nparameters=NULL\n[rsa]\n" + rsa)
PY
  quiet openssl asn1parse -genconf "$work/rsa.cnf" -noout -out "$out/huge-pub.der"
  quiet openssl asn1parse -genconf "$work/spki.cnf" -noout -out "$work/spki.der"
  quiet openssl pkey -pubin -inform DER -in "$work/spki.der" -out "$work/spki.pem"
  local sign_serial
  sign_serial=$(openssl x509 -in "$chain/sign.pem" -noout -serial)
  quiet openssl x509 -x509toreq -in "$chain/sign.pem" -signkey "$chain/sign.key" \
    -out "$work/sign.csr"
  quiet openssl x509 -req -in "$work/sign.csr" -force_pubkey "$work/spki.pem" \
    -CA "$chain/ca.pem" -CAkey "$chain/ca.key" -set_serial "0x${sign_serial#serial=}" \
    -days 3650 -out "$out/huge.pem"
  quiet openssl x509 -in "$out/huge.pem" -outform DER -out "$out/huge.der"
  quiet openssl cms -sign -binary -in "$out/m.bin" -signer "$chain/sign.pem" \
    -inkey "$chain/sign.key" -nocerts -certfile "$out/huge.pem" -md sha256 -nodetach \
    -outform DER -out "$out/huge.p7"
  rm -rf "$work"
}
