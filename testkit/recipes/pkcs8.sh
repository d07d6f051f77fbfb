# pkcs8 <out> <scheme> [password] [key.pem]
# A private key as PKCS #8, made by openssl pkcs8 -topk8:
#   key.pem    the key (a new RSA-2048 key unless one is given)
#   plain.der  PrivateKeyInfo DER
#   key.der    EncryptedPrivateKeyInfo DER under the scheme and the password (default
#              "q1w2e3r4!@")
# Schemes:
#   PBE-SHA1-3DES, PBE-SHA1-2DES, PBE-SHA1-RC2-128, PBE-SHA1-RC2-40, PBE-SHA1-RC4-128,
#   PBE-SHA1-RC4-40: the PKCS #12 schemes (openssl's -v1, 2048 iterations)
#   <cipher>[:<prf>][@<iterations>]: PBES2 with openssl's -v2 cipher (seed-cbc, aes-128-cbc,
#   aes-192-cbc, aes-256-cbc, aria-128-cbc, des3, ...), the PRF (hmacWithSHA1, hmacWithSHA224,
#   hmacWithSHA256, hmacWithSHA384, hmacWithSHA512; openssl's default HMAC-SHA-256) and the
#   iteration count (default 2048). seed-cbc alone is the NPKI profile: HMAC-SHA-1, 2048.
pkcs8() {
  local out=$1 scheme=${2:?usage: pkcs8 <out> <scheme> [password] [key.pem]}
  local password=${3:-'q1w2e3r4!@'} key=${4:-}
  if [ -z "$key" ]; then
    rsa_key "$out/key.pem"
  elif [ "$(cd "$(dirname "$key")" && pwd)/$(basename "$key")" != "$out/key.pem" ]; then
    cp "$key" "$out/key.pem"
  fi
  quiet openssl pkcs8 -topk8 -nocrypt -in "$out/key.pem" -outform DER -out "$out/plain.der"
  local args
  case $scheme in
    PBE-*) args=(-v1 "$scheme" -iter 2048) ;;
    *)
      local cipher=${scheme%%[:@]*} prf='' iterations=2048
      [[ $scheme == *:* ]] && { prf=${scheme#*:}; prf=${prf%%@*}; }
      [[ $scheme == *@* ]] && iterations=${scheme##*@}
      [ "$scheme" = seed-cbc ] && prf=hmacWithSHA1
      args=(-v2 "$cipher" -iter "$iterations")
      [ -n "$prf" ] && args+=(-v2prf "$prf")
      ;;
  esac
  quiet openssl pkcs8 -topk8 -in "$out/key.pem" -outform DER -out "$out/key.der" "${args[@]}" \
    -passout "pass:$password" "${LEGACY[@]}"
}
