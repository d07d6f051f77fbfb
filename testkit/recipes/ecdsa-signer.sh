# ecdsa-signer <out> <issuer folder> [serial hex=4C]
# A P-256 ECDSA signer "C=KR, O=Brindlow Test, OU=ecdsa, CN=ECDSA Signer" (keyUsage
# digitalSignature, nonRepudiation; 2025-2045), issued by <issuer folder>/ca.pem with ca.key.
# Writes ecdsa.key, ecdsa.pem, ecdsa.der.
ecdsa_signer() {
  local out=$1 issuer=$2 serial=${3:-4C}
  local work=$out/.work
  ca_setup "$work"
  cat > "$work/ext.cnf" <<'CNF'
[sign]
basicConstraints = CA:false
keyUsage = critical,digitalSignature,nonRepudiation
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
  quiet openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$out/ecdsa.key"
  ca_issue "$work" "$out/ecdsa.pem" "$out/ecdsa.key" \
    "/C=KR/O=Brindlow Test/OU=ecdsa/CN=ECDSA Signer" "$issuer/ca.pem" "$issuer/ca.key" \
    "$serial" "$work/ext.cnf" sign
  to_der "$out/ecdsa.pem" "$out/ecdsa.der"
  rm -rf "$work"
}
