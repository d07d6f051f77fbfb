# chain <out> [password]
# A three-level RSA-2048 hierarchy, valid from 2025-01-01 to 2045-01-01:
#   root.pem/.der/.key  "C=KR, O=Brindlow Test, CN=Brindlow Test Root": self-signed, no
#                       authority key identifier, serial 01
#   ca.pem/.der/.key    "C=KR, O=Brindlow Test, CN=Brindlow Test CA", issued by the root, 02
#   sign.pem/.der/.key  "C=KR, O=Brindlow Test, OU=personal, CN=Hong Gildong()0001", issued by
#                       the CA: digitalSignature, nonRepudiation; serial 03
#   km.pem/.der/.key    the same subject: keyEncipherment only; serial 04
#   chain.pem (root then CA), cas.pem (the CA alone)
#   signPri.key, kmPri.key: the two keys as NPKI key files under the password
#     (default "q1w2e3r4!@")
chain() {
  local out=$1 password=${2:-'q1w2e3r4!@'}
  local work=$out/.work
  ca_setup "$work"
  cat > "$work/ext.cnf" <<'CNF'
[root]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = none
[ca]
basicConstraints = critical,CA:true,pathlen:0
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[sign]
basicConstraints = CA:false
keyUsage = critical,digitalSignature,nonRepudiation
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[km]
basicConstraints = CA:false
keyUsage = critical,keyEncipherment
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
  local role
  for role in root ca sign km; do rsa_key "$out/$role.key"; done
  local org="/C=KR/O=Brindlow Test"
  ca_issue "$work" "$out/root.pem" "$out/root.key" "$org/CN=Brindlow Test Root" self \
    "$out/root.key" 01 "$work/ext.cnf" root
  ca_issue "$work" "$out/ca.pem" "$out/ca.key" "$org/CN=Brindlow Test CA" "$out/root.pem" \
    "$out/root.key" 02 "$work/ext.cnf" ca
  ca_issue "$work" "$out/sign.pem" "$out/sign.key" "$org/OU=personal/CN=Hong Gildong()0001" \
    "$out/ca.pem" "$out/ca.key" 03 "$work/ext.cnf" sign
  ca_issue "$work" "$out/km.pem" "$out/km.key" "$org/OU=personal/CN=Hong Gildong()0001" \
    "$out/ca.pem" "$out/ca.key" 04 "$work/ext.cnf" km
  for role in root ca sign km; do to_der "$out/$role.pem" "$out/$role.der"; done
  cat "$out/root.pem" "$out/ca.pem" > "$out/chain.pem"
  cp "$out/ca.pem" "$out/cas.pem"
  npki_key "$out/sign.key" "$out/signPri.key" "$password"
  npki_key "$out/km.key" "$out/kmPri.key" "$password"
  rm -rf "$work"
}
