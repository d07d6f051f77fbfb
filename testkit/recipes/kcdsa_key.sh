# kcdsa_key <out> <p hex> <q hex> <g hex> <x hex> [algorithm OID] [password]
# A KCDSA private key as the GPKI media keep it (openssl has no KCDSA, so the key comes from the
# caller, for example the crypto library or a published example key):
#   plain.der   PrivateKeyInfo: the algorithm (default 1.2.410.200004.1.1; 1.2.410.200004.1.21
#               is the other identifier) with the domain parameters SEQUENCE { p, q, g } as its
#               parameters, and the privateKey OCTET STRING holding INTEGER x
#   domain.der  the domain parameters alone
#   key.der     plain.der encrypted as a GPKI key file (kisa_encrypt gpki: PBES2, ARIA-128-CBC,
#               PBKDF2-HMAC-SHA-1, 2048 iterations; password default "q1w2e3r4!@")
#   openssl.der, salt.hex, iv.hex, cipherkey.hex   as kisa_key writes them
# shellcheck source=/dev/null
source "$kit/recipes/kisa_encrypt.sh"

kcdsa_key() {
  local out=$1
  local p=${2:?usage: kcdsa_key <out> <p> <q> <g> <x> [oid] [password]} q=${3:?} g=${4:?} x=${5:?}
  local oid=${6:-1.2.410.200004.1.1} password=${7:-'q1w2e3r4!@'}
  local work=$out/.work
  mkdir -p "$work"
  local domain="[domain]
p=INTEGER:0x$p
q=INTEGER:0x$q
g=INTEGER:0x$g"
  printf 'asn1=SEQUENCE:domain\n%s\n' "$domain" > "$work/domain.cnf"
  quiet openssl asn1parse -genconf "$work/domain.cnf" -noout -out "$out/domain.der"
  cat > "$work/x.cnf" <<CNF
asn1=INTEGER:0x$x
CNF
  quiet openssl asn1parse -genconf "$work/x.cnf" -noout -out "$work/x.der"
  cat > "$work/plain.cnf" <<CNF
asn1=SEQUENCE:info
[info]
version=INTEGER:0
algorithm=SEQUENCE:algorithm
key=FORMAT:HEX,OCTETSTRING:$(hexdump_of "$work/x.der")
[algorithm]
oid=OID:$oid
parameters=SEQUENCE:domain
$domain
CNF
  quiet openssl asn1parse -genconf "$work/plain.cnf" -noout -out "$out/plain.der"
  rm -rf "$work"
  kisa_encrypt "$out" gpki "$password"
}
