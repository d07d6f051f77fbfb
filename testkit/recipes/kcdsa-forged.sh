# kcdsa-forged <out> <issuer folder> <p hex> <q hex> <g hex> <y hex>
# Forged KCDSA keys for the public value y of a real pair (the standard's example pair), beside
# GPKI certificates of y that name no domain ("O=Government of Korea", issued as kcdsa-cert
# issues them). Each key is a PrivateKeyInfo (kcdsa_key) whose own domain is no group of prime
# order, chosen so that y^q = 1 and y^x = g hold in it although x is not y's key. python3 does the
# arithmetic, with a fixed seed, so the files are the same on every run.
#   nodomain/kcdsa.der    certificate of y without algorithm parameters (serial 4E)
#   nulldomain/kcdsa.der  the same with NULL parameters (serial 4F)
#   order3/plain.der      x = 1 in p = y^2 + y + 1, q = 3, g = y (y^3 = 1 mod p)
#   composite/plain.der   the same p, q an odd 160-bit multiple of 3, x random below q and not a
#                         multiple of 3, g = y^x mod p
#   huge/plain.der        p and q of 65536 bits, g random below p, x of 256 bits
# (each key folder also holds what kcdsa_key writes beside plain.der)
# shellcheck source=/dev/null
source "$kit/recipes/kcdsa_key.sh"
# shellcheck source=/dev/null
source "$kit/recipes/kcdsa-cert.sh"

kcdsa_forged() {
  local out=$1 issuer=${2:?usage: kcdsa-forged <out> <issuer folder> <p> <q> <g> <y>}
  local p=${3:?} q=${4:?} g=${5:?} y=${6:?}
  local gov='Government of Korea'
  kcdsa_cert "$out/nodomain" "$issuer" "$p" "$q" "$g" "$y" 1.2.410.200004.1.1 4E "$gov" \
    'KCDSA Signer' none
  kcdsa_cert "$out/nulldomain" "$issuer" "$p" "$q" "$g" "$y" 1.2.410.200004.1.1 4F "$gov" \
    'KCDSA Signer' null
  local values
  values=$(python3 - "$y" <<'PY'
import random, sys
y = int(sys.argv[1], 16)
rng = random.Random(41)
p = y * y + y + 1
lines = [("order3", p, 3, y, 1)]
while True:
    q = rng.getrandbits(160) | (1 << 159) | 1
    q -= q % 3
    if q % 2 == 0:
        q -= 3
    if q.bit_length() == 160:
        break
while True:
    x = rng.randrange(2, q)
    if x % 3:
        break
lines.append(("composite", p, q, pow(y, x, p), x))
hp = rng.getrandbits(65536) | (1 << 65535) | 1
hq = rng.getrandbits(65536) | (1 << 65535) | 1
lines.append(("huge", hp, hq, rng.randrange(2, hp), rng.getrandbits(256) | (1 << 255)))
for name, dp, dq, dg, dx in lines:
    print(name, "%x" % dp, "%x" % dq, "%x" % dg, "%x" % dx)
PY
  )
  local name kp kq kg kx
  while read -r name kp kq kg kx; do
    kcdsa_key "$out/$name" "$kp" "$kq" "$kg" "$kx"
  done <<<"$values"
}
