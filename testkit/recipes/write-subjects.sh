# write-subjects <out> [key folder]
# Certificates whose subjects decide where a certificate set is written in the NPKI and GPKI
# layouts, all with one RSA-2048 key (k.key, taken from the key folder when it holds one); DER
# files beside the PEM ones, valid 2025-01-01 to 2045-01-01. kisa-ca's key identifier is
# 0102...14 (20 bytes); the others carry the key's hash, and every certificate but the root names
# its issuer's.
#   kisa-root   "C=KR, O=KISA, OU=Korea Certification Authority Central, CN=KISA RootCA 4":
#               self-signed, no authority key identifier, serial 0x0123456789ABCDEF
#   kisa-ca     "C=KR, O=KISA, CN=KISA Sub CA": issued by kisa-root, serial 0x2A
#   yessign-sign, yessign-km  "C=KR, O=yessign, OU=personal4IB, OU=XYZ, CN=Hong()0012", issued by
#               kisa-ca: digitalSignature, nonRepudiation / keyEncipherment
#   gpki-people-sign, gpki-people-env  "C=KR, O=Government of Korea, OU=Ministry, OU=people,
#               CN=Kim GPKI001": digitalSignature / keyEncipherment
#   gpki-org-sign  "C=KR, O=Government of Korea, OU=Ministry of Test" (no CN)
#   gpki-ca     "C=KR, O=Government of Korea, OU=GPKI, CN=CA134100031": a CA
#   unknown-ca-user  "C=KR, O=Unknown CA, CN=Nobody": names no known authority
#   slash-user  "C=KR, O=yessign, CN=../../escape": a subject that is not one path component
#   comma-user  "C=KR, O=yessign, CN=Kim\, Jr": rendered with a backslash
#   dotdot-ca   "C=KR, O=Government of Korea, CN=..": a GPKI CA whose file would be ".."
write_subjects() {
  local out=$1 keys=${2:-}
  local work=$out/.work
  ca_setup "$work"
  if [ -n "$keys" ] && [ -f "$keys/k.key" ]; then cp "$keys/k.key" "$out/k.key"
  else rsa_key "$out/k.key"; fi
  local k=$out/k.key
  cat > "$work/ext.cnf" <<'CNF'
[root]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = none
[ca]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = 0102030405060708090A0B0C0D0E0F1011121314
authorityKeyIdentifier = keyid:always
[sign]
basicConstraints = CA:false
keyUsage = critical,digitalSignature,nonRepudiation
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[km]
basicConstraints = CA:false
keyUsage = critical,keyEncipherment
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
CNF
  local serial=256
  # issue <name> <subject> <issuer name|self> <section> [serial]
  issue() {
    local issuer=$3
    [ "$issuer" != self ] && issuer=$out/$3.pem
    serial=$((serial + 1))
    ca_issue "$work" "$out/$1.pem" "$k" "$2" "$issuer" "$k" "${5:-$(printf '%04X' "$serial")}" \
      "$work/ext.cnf" "$4"
    to_der "$out/$1.pem" "$out/$1.der"
  }
  issue kisa-root "/C=KR/O=KISA/OU=Korea Certification Authority Central/CN=KISA RootCA 4" self \
    root 0123456789ABCDEF
  issue kisa-ca "/C=KR/O=KISA/CN=KISA Sub CA" kisa-root ca 2A
  issue yessign-sign "/C=KR/O=yessign/OU=personal4IB/OU=XYZ/CN=Hong()0012" kisa-ca sign
  issue yessign-km "/C=KR/O=yessign/OU=personal4IB/OU=XYZ/CN=Hong()0012" kisa-ca km
  local people="/C=KR/O=Government of Korea/OU=Ministry/OU=people/CN=Kim GPKI001"
  issue gpki-people-sign "$people" kisa-ca sign
  issue gpki-people-env "$people" kisa-ca km
  issue gpki-org-sign "/C=KR/O=Government of Korea/OU=Ministry of Test" kisa-ca sign
  issue gpki-ca "/C=KR/O=Government of Korea/OU=GPKI/CN=CA134100031" kisa-ca ca
  issue unknown-ca-user "/C=KR/O=Unknown CA/CN=Nobody" kisa-ca sign
  issue slash-user '/C=KR/O=yessign/CN=..\/..\/escape' kisa-ca sign
  issue comma-user '/C=KR/O=yessign/CN=Kim, Jr' kisa-ca sign
  issue dotdot-ca "/C=KR/O=Government of Korea/CN=.." kisa-ca ca
  rm -rf "$work"
}
