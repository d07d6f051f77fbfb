# kisa_key <out> <npki|gpki> [password] [key.pem] [random hex]
# A key file as the NPKI and GPKI media keep it, assembled by hand (openssl kdf, enc and
# asn1parse -genconf): PBES2 with PBKDF2-HMAC-SHA-1, 2048 iterations, an 8-byte salt and a
# 16-byte IV; SEED-CBC (1.2.410.200004.1.4) for npki, ARIA-128-CBC as 1.2.410.100001.1.20 with
# keyLength 16 for gpki. Password default "q1w2e3r4!@"; a new RSA-2048 key unless one is given.
#   key.pem     the key
#   plain.der   its PrivateKeyInfo; with the random hex, carrying the KISA randomNum attribute
#               (1.2.410.200004.10.1.1.3, one BIT STRING), which openssl pkcs8 -topk8 would drop
#   key.der     the EncryptedPrivateKeyInfo (signPri.key or a GPKI _sig.key)
#   salt.hex, iv.hex, cipherkey.hex   the salt, IV and derived cipher key used
#   openssl.der (gpki only) the same bytes under OpenSSL's ARIA-128-CBC identifier
#               1.2.410.200046.1.1.2, so that openssl pkcs8 opens it
# shellcheck source=/dev/null
source "$kit/recipes/kisa_encrypt.sh"

kisa_key() {
  local out=$1 kind=${2:?usage: kisa_key <out> <npki|gpki> [password] [key.pem] [random hex]}
  local password=${3:-'q1w2e3r4!@'} key=${4:-} random=${5:-}
  case $kind in
    npki | gpki) ;;
    *) echo "kisa_key: npki or gpki, not $kind" >&2; return 2 ;;
  esac
  if [ -z "$key" ]; then
    rsa_key "$out/key.pem"
  elif [ "$(cd "$(dirname "$key")" && pwd)/$(basename "$key")" != "$out/key.pem" ]; then
    cp "$key" "$out/key.pem"
  fi
  local work=$out/.work
  mkdir -p "$work"
  if [ -z "$random" ]; then
    quiet openssl pkcs8 -topk8 -nocrypt -in "$out/key.pem" -outform DER -out "$out/plain.der"
  else
    quiet openssl rsa -in "$out/key.pem" -traditional -outform DER -out "$work/rsa.der"
    cat > "$work/plain.cnf" <<CNF
asn1=SEQUENCE:info
[info]
version=INTEGER:0
algorithm=SEQUENCE:rsa
key=FORMAT:HEX,OCTETSTRING:$(hexdump_of "$work/rsa.der")
attributes=IMPLICIT:0,SET:attributes
[rsa]
oid=OID:rsaEncryption
parameters=NULL
[attributes]
randomNum=SEQUENCE:randomNum
[randomNum]
type=OID:1.2.410.200004.10.1.1.3
values=SET:values
[values]
value=FORMAT:HEX,BITSTRING:$random
CNF
    quiet openssl asn1parse -genconf "$work/plain.cnf" -noout -out "$out/plain.der"
  fi
  rm -rf "$work"
  kisa_encrypt "$out" "$kind" "$password"
}
