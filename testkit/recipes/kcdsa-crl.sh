# kcdsa-crl <out> <directory URL> [key folder]
# A KCDSA hierarchy whose lists a directory at <directory URL> ("ldap://host:port") serves below
# "o=Brindlow KCDSA,c=KR", with the distribution points written as in ldap-crl-points: the user's
# CRL at an "ou=" entry, the CA's authority list at a "cn=" entry. openssl cannot sign with KCDSA,
# so, as kcdsa-cert does for a certificate, openssl makes the structures (openssl ca, with RSA
# stand-in keys root.key and ca.key from the key folder when it holds them) and the KCDSA parts
# are put in afterwards: the root's and the CA's subject public keys become KCDSA keys and every
# TBSCertificate and TBSCertList is signed again with KCDSA (SHA-1, the hash the library pairs
# with KCDSA signatures; signature algorithm 1.2.410.200004.1.21, keys 1.2.410.200004.1.1 with the
# domain SEQUENCE { p, q, g }) by a small signer written from the standard (TTAK.KO-12.0001), in
# Python. The domain (1024-bit p, 160-bit q) and the keys come from a fixed seed, so every run
# makes the same ones; each signature is checked by the same code before it is written.
# Valid from 2025-01-01 to 2045-01-01; all files DER.
#   root.der    "C=KR, O=Brindlow KCDSA, CN=KCDSA CRL Root", self-signed (KCDSA), serial 01
#   ca.der      "C=KR, O=Brindlow KCDSA, CN=KCDSA CRL CA", by the root, serial 02; its point
#               <URL>/cn=arl1,cn=KCDSA CRL Root,o=Brindlow KCDSA,c=KR?authorityRevocationList;binary
#   user-<c>.der  "C=KR, O=Brindlow KCDSA, OU=people, CN=KCDSA User <c>" (RSA key sign.key), by
#               the CA; each names <URL>/ou=<c>,cn=KCDSA CRL CA,o=Brindlow KCDSA,c=KR?
#               certificateRevocationList;binary, whose list is <c>.crl:
#                 valid   ca.crl, the CA's list
#                 sig     ca.crl with the last byte of its signature changed
#                 tbs     ca.crl with the last byte of its TBSCertList changed (signature kept)
#                 other   ca.crl's TBSCertList signed by another key of the same domain
#   ca.crl, root.arl   the CA's CRL and the root's authority list (KCDSA)
#   kcdsa.txt   the domain and the keys as "name = hex" lines: P, Q, G, and X and Y of root, ca
#               and other
#   base.ldif, entries.ldif   the organization, then the CAs and the points (";binary" values)
KCDSA_CRL_CASES="valid sig tbs other"

