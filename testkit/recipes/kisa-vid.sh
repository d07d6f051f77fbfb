# kisa_vid <out> [idn] [random hex]
# The chain recipe's hierarchy in <out>, plus certificates of the CA whose subjectAltName holds
# the KISA identifyData other name (1.2.410.200004.10.1.1) with the realName "홍길동" and a VID
# (1.2.410.200004.10.1.1.1) over HashContent { idn, randomNum } hashed twice with openssl dgst:
#   vid-sha1.der, vid-sha256.der, vid-sha384.der, vid-sha512.der   a VID of that hash
#   vid-empty.der   an empty virtualID (SHA-256), vid-short.der   its first 10 bytes
#   realname.der    the realName alone, plain.der   no subjectAltName at all
#   hashcontent.der   HashContent { idn, random }; hashcontent-noidn.der   { "", random }
#   idn.txt, random.hex   the identification number (default 8001011234567) and the random
# A KISA signature list (SignatureValue) over two driver hashes, signed with sign.key:
#   tokens.der            the SignatureTokenList as signed
#   siglist.der           sha256WithRSAEncryption, signer = sign.der's issuer and serial 03
#   siglist-sha1.der      the same signed with sha1WithRSAEncryption
#   siglist-serial.der    naming serial 05;  siglist-altered.der   a hash byte changed after
#                         signing
#   siglist-rsa.der       naming bare rsaEncryption, signed with SHA-256 (sign.der's own digest)
#   siglist-rsa-sha1.der  naming bare rsaEncryption, signed with SHA-1
# shellcheck source=/dev/null
source "$kit/recipes/chain.sh"
source "$kit/recipes/kisa_encrypt.sh"
source "$kit/recipes/kcdsa-cert.sh"

