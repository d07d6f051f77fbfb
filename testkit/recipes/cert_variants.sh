# cert_variants <out>
# End-entity certificates that differ in one thing each, issued by one kit CA for one RSA-2048
# key (ca.pem/.der/.key, holder.key, holder.pub.pem), for the checks that tell certificates apart:
#   gov.der         "C=KR, O=Government of Korea, OU=Ministry of Testing, CN=Kim Chulsoo" (GPKI),
#                   digitalSignature, nonRepudiation; 2025-01-01 to 2045-01-01
#   gov-lower.der   the same with O=government of korea
#   no-o.der        "C=KR, CN=No Organization"
#   no-ku.der       no keyUsage extension
#   km.der          keyUsage keyEncipherment only
#   long.der        a subject of 20 OU values of 60 characters and a CN (over 1023 characters
#                   as text)
#   newer.der       gov.der's subject, 2026-01-01 to 2046-01-01
#   older.der       2024-01-01 to 2044-01-01
#   overlap.der     starts later (2026-01-01) and ends earlier (2044-01-01) than gov.der
cert_variants() {
  local out=$1
  local work=$out/.work
  ca_setup "$work"
  cat > "$work/ext.cnf" <<'CNF'
[ca]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = none
[sign]
basicConstraints = CA:false
keyUsage = critical,digitalSignature,nonRepudiation
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[km]
basicConstraints = CA:false
keyUsage = critical,keyEncipherment
authorityKeyIdentifier = keyid
[noku]
basicConstraints = CA:false
authorityKeyIdentifier = keyid
CNF
  rsa_key "$out/ca.key"
  rsa_key "$out/holder.key"
  quiet openssl pkey -in "$out/holder.key" -pubout -out "$out/holder.pub.pem"
  ca_issue "$work" "$out/ca.pem" "$out/ca.key" "/C=KR/O=Brindlow Test/CN=Brindlow Variants CA" \
    self "$out/ca.key" 01 "$work/ext.cnf" ca
  local gov="/C=KR/O=Government of Korea/OU=Ministry of Testing/CN=Kim Chulsoo"
  local long="/C=KR" i
  for i in $(seq -w 1 20); do
    long="$long/OU=Unit $i $(printf 'x%.0s' $(seq 1 52))"
  done
  long="$long/CN=Long Subject"
  local serial=10 name subject section start end
  while read -r name section start end subject; do
    ca_issue "$work" "$work/$name.pem" "$out/holder.key" "$subject" "$out/ca.pem" "$out/ca.key" \
      "$serial" "$work/ext.cnf" "$section" "$start" "$end"
    to_der "$work/$name.pem" "$out/$name.der"
    serial=$((serial + 1))
  done <<LIST
gov sign 20250101000000Z 20450101000000Z $gov
gov-lower sign 20250101000000Z 20450101000000Z /C=KR/O=government of korea/OU=Ministry of Testing/CN=Kim Chulsoo
no-o sign 20250101000000Z 20450101000000Z /C=KR/CN=No Organization
no-ku noku 20250101000000Z 20450101000000Z $gov
km km 20250101000000Z 20450101000000Z $gov
long sign 20250101000000Z 20450101000000Z $long
newer sign 20260101000000Z 20460101000000Z $gov
older sign 20240101000000Z 20440101000000Z $gov
overlap sign 20260101000000Z 20440101000000Z $gov
LIST
  to_der "$out/ca.pem" "$out/ca.der"
  rm -rf "$work"
}
