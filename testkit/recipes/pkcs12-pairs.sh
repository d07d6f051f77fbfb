# pkcs12-pairs <out>
# Certificates and keys to put several pairs into one PKCS #12 file (the files themselves are
# built by test code with libcrypto, testkit/include/Pkcs12Build.h). The chain recipe's material
# (root, ca, sign, km: signing and key-management pair of "Hong Gildong()0001") and, issued by
# its CA, each with a key of its own (RSA-2048, PEM):
#   other.pem/.key    "C=KR, O=Brindlow Test, OU=personal, CN=Kim Cheolsu()0002",
#                     digitalSignature
#   nousage.pem/.key  "C=KR, O=Brindlow Test, OU=personal, CN=No Usage()0003", no keyUsage
#   longa.pem/.key, longb.pem/.key  subjects that differ only in their common name ("Long A",
#                     "Long B"), which stands between two runs of three 60-character OU values,
#                     so more than 128 bytes of either rendering are the same; digitalSignature
pkcs12_pairs() {
  local out=$1
  # shellcheck source=/dev/null
  source "$kit/recipes/chain.sh"
  chain "$out"
  local work=$out/.pairs
  ca_setup "$work"
  cat > "$work/ext.cnf" <<'CNF'
[sign]
basicConstraints = CA:false
keyUsage = critical,digitalSignature,nonRepudiation
authorityKeyIdentifier = keyid
[nousage]
basicConstraints = CA:false
authorityKeyIdentifier = keyid
CNF
  local pad1 pad2 pad3
  pad1=$(printf 'a%.0s' $(seq 60)); pad2=$(printf 'b%.0s' $(seq 60)); pad3=$(printf 'c%.0s' $(seq 60))
  local run="/OU=$pad1/OU=$pad2/OU=$pad3"
  local role
  for role in other nousage longa longb; do rsa_key "$out/$role.key"; done
  ca_issue "$work" "$out/other.pem" "$out/other.key" \
    "/C=KR/O=Brindlow Test/OU=personal/CN=Kim Cheolsu()0002" "$out/ca.pem" "$out/ca.key" 05 \
    "$work/ext.cnf" sign
  ca_issue "$work" "$out/nousage.pem" "$out/nousage.key" \
    "/C=KR/O=Brindlow Test/OU=personal/CN=No Usage()0003" "$out/ca.pem" "$out/ca.key" 06 \
    "$work/ext.cnf" nousage
  # openssl x509 keeps the order of the names as given (openssl ca would sort them).
  local long serial=7
  for long in a b; do
    quiet openssl req -new -key "$out/long$long.key" -utf8 -subj "$run/CN=Long ${long^^}$run" \
      -out "$work/long.csr"
    quiet openssl x509 -req -in "$work/long.csr" -CA "$out/ca.pem" -CAkey "$out/ca.key" \
      -set_serial "$serial" -days 3650 -extfile "$work/ext.cnf" -extensions sign \
      -out "$out/long$long.pem"
    serial=$((serial + 1))
  done
  rm -rf "$work"
}
