# kcdsa-cert <out> <issuer folder> <p hex> <q hex> <g hex> <y hex> [oid=1.2.410.200004.1.1]
#            [serial hex=4B] [organization=Brindlow Test] [common name=KCDSA Signer]
#            [parameters=domain]
# A certificate holding a KCDSA public key, issued by <issuer folder>/ca.pem with ca.key
# (sha256WithRSAEncryption): the algorithm is <oid> with the domain SEQUENCE { p, q, g } as its
# parameters (with parameters "none" the algorithm has none, with "null" a NULL; p, q and g are
# then not used), the key the INTEGER y; subject "C=KR, O=<organization>, OU=kcdsa, CN=<common name>"
# ("O=Government of Korea" makes it a GPKI certificate),
# keyUsage digitalSignature, nonRepudiation, valid 2025-2045. openssl cannot make KCDSA keys:
# the fields come from asn1parse -genconf, the issuer is the issuer certificate's subject
# byte for byte, and the TBSCertificate is signed with openssl dgst.
# Writes kcdsa.der and kcdsa.pem.
kcdsa_cert() {
  local out=$1 issuer=$2 p=$3 q=$4 g=$5 y=$6 oid=${7:-1.2.410.200004.1.1} serial=${8:-4B}
  local organization=${9:-Brindlow Test} common=${10:-KCDSA Signer} parameters=${11:-domain}
  local algorithm_parameters
  case $parameters in
    domain) algorithm_parameters='d=SEQUENCE:domain' ;;
    none) algorithm_parameters='' ;;
    null) algorithm_parameters='d=NULL' ;;
    *) echo "kcdsa-cert: parameters domain, none or null, not $parameters" >&2; return 2 ;;
  esac
  local work=$out/.work
  mkdir -p "$work"
  cat > "$work/fields.cnf" <<CNF
[sigalg]
a=OID:sha256WithRSAEncryption
n=NULL
[validity]
from=UTCTIME:250101000000Z
to=UTCTIME:450101000000Z
[subject]
c=SET:c
o=SET:o
ou=SET:ou
cn=SET:cn
[c]
v=SEQUENCE:cv
[cv]
t=OID:countryName
v=PRINTABLESTRING:KR
[o]
v=SEQUENCE:ov
[ov]
t=OID:organizationName
v=UTF8String:$organization
[ou]
v=SEQUENCE:ouv
[ouv]
t=OID:organizationalUnitName
v=UTF8String:kcdsa
[cn]
v=SEQUENCE:cnv
[cnv]
t=OID:commonName
v=UTF8String:$common
[spki]
alg=SEQUENCE:keyalg
key=BITWRAP,INTEGER:0x$y
[keyalg]
a=OID:$oid
$algorithm_parameters
[domain]
p=INTEGER:0x$p
q=INTEGER:0x$q
g=INTEGER:0x$g
[extensions]
e=EXPLICIT:3,SEQUENCE:extlist
[extlist]
ku=SEQUENCE:ku
[ku]
t=OID:keyUsage
c=BOOLEAN:TRUE
v=OCTWRAP,FORMAT:BITLIST,BITSTRING:0,1
CNF
  local field
  local -A top=([version]='EXPLICIT:0,INTEGER:2' [serial]="INTEGER:0x$serial"
    [sigalg]='SEQUENCE:sigalg' [validity]='SEQUENCE:validity' [subject]='SEQUENCE:subject'
    [spki]='SEQUENCE:spki' [extensions]='EXPLICIT:3,SEQUENCE:extlist')
  for field in version serial sigalg validity subject spki extensions; do
    { echo "asn1=${top[$field]}"; cat "$work/fields.cnf"; } > "$work/$field.cnf"
    quiet openssl asn1parse -genconf "$work/$field.cnf" -out "$work/$field.der" -noout
  done
  # The issuer: the issuer certificate's subject, the sixth field of its TBSCertificate.
  openssl x509 -in "$issuer/ca.pem" -outform DER -out "$work/ca.der"
  local at
  at=$(openssl asn1parse -inform DER -in "$work/ca.der" | awk '/d=2/ {n++; if (n == 6) print}')
  local offset=${at%%:*} hl l
  hl=$(sed -E 's/.*hl= *([0-9]+).*/\1/' <<<"$at")
  l=$(sed -E 's/.*l= *([0-9]+) cons.*/\1/' <<<"$at")
  dd if="$work/ca.der" of="$work/issuer.der" bs=1 skip="$offset" count=$((hl + l)) status=none
  cat "$work/version.der" "$work/serial.der" "$work/sigalg.der" "$work/issuer.der" \
    "$work/validity.der" "$work/subject.der" "$work/spki.der" "$work/extensions.der" \
    > "$work/tbs.body"
  der_wrap 30 "$work/tbs.body" "$work/tbs.der"
  quiet openssl dgst -sha256 -sign "$issuer/ca.key" -out "$work/signature.bin" "$work/tbs.der"
  printf 'asn1=FORMAT:HEX,BITSTRING:%s\n' "$(od -An -v -tx1 "$work/signature.bin" | tr -d ' \n')" \
    > "$work/signature.cnf"
  quiet openssl asn1parse -genconf "$work/signature.cnf" -out "$work/signature.der" -noout
  cat "$work/tbs.der" "$work/sigalg.der" "$work/signature.der" > "$work/cert.body"
  der_wrap 30 "$work/cert.body" "$out/kcdsa.der"
  quiet openssl x509 -inform DER -in "$out/kcdsa.der" -out "$out/kcdsa.pem"
  # openssl verify cannot read a KCDSA key; the issuer's signature is checked over the bytes.
  openssl x509 -in "$issuer/ca.pem" -pubkey -noout > "$work/issuer.pub"
  quiet openssl dgst -sha256 -verify "$work/issuer.pub" -signature "$work/signature.bin" \
    "$work/tbs.der"
  rm -rf "$work"
}

# der_wrap <tag hex> <content file> <out file>: the element with a definite length.
der_wrap() {
  local tag=$1 body=$2 target=$3 n length
  n=$(stat -c %s "$body")
  if [ "$n" -lt 128 ]; then length=$(printf '%02x' "$n")
  elif [ "$n" -lt 256 ]; then length=$(printf '81%02x' "$n")
  elif [ "$n" -lt 65536 ]; then length=$(printf '82%04x' "$n")
  else length=$(printf '83%06x' "$n"); fi
  # shellcheck disable=SC2059 # the header's bytes as \x escapes
  { printf "$(sed 's/../\\x&/g' <<<"$tag$length")"; cat "$body"; } > "$target"
}