kcdsa_crl() {
  local out=$1 url=${2:?usage: kcdsa-crl <out> <ldap://host:port> [key folder]} keys=${3:-}
  local work=$out/.work org="o=Brindlow KCDSA,c=KR"
  crl_ca_setup "$work" "$url/cn=arl1,cn=KCDSA CRL Root,$org?authorityRevocationList;binary"
  local c
  for c in $KCDSA_CRL_CASES; do
    printf '[user_%s]\nbasicConstraints = CA:false\nkeyUsage = critical,digitalSignature,nonRepudiation\nsubjectKeyIdentifier = hash\nauthorityKeyIdentifier = keyid\ncrlDistributionPoints = user_%s_cdp\n[user_%s_cdp]\nfullname = @user_%s_uri\n[user_%s_uri]\nURI.0 = %s\n' \
      "$c" "$c" "$c" "$c" "$c" "$url/ou=$c,cn=KCDSA CRL CA,$org?certificateRevocationList;binary" \
      >> "$work/ext.cnf"
  done
  local role
  for role in root ca sign; do
    if [ -n "$keys" ] && [ -f "$keys/$role.key" ]; then cp "$keys/$role.key" "$out/$role.key"
    else rsa_key "$out/$role.key"; fi
  done
  local subject="/C=KR/O=Brindlow KCDSA"
  ca_issue "$work" "$work/root.pem" "$out/root.key" "$subject/CN=KCDSA CRL Root" self \
    "$out/root.key" 01 "$work/ext.cnf" root
  ca_issue "$work" "$work/ca.pem" "$out/ca.key" "$subject/CN=KCDSA CRL CA" "$work/root.pem" \
    "$out/root.key" 02 "$work/ext.cnf" ca
  local serial=3
  for c in $KCDSA_CRL_CASES; do
    ca_issue "$work" "$work/user-$c.pem" "$out/sign.key" "$subject/OU=people/CN=KCDSA User $c" \
      "$work/ca.pem" "$out/ca.key" "0$serial" "$work/ext.cnf" "user_$c"
    serial=$((serial + 1))
  done
  echo 01 > "$work/crlnumber"
  local issuer
  for issuer in root ca; do
    quiet openssl ca -config "$work/ca.cnf" -gencrl -cert "$work/$issuer.pem" \
      -keyfile "$out/$issuer.key" -crlexts crl_ext -crl_lastupdate 20250101000000Z \
      -crl_nextupdate 20450101000000Z -out "$work/$issuer-list.pem"
    quiet openssl crl -in "$work/$issuer-list.pem" -outform DER -out "$work/$issuer-list.der"
  done
  for role in root ca; do to_der "$work/$role.pem" "$work/$role.der"; done
  for c in $KCDSA_CRL_CASES; do to_der "$work/user-$c.pem" "$work/user-$c.der"; done
  kcdsa_crl_sign "$work" "$out"

  printf 'dn: %s\nobjectClass: organization\no: Brindlow KCDSA\n' "$org" > "$out/base.ldif"
  b64() { base64 -w0 "$out/$1"; }
  {
    printf 'dn: cn=KCDSA CRL Root,%s\nobjectClass: applicationProcess\n' "$org"
    printf 'objectClass: certificationAuthority\ncn: KCDSA CRL Root\n'
    printf 'cACertificate;binary:: %s\n' "$(b64 root.der)"
    printf 'certificateRevocationList;binary:: %s\n' "$(b64 root.arl)"
    printf 'authorityRevocationList;binary:: %s\n\n' "$(b64 root.arl)"
    printf 'dn: cn=arl1,cn=KCDSA CRL Root,%s\nobjectClass: cRLDistributionPoint\n' "$org"
    printf 'cn: arl1\nauthorityRevocationList;binary:: %s\n\n' "$(b64 root.arl)"
    printf 'dn: cn=KCDSA CRL CA,%s\nobjectClass: applicationProcess\n' "$org"
    printf 'objectClass: certificationAuthority\ncn: KCDSA CRL CA\n'
    printf 'cACertificate;binary:: %s\n' "$(b64 ca.der)"
    printf 'certificateRevocationList;binary:: %s\n' "$(b64 ca.crl)"
    printf 'authorityRevocationList;binary:: %s\n\n' "$(b64 root.arl)"
    for c in $KCDSA_CRL_CASES; do
      printf 'dn: ou=%s,cn=KCDSA CRL CA,%s\nobjectClass: organizationalUnit\n' "$c" "$org"
      printf 'objectClass: certificationAuthority\nou: %s\n' "$c"
      printf 'cACertificate;binary:: %s\n' "$(b64 ca.der)"
      printf 'certificateRevocationList;binary:: %s\n' "$(b64 "$c.crl")"
      printf 'authorityRevocationList;binary:: %s\n\n' "$(b64 root.arl)"
    done
  } > "$out/entries.ldif"
  rm -rf "$work"
}

# kcdsa_crl_sign <work> <out>: the KCDSA parts of the hierarchy (see above), from the openssl
# files in <work> into <out>.
kcdsa_crl_sign() {
  python3 - "$1" "$2" <<'PY'
import hashlib, os, random, sys

work, out = sys.argv[1], sys.argv[2]
rng = random.Random('brindlow kcdsa-crl')

# ---- DER ----
def header(b, i):
    """(tag, contents start, end) of the element at i."""
    n, j = b[i + 1], i + 2
    if n & 0x80:
        k = n & 0x7F
        n, j = int.from_bytes(b[j:j + k], 'big'), j + k
    return b[i], j, j + n

def children(b, start, end):
    parts, i = [], start
    while i < end:
        _, _, e = header(b, i)
        parts.append(b[i:e])
        i = e
    return parts

def enc(tag, body):
    n = len(body)
    if n < 0x80:
        head = bytes([n])
    else:
        length = n.to_bytes((n.bit_length() + 7) // 8, 'big')
        head = bytes([0x80 | len(length)]) + length
    return bytes([tag]) + head + body

def integer(v):
    return enc(0x02, v.to_bytes(v.bit_length() // 8 + 1, 'big'))

def oid(text):
    arcs = [int(a) for a in text.split('.')]
    body = bytes([40 * arcs[0] + arcs[1]])
    for a in arcs[2:]:
        chunk = [a & 0x7F]
        a >>= 7
        while a:
            chunk.insert(0, 0x80 | (a & 0x7F))
            a >>= 7
        body += bytes(chunk)
    return enc(0x06, body)

def minimal(v):
    return v.to_bytes((v.bit_length() + 7) // 8, 'big')

# ---- Domain (p = 2Jq + 1) and keys ----
SMALL = [n for n in range(3, 2000) if all(n % d for d in range(2, int(n ** 0.5) + 1))]

def prime(n):
    for s in SMALL:
        if n % s == 0:
            return n == s
    d, r = n - 1, 0
    while d % 2 == 0:
        d, r = d // 2, r + 1
    for _ in range(40):
        x = pow(rng.randrange(2, n - 1), d, n)
        if x in (1, n - 1):
            continue
        for _ in range(r - 1):
            x = x * x % n
            if x == n - 1:
                break
        else:
            return False
    return True

while True:
    q = rng.getrandbits(160) | (1 << 159) | 1
    if prime(q):
        break
while True:
    J = rng.getrandbits(1024 - 161) | (1 << (1024 - 162))
    p = 2 * J * q + 1
    if p.bit_length() == 1024 and prime(p):
        break
h = 2
while pow(h, 2 * J, p) == 1:
    h += 1
g = pow(h, 2 * J, p)
assert pow(g, q, p) == 1

def keypair():
    x = rng.randrange(1, q)
    return x, pow(g, pow(x, -1, q), p)

keys = {name: keypair() for name in ('root', 'ca', 'other')}

# ---- KCDSA with SHA-1: |q| = 160 bits = the digest, so nothing is cut ----
def z_of(y):
    return (y % (1 << 512)).to_bytes(64, 'big')  # y mod 2^l, l = SHA-1's block in bits

def kcdsa_sign(x, y, message):
    hashed = int.from_bytes(hashlib.sha1(z_of(y) + message).digest(), 'big')
    while True:
        k = rng.randrange(1, q)
        r = hashlib.sha1(minimal(pow(g, k, p))).digest()
        e = (int.from_bytes(r, 'big') ^ hashed) % q
        s = x * (k - e) % q
        if s:
            return r, s

def kcdsa_verify(y, message, r, s):
    hashed = int.from_bytes(hashlib.sha1(z_of(y) + message).digest(), 'big')
    e = (int.from_bytes(r, 'big') ^ hashed) % q
    w = pow(g, e, p) * pow(y, s, p) % p
    return 0 < s < q and hashlib.sha1(minimal(w)).digest() == r

SIGNATURE_ALGORITHM = enc(0x30, oid('1.2.410.200004.1.21'))
DOMAIN = enc(0x30, integer(p) + integer(q) + integer(g))

def public_key_info(y):
    return enc(0x30, enc(0x30, oid('1.2.410.200004.1.1') + DOMAIN) + enc(0x03, b'\0' + integer(y)))

def signed(tbs, signer):
    x, y = keys[signer]
    r, s = kcdsa_sign(x, y, tbs)
    assert kcdsa_verify(y, tbs, r, s)
    value = enc(0x30, enc(0x03, b'\0' + r) + integer(s))
    return enc(0x30, tbs + SIGNATURE_ALGORITHM + enc(0x03, b'\0' + value))

def tbs_parts(der):
    _, start, end = header(der, 0)
    tbs = children(der, start, end)[0]
    _, start, end = header(tbs, 0)
    return children(tbs, start, end)

def resign(name, signer, subject_key=None):
    """The certificate or list with the KCDSA signature algorithm (and subject key), signed."""
    parts = tbs_parts(open(os.path.join(work, name), 'rb').read())
    certificate = parts[0][0] == 0xA0  # a certificate's [0] version; a list's is an INTEGER
    at = 2 if certificate else (1 if parts[0][0] == 0x02 else 0)
    parts[at] = SIGNATURE_ALGORITHM
    if subject_key:
        parts[6] = public_key_info(keys[subject_key][1])
    return enc(0x30, b''.join(parts)), signer

def write(name, der):
    open(os.path.join(out, name), 'wb').write(der)

write('root.der', signed(*resign('root.der', 'root', 'root')))
write('ca.der', signed(*resign('ca.der', 'root', 'ca')))
for case in ('valid', 'sig', 'tbs', 'other'):
    write('user-%s.der' % case, signed(*resign('user-%s.der' % case, 'ca')))
write('root.arl', signed(*resign('root-list.der', 'root')))
tbs, _ = resign('ca-list.der', 'ca')
crl = signed(tbs, 'ca')
write('ca.crl', crl)
write('valid.crl', crl)
write('sig.crl', crl[:-1] + bytes([crl[-1] ^ 0x01]))
changed = bytearray(tbs)
changed[-1] ^= 0x01
write('tbs.crl', crl.replace(tbs, bytes(changed), 1))
write('other.crl', signed(tbs, 'other'))

with open(os.path.join(out, 'kcdsa.txt'), 'w') as f:
    for label, value in (('P', p), ('Q', q), ('G', g)):
        f.write('%s = %x\n' % (label, value))
    for name, (x, y) in keys.items():
        f.write('%s X = %x\n%s Y = %x\n' % (name, x, name, y))
PY
}
