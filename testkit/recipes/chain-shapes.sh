# chain-shapes <out> [key folder]
# Hierarchies whose issuer search must still end. All but the first root share one RSA-2048 key
# (k.key) and have explicit subject key identifiers (the hexadecimal named below, padded with
# zeros to 20 bytes), so that issuers are told apart by identifier only; the keys k.key and s.key are taken from the key folder when it holds them (recipe
# rsa-keys). Valid 2025-01-01 to 2045-01-01 (the first root: 20 years from now); DER files
# beside the PEM ones.
#   selfaki.der         "CN=Self AKI Root": self-signed CA (key s.key) whose authority key
#                       identifier is its own key hash, as openssl req makes roots by default
#   selfaki-ca.der      "CN=Self AKI CA", issued by it (5A02)
#   selfaki-leaf.der    "CN=Self AKI Leaf", issued by the CA (5A03), digitalSignature
#   cross-a.der         "CN=Cross A" (5B01) issued by Cross B, and cross-b.der "CN=Cross B"
#                       (5B02) issued by Cross A: a loop of cross certificates
#   cross-leaf.der      "CN=Cross Leaf" (5B03), issued by Cross A
#   deep-0.der          "CN=Deep 0": self-signed root without authority key identifier (5C00)
#   deep-1 .. deep-17   "CN=Deep <n>" (5C01 .. 5C11), each issued by the one before
#   deep-leaf-15.der    "CN=Deep Leaf 15", issued by deep-15: 16 issuers up to the root
#   deep-leaf-17.der    "CN=Deep Leaf 17", issued by deep-17: 18 issuers up to the root
chain_shapes() {
  local out=$1 keys=${2:-}
  local work=$out/.work
  ca_setup "$work"
  local name
  for name in k s; do
    if [ -n "$keys" ] && [ -f "$keys/$name.key" ]; then cp "$keys/$name.key" "$out/$name.key"
    else rsa_key "$out/$name.key"; fi
  done
  local k=$out/k.key serial=4096
  # ext <section> <subject key identifier> <ca|leaf> <authority key identifier: none|keyid|always>
  # An explicit identifier is padded with zeros to 20 bytes: openssl does not copy shorter ones
  # into the authority key identifier of the certificates it issues.
  ext() {
    local constraints="critical,CA:true" usage="critical,keyCertSign,cRLSign"
    [ "$3" = leaf ] && constraints="CA:false" && usage="critical,digitalSignature"
    local aki=$4
    [ "$aki" = always ] && aki="keyid:always"
    local ski=$2
    [ "$ski" != hash ] && ski=$(printf '%s%0*d' "$ski" $((40 - ${#ski})) 0)
    printf '[%s]\nbasicConstraints = %s\nkeyUsage = %s\nsubjectKeyIdentifier = %s\nauthorityKeyIdentifier = %s\n' \
      "$1" "$constraints" "$usage" "$ski" "$aki" >> "$work/ext.cnf"
  }
  # issue <name> <subject CN> <issuer name|self> <section> [issuer key]
  issue() {
    local issuer=$3
    [ "$issuer" != self ] && issuer=$out/$3.pem
    serial=$((serial + 1))
    ca_issue "$work" "$out/$1.pem" "$k" "/C=KR/O=Brindlow Shapes/CN=$2" "$issuer" "${5:-$k}" \
      "$(printf '%X' "$serial")" "$work/ext.cnf" "$4"
    to_der "$out/$1.pem" "$out/$1.der"
  }
  : > "$work/ext.cnf"
  # openssl ca cannot name a self-signed certificate's own key; openssl req can.
  ext selfaki hash ca always
  cat "$work/ext.cnf" >> "$work/ca.cnf"
  quiet openssl req -x509 -new -config "$work/ca.cnf" -key "$out/s.key" -utf8 \
    -subj "/C=KR/O=Brindlow Shapes/CN=Self AKI Root" -set_serial 0x1000 -days 7300 \
    -extensions selfaki -out "$out/selfaki.pem"
  to_der "$out/selfaki.pem" "$out/selfaki.der"
  ext selfaki_ca 5A02 ca keyid
  ext selfaki_leaf 5A03 leaf keyid
  issue selfaki-ca "Self AKI CA" selfaki selfaki_ca "$out/s.key"
  issue selfaki-leaf "Self AKI Leaf" selfaki-ca selfaki_leaf

  # Each of the pair first on its own, then issued by the other.
  ext cross_a0 5B01 ca none
  ext cross_b0 5B02 ca none
  ext cross_a 5B01 ca keyid
  ext cross_b 5B02 ca keyid
  ext cross_leaf 5B03 leaf keyid
  issue .cross-a0 "Cross A" self cross_a0
  issue .cross-b0 "Cross B" self cross_b0
  issue cross-a "Cross A" .cross-b0 cross_a
  issue cross-b "Cross B" .cross-a0 cross_b
  issue cross-leaf "Cross Leaf" cross-a cross_leaf
  rm -f "$out"/.cross-*

  local n
  ext deep_0 5C00 ca none
  issue deep-0 "Deep 0" self deep_0
  for n in $(seq 1 17); do
    ext "deep_$n" "$(printf '5C%02X' "$n")" ca keyid
    issue "deep-$n" "Deep $n" "deep-$((n - 1))" "deep_$n"
  done
  for n in 15 17; do
    ext "deep_leaf_$n" "$(printf '5D%02X' "$n")" leaf keyid
    issue "deep-leaf-$n" "Deep Leaf $n" "deep-$n" "deep_leaf_$n"
  done
  rm -rf "$work"
}
