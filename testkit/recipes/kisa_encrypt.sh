# kisa_encrypt <out> <npki|gpki> [password]
# <out>/plain.der (any PrivateKeyInfo, for example one openssl would not write) encrypted as the
# NPKI and GPKI media keep their keys, assembled by hand (openssl kdf, enc and asn1parse
# -genconf): PBES2 with PBKDF2-HMAC-SHA-1, 2048 iterations, an 8-byte salt and a 16-byte IV;
# SEED-CBC (1.2.410.200004.1.4) for npki, ARIA-128-CBC as 1.2.410.100001.1.20 with keyLength 16
# for gpki. Password default "q1w2e3r4!@".
#   key.der     the EncryptedPrivateKeyInfo
#   salt.hex, iv.hex, cipherkey.hex   the salt, IV and derived cipher key used
#   openssl.der (gpki only) the same bytes under OpenSSL's ARIA-128-CBC identifier
#               1.2.410.200046.1.1.2, so that openssl pkcs8 opens it
kisa_encrypt() {
  local out=$1 kind=${2:?usage: kisa_encrypt <out> <npki|gpki> [password]}
  local password=${3:-'q1w2e3r4!@'}
  local cipher scheme_oid keylen=''
  case $kind in
    npki) cipher=seed-cbc; scheme_oid=1.2.410.200004.1.4 ;;
    gpki) cipher=aria-128-cbc; scheme_oid=1.2.410.100001.1.20; keylen='keylen=INTEGER:16' ;;
    *) echo "kisa_encrypt: npki or gpki, not $kind" >&2; return 2 ;;
  esac
  local work=$out/.work
  mkdir -p "$work"
  local salt iv cipherkey
  salt=$(openssl rand -hex 8)
  iv=$(openssl rand -hex 16)
  cipherkey=$(openssl kdf -keylen 16 -kdfopt digest:SHA1 -kdfopt "pass:$password" \
    -kdfopt "hexsalt:$salt" -kdfopt iter:2048 PBKDF2 | tr -d ':\n')
  echo "$salt" > "$out/salt.hex"
  echo "$iv" > "$out/iv.hex"
  echo "$cipherkey" > "$out/cipherkey.hex"
  quiet openssl enc "-$cipher" -K "$cipherkey" -iv "$iv" -in "$out/plain.der" \
    -out "$work/encrypted.bin" "${LEGACY[@]}"
  local encrypted
  encrypted=$(hexdump_of "$work/encrypted.bin")
  local oid
  for oid in "$scheme_oid" 1.2.410.200046.1.1.2; do
    cat > "$work/epki.cnf" <<CNF
asn1=SEQUENCE:epki
[epki]
algorithm=SEQUENCE:pbes2
data=FORMAT:HEX,OCTETSTRING:$encrypted
[pbes2]
oid=OID:1.2.840.113549.1.5.13
parameters=SEQUENCE:parameters
[parameters]
kdf=SEQUENCE:kdf
scheme=SEQUENCE:scheme
[kdf]
oid=OID:1.2.840.113549.1.5.12
parameters=SEQUENCE:kdfparameters
[kdfparameters]
salt=FORMAT:HEX,OCTETSTRING:$salt
iterations=INTEGER:2048
$keylen
[scheme]
oid=OID:$oid
iv=FORMAT:HEX,OCTETSTRING:$iv
CNF
    if [ "$oid" = "$scheme_oid" ]; then
      quiet openssl asn1parse -genconf "$work/epki.cnf" -noout -out "$out/key.der"
    elif [ "$kind" = gpki ]; then
      quiet openssl asn1parse -genconf "$work/epki.cnf" -noout -out "$out/openssl.der"
    fi
  done
  rm -rf "$work"
}

# hexdump_of <file>: the bytes as one line of lower-case hex digits.
hexdump_of() { od -An -tx1 -v "$1" | tr -d ' \n'; }
