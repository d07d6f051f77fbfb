# cms-signed <out> <chain folder> <ecdsa folder>
# SignedData made by openssl cms -sign with the chain's signer (sign.pem, sign.key): the shapes
# another program sends. Messages m0, m1000 and m1M (0, 1,000 and 1,048,576 random bytes).
#   attr-<m>.der      signed attributes with smimeCapabilities, SHA-256, content attached
#   nosmimecap.der    the same without smimeCapabilities (m1000, as all below)
#   sha1.der sha384.der sha512.der          other digests, without smimeCapabilities
#   noattr.der        no signed attributes
#   detached.der detached-noattr.der         content left out
#   stream.der        indefinite lengths (-stream)
#   nocerts.der       no certificates field
#   two-signers.der   signed by sign and by the CA key
#   md5.der pss.der   MD5 digest; RSASSA-PSS signature
#   ecdsa.der         signed by the ECDSA signer of <ecdsa folder>
#   <name>.print      openssl cms -cmsout -print of each
#   sign-rsa.der      the signer's key as a DER RSAPrivateKey (what a key handle carries)
cms_signed() {
  local out=$1 chain=$2 ec=$3
  head -c 0 /dev/urandom > "$out/m0"
  head -c 1000 /dev/urandom > "$out/m1000"
  head -c 1048576 /dev/urandom > "$out/m1M"
  local signer=(-signer "$chain/sign.pem" -inkey "$chain/sign.key")
  sign_cms() {
    local name=$1 message=$2
    shift 2
    quiet openssl cms -sign -binary -in "$out/$message" -outform DER -out "$out/$name.der" "$@"
  }
  local m
  for m in m0 m1000 m1M; do sign_cms "attr-$m" "$m" "${signer[@]}" -md sha256 -nodetach; done
  sign_cms nosmimecap m1000 "${signer[@]}" -md sha256 -nodetach -nosmimecap
  local md
  for md in sha1 sha384 sha512; do
    sign_cms "$md" m1000 "${signer[@]}" -md "$md" -nodetach -nosmimecap
  done
  sign_cms noattr m1000 "${signer[@]}" -md sha256 -nodetach -noattr
  sign_cms detached m1000 "${signer[@]}" -md sha256 -nosmimecap
  sign_cms detached-noattr m1000 "${signer[@]}" -md sha256 -noattr
  sign_cms stream m1000 "${signer[@]}" -md sha256 -nodetach -nosmimecap -stream
  sign_cms nocerts m1000 "${signer[@]}" -md sha256 -nodetach -nosmimecap -nocerts
  sign_cms two-signers m1000 "${signer[@]}" -signer "$chain/ca.pem" -inkey "$chain/ca.key" \
    -md sha256 -nodetach -nosmimecap
  sign_cms md5 m1000 "${signer[@]}" -md md5 -nodetach -nosmimecap
  sign_cms pss m1000 "${signer[@]}" -md sha256 -nodetach -nosmimecap \
    -keyopt rsa_padding_mode:pss
  sign_cms ecdsa m1000 -signer "$ec/ecdsa.pem" -inkey "$ec/ecdsa.key" -md sha256 -nodetach \
    -nosmimecap
  local file
  for file in "$out"/*.der; do
    quiet openssl cms -cmsout -print -inform DER -in "$file" -out "${file%.der}.print"
  done
  quiet openssl pkey -in "$chain/sign.key" -traditional -outform DER -out "$out/sign-rsa.der"
}
