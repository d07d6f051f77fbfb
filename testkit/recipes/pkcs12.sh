# pkcs12 <out> [rsa8192]
# PKCS #12 files made by openssl pkcs12 -export from the signing certificate and key of the
# chain recipe (made into the same folder) with -certfile chain.pem (root and CA), password
# "q1w2e3r4!@" unless named:
#   key.der        the key as PrivateKeyInfo DER (openssl pkcs8 -topk8 -nocrypt)
#   a.p12          -name '홍길동' -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1
#                  -iter 2048
#   b.p12          -legacy (RC2-40 certificates, triple-DES key, SHA-1 MAC)
#   c.p12          -keypbe PBE-SHA1-3DES -certpbe NONE -macalg sha1 (with -name '홍길동')
#   d.p12          -keypbe NONE -certpbe NONE -macalg sha1 (a plain key bag)
#   e.p12          a.p12 with -nomaciter;  en.p12 c.p12 with -nomaciter
#   f-key-<s>.p12  a.p12 with -keypbe <s>, s = 2des, rc2-128, rc2-40, rc4-128; fn-key-<s>.p12
#                  the same with -certpbe NONE
#   f-cert-<s>.p12 a.p12 with -certpbe <s>, s = rc2-128, rc4-128
#   g.p12          -macalg sha1 -certpbe NONE (the key under PBES2, AES-256, HMAC-SHA-256)
#   h.p12          no further options (SHA-256 MAC, PBES2 everywhere)
#   i.p12          -macalg sha1 (certificates in a PBES2 EncryptedData)
#   j.p12, jn.p12  a.p12 and c.p12 with -CSP (a third bag attribute)
#   long.p12, longn.p12  a.p12 and c.p12 under the 100-character password of long.txt
#   hangul.p12, hanguln.p12  a.p12 and c.p12 under the password "비밀번호1!" (standard BMPString
#                  form)
#   kr/            the copy-suite recipe (a holder below a CA folder that media listings scan:
#                  O=yessign), and from its signing pair with -certfile kr/ca.pem:
#   kr-a.p12, kr-b.p12, kr-c.p12, kr-h.p12  as a.p12, b.p12 (-legacy), c.p12 and h.p12
# pkcs12 <out> rsa8192 makes only an RSA-8192 key, big.key (PEM) and big.der (PrivateKeyInfo),
# with a self-signed end-entity certificate for it, big.pem and big-cert.der.
pkcs12() {
  local out=$1 big=${2:-}
  if [ "$big" = rsa8192 ]; then
    rsa_key "$out/big.key" 8192
    quiet openssl pkcs8 -topk8 -nocrypt -in "$out/big.key" -outform DER -out "$out/big.der"
    # Without extensions: an end-entity certificate, not a CA.
    quiet openssl req -new -key "$out/big.key" -subj "/C=KR/O=Brindlow Test/CN=Big Key" \
      -out "$out/big.csr"
    quiet openssl x509 -req -in "$out/big.csr" -signkey "$out/big.key" -days 3650 \
      -out "$out/big.pem"
    to_der "$out/big.pem" "$out/big-cert.der"
    return
  fi
  # shellcheck source=/dev/null
  source "$kit/recipes/chain.sh"
  chain "$out"
  local P='pass:q1w2e3r4!@'
  local base=(-export -inkey "$out/sign.key" -in "$out/sign.pem" -certfile "$out/chain.pem")
  local a=(-name '홍길동' -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1 -iter 2048)
  local c=(-name '홍길동' -keypbe PBE-SHA1-3DES -certpbe NONE -macalg sha1 -iter 2048)
  quiet openssl pkcs8 -topk8 -nocrypt -in "$out/sign.key" -outform DER -out "$out/key.der"
  p12() { local name=$1 pass=$2; shift 2; quiet openssl pkcs12 "${base[@]}" -passout "$pass" \
    -out "$out/$name.p12" "$@"; }
  p12 a "$P" "${a[@]}"
  p12 b "$P" -legacy
  p12 c "$P" "${c[@]}"
  p12 d "$P" -keypbe NONE -certpbe NONE -macalg sha1
  p12 e "$P" "${a[@]}" -nomaciter
  p12 en "$P" "${c[@]}" -nomaciter
  local s
  for s in 2DES RC2-128 RC2-40 RC4-128; do
    p12 "f-key-${s,,}" "$P" "${a[@]}" -keypbe "PBE-SHA1-$s" "${LEGACY[@]}"
    p12 "fn-key-${s,,}" "$P" "${c[@]}" -keypbe "PBE-SHA1-$s" "${LEGACY[@]}"
  done
  for s in RC2-128 RC4-128; do
    p12 "f-cert-${s,,}" "$P" "${a[@]}" -certpbe "PBE-SHA1-$s" "${LEGACY[@]}"
  done
  p12 g "$P" -macalg sha1 -certpbe NONE
  p12 h "$P"
  p12 i "$P" -macalg sha1
  p12 j "$P" "${a[@]}" -CSP 'Brindlow Test Provider'
  p12 jn "$P" "${c[@]}" -CSP 'Brindlow Test Provider'
  local long
  long=$(printf 'Aa1!%.0s' $(seq 25))
  printf '%s' "$long" > "$out/long.txt"
  p12 long "pass:$long" "${a[@]}"
  p12 longn "pass:$long" "${c[@]}"
  p12 hangul 'pass:비밀번호1!' "${a[@]}"
  p12 hanguln 'pass:비밀번호1!' "${c[@]}"
  # shellcheck source=/dev/null
  source "$kit/recipes/copy-suite.sh"
  mkdir -p "$out/kr"
  copy_suite "$out/kr"
  base=(-export -inkey "$out/kr/sign.key" -in "$out/kr/sign.pem" -certfile "$out/kr/ca.pem")
  p12 kr-a "$P" "${a[@]}"
  p12 kr-b "$P" -legacy
  p12 kr-c "$P" "${c[@]}"
  p12 kr-h "$P"
}
