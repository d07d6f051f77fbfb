# crl-large <out> <entries>
# A list of many entries made by openssl ca -gencrl over a generated database.
#   ca.pem, ca.key  "CN=Large CRL CA", self-signed (RSA-2048)
#   large.crl       (DER) the CA's list revoking the serials 0x100000 + 1 .. 0x100000 + <entries>
#                   (every tenth with keyCompromise, the rest without reason), valid from
#                   2025-01-01 to 2045-01-01
#   first.txt, last.txt, absent.txt  a revoked serial near the start, the last one, and one that
#                   is not on the list (hexadecimal)
crl_large() {
  local out=$1 entries=${2:?usage: crl-large <out> <entries>}
  local work=$out/.work
  ca_setup "$work"
  printf '[ca_ext]\nbasicConstraints = critical,CA:true\nkeyUsage = critical,keyCertSign,cRLSign\nsubjectKeyIdentifier = hash\n[crl_ext]\nauthorityKeyIdentifier = keyid:always\n' > "$work/ext.cnf"
  cat "$work/ext.cnf" >> "$work/ca.cnf"
  rsa_key "$out/ca.key"
  ca_issue "$work" "$out/ca.pem" "$out/ca.key" "/C=KR/O=Brindlow CRL/CN=Large CRL CA" self \
    "$out/ca.key" 01 "$work/ext.cnf" ca_ext
  awk -v n="$entries" 'BEGIN {
    for (i = 1; i <= n; i++) {
      reason = (i % 10 == 0) ? ",keyCompromise" : ""
      printf "R\t450101000000Z\t250601000000Z%s\t%X\tunknown\t/CN=User %d\n", reason, 1048576 + i, i
    }
  }' > "$work/index.txt"
  quiet openssl ca -config "$work/ca.cnf" -gencrl -cert "$out/ca.pem" -keyfile "$out/ca.key" \
    -crlexts crl_ext -crl_lastupdate 20250101000000Z -crl_nextupdate 20450101000000Z \
    -out "$work/large.pem"
  quiet openssl crl -in "$work/large.pem" -outform DER -out "$out/large.crl"
  printf '%X\n' $((1048576 + 2)) > "$out/first.txt"
  printf '%X\n' $((1048576 + entries)) > "$out/last.txt"
  printf '%X\n' $((1048576 + entries + 1)) > "$out/absent.txt"
  rm -rf "$work"
}
