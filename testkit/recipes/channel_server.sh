# channel_server <out> [server.key]
# Server certificates for the secure channel, self-signed, RSA-2048 unless said otherwise:
#   server.key/.pem/.der  "C=KR, O=Brindlow Test, CN=Brindlow Channel Server", keyEncipherment
#                         and digitalSignature, 2025-01-01 to 2045-01-01, serial 10 (the key is
#                         the one given, else a new one)
#   server.rsa.der        the server key as DER RSAPrivateKey (the key handle's form)
#   expired.der           the same key, 2020-01-01 to 2021-01-01
#   future.der            the same key, 2040-01-01 to 2045-01-01
#   signonly.der          the same key, digitalSignature only
#   noku.der              the same key, no keyUsage extension
#   small.key/.der        an RSA-1024 key and its certificate
#   ec.key/.der           a P-256 key and its certificate
#   other.key, other.rsa.der  an unrelated RSA-2048 key
channel_server() {
  local out=$1 key=${2:-}
  local work=$out/.work
  ca_setup "$work"
  cat > "$work/ext.cnf" <<'CNF'
[server]
basicConstraints = CA:false
keyUsage = critical,keyEncipherment,digitalSignature
subjectKeyIdentifier = hash
[signonly]
basicConstraints = CA:false
keyUsage = critical,digitalSignature
[noku]
basicConstraints = CA:false
CNF
  if [ -n "$key" ]; then cp "$key" "$out/server.key"; else rsa_key "$out/server.key"; fi
  rsa_key "$out/small.key" 1024
  rsa_key "$out/other.key"
  quiet openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$out/ec.key"
  local subject="/C=KR/O=Brindlow Test/CN=Brindlow Channel Server"
  # name, key, extension section, serial, start, end
  local spec
  while read -r spec; do
    # shellcheck disable=SC2086
    set -- $spec
    ca_issue "$work" "$out/$1.pem" "$out/$2.key" "$subject" self "$out/$2.key" "$4" \
      "$work/ext.cnf" "$3" "$5" "$6"
    to_der "$out/$1.pem" "$out/$1.der"
  done <<'LIST'
server server server 10 20250101000000Z 20450101000000Z
expired server server 11 20200101000000Z 20210101000000Z
future server server 12 20400101000000Z 20450101000000Z
signonly server signonly 13 20250101000000Z 20450101000000Z
noku server noku 14 20250101000000Z 20450101000000Z
small small server 15 20250101000000Z 20450101000000Z
ec ec server 16 20250101000000Z 20450101000000Z
LIST
  quiet openssl rsa -in "$out/server.key" -traditional -outform DER -out "$out/server.rsa.der"
  quiet openssl rsa -in "$out/other.key" -traditional -outform DER -out "$out/other.rsa.der"
  rm -rf "$work"
}
