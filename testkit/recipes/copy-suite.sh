# copy-suite <out> [password]
# The certificates and keys of one holder as a copy between media meets them, issued by a kit CA
# (ca.pem/.der/.key, also as "CaPubs"), all for the subject
# "C=KR, O=yessign, OU=personal4IB, CN=홍길동()0011" (a UTF-8 common name), RSA-2048:
#   sign.der      digitalSignature, nonRepudiation; 2025-01-01 to 2045-01-01; key sign.key
#   km.der        keyEncipherment only; same dates; key km.key
#   km-ds.der     digitalSignature and keyEncipherment; same dates; key km.key
#   older.der     the signing key's certificate, 2024-01-01 to 2044-01-01
#   newer.der     the signing key's certificate, 2026-01-01 to 2046-01-01
#   signPri.key, kmPri.key  the two keys as NPKI key files under the password (default
#                 "q1w2e3r4!@"); sign-plain.der, km-plain.der their PrivateKeyInfo
#   gov.der       "C=KR, O=Government of Korea, OU=Ministry, CN=김정부" (GPKI), self-signed with
#                 sign.key, digitalSignature; gov-km.der the same name, keyEncipherment, km.key
#   gov-dotdot.der, gov-nocn.der  GPKI certificates whose common name is ".." and absent
copy_suite() {
  local out=$1 password=${2:-'q1w2e3r4!@'}
  local work=$out/.work
  ca_setup "$work"
  cat > "$work/ext.cnf" <<'CNF'
[ca]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[sign]
basicConstraints = CA:false
keyUsage = critical,digitalSignature,nonRepudiation
authorityKeyIdentifier = keyid
[km]
basicConstraints = CA:false
keyUsage = critical,keyEncipherment
authorityKeyIdentifier = keyid
[kmds]
basicConstraints = CA:false
keyUsage = critical,digitalSignature,keyEncipherment
authorityKeyIdentifier = keyid
[gov]
basicConstraints = CA:false
keyUsage = critical,digitalSignature,nonRepudiation
[govkm]
basicConstraints = CA:false
keyUsage = critical,keyEncipherment
CNF
  local role
  for role in ca sign km; do rsa_key "$out/$role.key"; done
  local holder="/C=KR/O=yessign/OU=personal4IB/CN=홍길동()0011"
  local gov="/C=KR/O=Government of Korea/OU=Ministry/CN=김정부"
  ca_issue "$work" "$out/ca.pem" "$out/ca.key" "/C=KR/O=Brindlow Test/CN=Brindlow Copy CA" self \
    "$out/ca.key" 01 "$work/ext.cnf" ca
  ca_issue "$work" "$out/sign.pem" "$out/sign.key" "$holder" "$out/ca.pem" "$out/ca.key" 10 \
    "$work/ext.cnf" sign
  ca_issue "$work" "$out/km.pem" "$out/km.key" "$holder" "$out/ca.pem" "$out/ca.key" 11 \
    "$work/ext.cnf" km
  ca_issue "$work" "$out/km-ds.pem" "$out/km.key" "$holder" "$out/ca.pem" "$out/ca.key" 12 \
    "$work/ext.cnf" kmds
  ca_issue "$work" "$out/older.pem" "$out/sign.key" "$holder" "$out/ca.pem" "$out/ca.key" 13 \
    "$work/ext.cnf" sign 20240101000000Z 20440101000000Z
  ca_issue "$work" "$out/newer.pem" "$out/sign.key" "$holder" "$out/ca.pem" "$out/ca.key" 14 \
    "$work/ext.cnf" sign 20260101000000Z 20460101000000Z
  ca_issue "$work" "$out/gov.pem" "$out/sign.key" "$gov" self "$out/sign.key" 20 \
    "$work/ext.cnf" gov
  ca_issue "$work" "$out/gov-km.pem" "$out/km.key" "$gov" self "$out/km.key" 21 \
    "$work/ext.cnf" govkm
  ca_issue "$work" "$out/gov-dotdot.pem" "$out/sign.key" "/C=KR/O=Government of Korea/CN=.." \
    self "$out/sign.key" 22 "$work/ext.cnf" gov
  ca_issue "$work" "$out/gov-nocn.pem" "$out/sign.key" "/C=KR/O=Government of Korea/OU=Ministry" \
    self "$out/sign.key" 23 "$work/ext.cnf" gov
  for role in ca sign km km-ds older newer gov gov-km gov-dotdot gov-nocn; do to_der "$out/$role.pem" "$out/$role.der"; done
  cp "$out/ca.der" "$out/CaPubs"
  npki_key "$out/sign.key" "$out/signPri.key" "$password"
  npki_key "$out/km.key" "$out/kmPri.key" "$password"
  quiet openssl pkcs8 -topk8 -nocrypt -in "$out/sign.key" -outform DER -out "$out/sign-plain.der"
  quiet openssl pkcs8 -topk8 -nocrypt -in "$out/km.key" -outform DER -out "$out/km-plain.der"
  rm -rf "$work"
}