kisa_vid() {
  local out=$1 idn=${2:-8001011234567}
  local random=${3:-0f1e2d3c4b5a69788796a5b4c3d2e1f00112233445566778}
  chain "$out"
  local work=$out/.work
  ca_setup "$work"
  printf '%s' "$idn" > "$out/idn.txt"
  echo "$random" > "$out/random.hex"

  hash_content() {
    cat > "$work/hc.cnf" <<CNF
asn1=SEQUENCE:hc
[hc]
idn=PRINTABLESTRING:$1
randomNum=FORMAT:HEX,BITSTRING:$random
CNF
    quiet openssl asn1parse -genconf "$work/hc.cnf" -noout -out "$2"
  }
  hash_content "$idn" "$out/hashcontent.der"
  # genconf writes no empty PrintableString: the empty idn is put together by hand.
  printf '\x13\x00' > "$work/empty-idn.der"
  cat > "$work/bits.cnf" <<CNF
asn1=FORMAT:HEX,BITSTRING:$random
CNF
  quiet openssl asn1parse -genconf "$work/bits.cnf" -noout -out "$work/bits.der"
  cat "$work/empty-idn.der" "$work/bits.der" > "$work/hc-body.der"
  der_wrap 30 "$work/hc-body.der" "$out/hashcontent-noidn.der"

  # issue <name> <serial> <san line or empty> [extra sections]
  issue() {
    local name=$1 serial=$2 san=$3
    {
      echo "[ext]"
      echo "basicConstraints = CA:false"
      echo "keyUsage = critical,digitalSignature,nonRepudiation"
      [ -n "$san" ] && echo "subjectAltName = $san"
      cat "$work/sections.cnf"
    } > "$work/ext-$name.cnf"
    ca_issue "$work" "$work/$name.pem" "$out/sign.key" "/C=KR/O=Brindlow Test/CN=VID $name" \
      "$out/ca.pem" "$out/ca.key" "$serial" "$work/ext-$name.cnf" ext
    to_der "$work/$name.pem" "$out/$name.der"
  }
  # vid_sections <hash> <virtualID hex>
  vid_sections() {
    local value="FORMAT:HEX,OCTETSTRING:$2"
    [ -z "$2" ] && value="OCTETSTRING:"
    cat > "$work/sections.cnf" <<CNF
[identify]
realName=FORMAT:UTF8,UTF8:홍길동
userInfo=SEQUENCE:userInfo
[userInfo]
vid=SEQUENCE:vidInfo
[vidInfo]
type=OID:1.2.410.200004.10.1.1.1
value=SEQUENCE:vid
[vid]
hashAlg=SEQUENCE:hashAlg
virtualID=EXPLICIT:0,$value
[hashAlg]
algorithm=OID:$1
CNF
  }
  local serial=20 hash vid
  for hash in sha1 sha256 sha384 sha512; do
    vid=$(openssl dgst "-$hash" -binary "$out/hashcontent.der" | openssl dgst "-$hash" -binary |
      od -An -tx1 -v | tr -d ' \n')
    vid_sections "$hash" "$vid"
    issue "vid-$hash" $serial 'otherName:1.2.410.200004.10.1.1;SEQUENCE:identify'
    serial=$((serial + 1))
    [ "$hash" = sha256 ] && local sha256vid=$vid
  done
  vid_sections sha256 ''
  issue vid-empty 30 'otherName:1.2.410.200004.10.1.1;SEQUENCE:identify'
  vid_sections sha256 "${sha256vid:0:20}"
  issue vid-short 31 'otherName:1.2.410.200004.10.1.1;SEQUENCE:identify'
  cat > "$work/sections.cnf" <<'CNF'
[identify]
realName=FORMAT:UTF8,UTF8:홍길동
CNF
  issue realname 32 'otherName:1.2.410.200004.10.1.1;SEQUENCE:identify'
  : > "$work/sections.cnf"
  issue plain 33 ''

  # The signature list.
  cat > "$work/tokens.cnf" <<'CNF'
asn1=SEQUENCE:tokens
[tokens]
t1=SEQUENCE:token1
t2=SEQUENCE:token2
[token1]
driverName=PRINTABLESTRING:brindlow-driver.so
hashID=SEQUENCE:sha256
hashValue=FORMAT:HEX,OCTETSTRING:9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08
[token2]
driverName=PRINTABLESTRING:second
hashID=SEQUENCE:sha1
hashValue=FORMAT:HEX,OCTETSTRING:a94a8fe5ccb19ba61c4c0873d391e987982fbbd3
[sha256]
algorithm=OID:sha256
parameters=NULL
[sha1]
algorithm=OID:sha1
CNF
  quiet openssl asn1parse -genconf "$work/tokens.cnf" -noout -out "$out/tokens.der"
  # The issuer Name exactly as the signing certificate holds it.
  quiet openssl asn1parse -inform DER -in "$out/sign.der" -strparse 4 -noout -out "$work/tbs.der"
  # tbs: [0] version, serial, signature algorithm, issuer: the fourth element.
  local offset
  offset=$(openssl asn1parse -inform DER -in "$work/tbs.der" |
    awk -F: '$0 ~ /d=1/ {n++; if (n == 4) {gsub(/ /, "", $1); print $1; exit}}')
  quiet openssl asn1parse -inform DER -in "$work/tbs.der" -strparse "$offset" -noout \
    -out "$work/issuer.der"

  # siglist <out> <digest> <algorithm oid> <serial hex> [tokens file]
  siglist() {
    local target=$1 digest=$2 oid=$3 serial=$4 tokens=${5:-$out/tokens.der}
    openssl dgst "-$digest" -sign "$out/sign.key" -out "$work/sig.bin" "$out/tokens.der"
    cat > "$work/alg.cnf" <<CNF
asn1=SEQUENCE:alg
[alg]
algorithm=OID:$oid
parameters=NULL
CNF
    quiet openssl asn1parse -genconf "$work/alg.cnf" -noout -out "$work/alg.der"
    cat > "$work/serial.cnf" <<CNF
asn1=INTEGER:0x$serial
CNF
    quiet openssl asn1parse -genconf "$work/serial.cnf" -noout -out "$work/serial.der"
    cat "$work/issuer.der" "$work/serial.der" > "$work/signer-body.der"
    der_wrap 30 "$work/signer-body.der" "$work/signer.der"
    cat > "$work/sig.cnf" <<CNF
asn1=FORMAT:HEX,OCTETSTRING:$(hexdump_of "$work/sig.bin")
CNF
    quiet openssl asn1parse -genconf "$work/sig.cnf" -noout -out "$work/sig.der"
    cat "$tokens" "$work/alg.der" "$work/signer.der" "$work/sig.der" > "$work/value-body.der"
    der_wrap 30 "$work/value-body.der" "$target"
  }
  siglist "$out/siglist.der" sha256 sha256WithRSAEncryption 03
  siglist "$out/siglist-sha1.der" sha1 sha1WithRSAEncryption 03
  siglist "$out/siglist-serial.der" sha256 sha256WithRSAEncryption 05
  siglist "$out/siglist-rsa.der" sha256 rsaEncryption 03
  siglist "$out/siglist-rsa-sha1.der" sha1 rsaEncryption 03
  sed 's/9f86d081884c7d65/9f86d081884c7d66/' "$work/tokens.cnf" > "$work/altered.cnf"
  quiet openssl asn1parse -genconf "$work/altered.cnf" -noout -out "$work/altered.der"
  siglist "$out/siglist-altered.der" sha256 sha256WithRSAEncryption 03 "$work/altered.der"
  rm -rf "$work"
}
