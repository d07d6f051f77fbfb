# cms-enveloped <out> <chain folder>
# EnvelopedData made by openssl cms -encrypt for the chain's key-management certificate (km.pem,
# keyEncipherment): the shapes another program sends. Messages m0, m1000 and m1M (0, 1,000 and
# 1,048,576 random bytes).
#   ktri-<cipher>.der     key transport (PKCS #1 v1.5), m1000, cipher seed-cbc, aes-128-cbc,
#                         aes-192-cbc, aes-256-cbc, des-ede3-cbc, des-cbc
#   ktri-seed-<m>.der     SEED for each message
#   oaep.der oaep256.der  RSAES-OAEP with SHA-1 (default parameters) and with SHA-256, SEED
#   two.der               two recipients: sign.pem first, then km.pem
#   pwri-<cipher>.der     a password recipient ("q1w2e3r4!@"), each cipher
#   stream.der            key transport with indefinite lengths (-stream), SEED, m1000
#   kek.der               a KEK recipient: key 000102..0F, id 0A0B0C, AES-128-CBC content
#   km-rsa.der sign-rsa.der  the two keys as DER RSAPrivateKey (what a key handle carries)
cms_enveloped() {
  local out=$1 chain=$2
  head -c 0 /dev/urandom > "$out/m0"
  head -c 1000 /dev/urandom > "$out/m1000"
  head -c 1048576 /dev/urandom > "$out/m1M"
  encrypt_cms() {
    local name=$1 message=$2
    shift 2
    quiet openssl cms -encrypt "${LEGACY[@]}" -binary -in "$out/$message" -outform DER \
      -out "$out/$name.der" "$@"
  }
  local c m
  for c in seed-cbc aes-128-cbc aes-192-cbc aes-256-cbc des-ede3-cbc des-cbc; do
    encrypt_cms "ktri-$c" m1000 "-$c" "$chain/km.pem"
    encrypt_cms "pwri-$c" m1000 "-$c" -pwri_password 'q1w2e3r4!@'
  done
  for m in m0 m1000 m1M; do encrypt_cms "ktri-seed-$m" "$m" -seed-cbc "$chain/km.pem"; done
  encrypt_cms oaep m1000 -seed-cbc -recip "$chain/km.pem" -keyopt rsa_padding_mode:oaep
  encrypt_cms oaep256 m1000 -seed-cbc -recip "$chain/km.pem" -keyopt rsa_padding_mode:oaep \
    -keyopt rsa_oaep_md:sha256
  encrypt_cms two m1000 -seed-cbc -recip "$chain/sign.pem" -recip "$chain/km.pem"
  encrypt_cms stream m1000 -seed-cbc -stream "$chain/km.pem"
  encrypt_cms kek m1000 -aes-128-cbc -secretkey 000102030405060708090A0B0C0D0E0F \
    -secretkeyid 0A0B0C
  quiet openssl rsa -in "$chain/km.key" -traditional -outform DER -out "$out/km-rsa.der"
  quiet openssl rsa -in "$chain/sign.key" -traditional -outform DER -out "$out/sign-rsa.der"
}
