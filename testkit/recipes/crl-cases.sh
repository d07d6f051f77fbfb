# crl-cases <out> <directory URL> [key folder]
# Revocation and path cases made by openssl ca for a directory at <directory URL>
# ("ldap://host:port"), with the LDIF that loads them below "o=Brindlow CRL,c=KR". The keys
# named in CRL_CASE_KEYS (<name>.key, after the certificate they are for) are taken from the key
# folder when it holds them (recipe rsa-keys), else made. All files are PEM. Certificates are
# valid 2025-01-01 to 2045-01-01 and lists run from 2025-01-01 to 2045-01-01 unless said. The
# CAs name the root's authority list as their distribution point
# (<URL>/cn=CRL Root,o=Brindlow CRL,c=KR?authorityRevocationList;binary), nobc-ca and cafalse-ca
# the root's other list (the same entry's certificateRevocationList).
#
#   root.pem        "CN=CRL Root": self-signed, no authority key identifier
#   root-arl.pem    the root's authority list: revokes revoked-ca.pem (cACompromise); issuing
#                   distribution point onlyContainsCACerts
#   root-crl.pem    the root's list without issuing distribution point, revoking nothing
#   <ca>.pem        CAs by the root, "CN=CRL <Name> CA" each, and their lists <ca>-list.pem:
#                     ca          the CA of the list cases; its list is that of case "valid"
#                     revoked-ca  revoked in the root's authority list
#                     other-ca    another CA
#                     nosign-ca   keyUsage keyCertSign only (no cRLSign)
#                     noku-ca     no keyUsage
#                     nobc-ca     no basicConstraints
#                     cafalse-ca  basicConstraints cA false
#                     pathlen-ca  pathLenConstraint 0; it issues sub-ca ("CN=CRL Sub CA")
#                     nc-ca       nameConstraints permitted directoryName "C=KR, O=x"
#                     policy-ca   policyConstraints requireExplicitPolicy 0, no policies
#                     misnamed-ca "CN=CRL Misnamed CA", signed with the root's key under the
#                                 issuer name "CN=CRL Root Renamed"
#   renamed.pem     "CN=CRL CA Renamed", self-signed with the key of ca.pem (not in the directory)
#   forger.pem      "CN=CRL CA" (the name of ca.pem) with another key (not in the directory)
#   user-<case>.pem users "CN=User <case>" (one key, user.key), serials 0x2001 on. Below ca.pem
#                   each names <URL>/cn=<case>,cn=CRL CA,o=Brindlow CRL,c=KR, whose list is
#                   lists/<case>.pem (by ca.pem unless said):
#                     valid       revokes user-other (a serial not the user's)
#                     revoked     revokes user-revoked, keyCompromise
#                     nocrl       an entry without a list
#                     otherca     other-ca's list
#                     renamed     by renamed.pem: the CA's key identifier, another issuer name
#                     forged      by forger.pem with the CA's name and authority key identifier
#                     ahead       thisUpdate 2031-01-01
#                     past        nextUpdate 2029-01-01
#                     gentime     nextUpdate 2060-01-01 (GeneralizedTime)
#                     invalidity  revokes user-invalidity with keyCompromise and invalidityDate
#                     critical    a critical extension 1.3.6.1.4.1.99999.1 (NULL)
#                     onlyca      issuing distribution point onlyContainsCACerts
#                     empty       no entries
#                     nonext      no nextUpdate (made from "empty" and signed again)
#                     badreason   revokes user-badreason with reasonCode 999 (made with
#                                 keyCompromise, the value changed and signed again)
#                   user-garbage names <URL>/cn=garbage,o=Brindlow CRL,c=KR, which the directory
#                   is to hold with a value that is no list (slapd refuses such a value online,
#                   slapadd takes it); user-expired (notAfter 2029-01-01) and user-twopoints (an http URL with
#                   "ldap" in its path first, then the LDAP URL) name the entry of "valid"; the
#                   others name their CA's entry: user-revokedca (revoked-ca), user-nosign,
#                   user-noku, user-nobc, user-cafalse, user-pathlen (sub-ca), user-ncin ("C=KR, O=x,
#                   CN=User ncin"), user-ncout ("C=KR, O=y, CN=User ncout"), user-ncsan ("C=KR,
#                   O=x, CN=User ncsan" with the subjectAltName directory names "C=KR, O=x,
#                   CN=inside" and "C=KR, O=y, CN=outside"), user-policy, user-misnamed; and
#                   user-sha384 (signed with SHA-384) names the entry of "valid".
#   base.ldif       the organization; entries.ldif: every CA (applicationProcess +
#                   certificationAuthority with its certificate and lists) and the case entries
#                   (cRLDistributionPoint) below cn=CRL CA; values under ";binary"
#   cas.pem         every CA certificate of the directory; lists.pem: the lists of the root and of
#                   the CAs other than ca.pem (whose list differs per case)
CRL_CASE_KEYS="root ca revoked-ca other-ca forger nosign-ca noku-ca nobc-ca cafalse-ca pathlen-ca
  sub-ca nc-ca policy-ca misnamed-ca user"
CRL_CASE_CAS="ca revoked-ca other-ca nosign-ca noku-ca nobc-ca cafalse-ca pathlen-ca sub-ca nc-ca
  policy-ca misnamed-ca"
CRL_CASE_LISTS="valid revoked nocrl otherca renamed forged ahead past gentime invalidity critical
  onlyca empty nonext badreason"

crl_cases() {
  local out=$1 url=${2:?usage: crl-cases <out> <ldap://host:port> [key folder]} keys=${3:-}
  local work=$out/.work org="o=Brindlow CRL,c=KR"
  ca_setup "$work"
  sed -i "/^\[kit_ca\]/a crlnumber = $work/crlnumber" "$work/ca.cnf"
  mkdir -p "$out/lists"
  # Quietly, with fewer processes than quiet(): many certificates are made per test process.
  q() {
    "$@" > "$work/q.log" 2>&1 || { echo "crl-cases: failed: $*" >&2; cat "$work/q.log" >&2; return 1; }
  }
  local name
  for name in $CRL_CASE_KEYS; do
    if [ -n "$keys" ] && [ -f "$keys/$name.key" ]; then cp "$keys/$name.key" "$out/$name.key"
    else rsa_key "$out/$name.key"; fi
  done

  local root_entry="$url/cn=CRL Root,$org"
  cat > "$work/ext.cnf" <<CNF
[root]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = none
[ca]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = @arl
[nosign]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = @arl
[noku]
basicConstraints = critical,CA:true
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = @arl
[nobc]
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = @root_crl
[cafalse]
basicConstraints = critical,CA:false
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = @root_crl
[pathlen]
basicConstraints = critical,CA:true,pathlen:0
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = @arl
[sub]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = @sub_dp
[nc]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = @arl
nameConstraints = critical,permitted;dirName:nc_base
[nc_base]
C = KR
O = x
[policy]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = @arl
policyConstraints = critical,requireExplicitPolicy:0
[selfsigned]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = none
[arl]
URI.0 = $root_entry?authorityRevocationList;binary
[root_crl]
URI.0 = $root_entry?certificateRevocationList;binary
[sub_dp]
URI.0 = $url/cn=CRL Pathlen CA,$org
[twopoints_http]
fullname = URI:http://127.0.0.1:9/ldap-not-here
[twopoints_ldap]
fullname = @twopoints_uri
[twopoints_uri]
URI.0 = $url/cn=valid,cn=CRL CA,$org
[ncsan_in]
C = KR
O = x
CN = inside
[ncsan_out]
C = KR
O = y
CN = outside
CNF

  local subject="/C=KR/O=Brindlow CRL"
  # issue <out.pem> <key> <subject> <issuer.pem|self> <issuer key> <serial hex> <section> [end]
  #       [digest]
  # One request per key; openssl ca gives it the subject.
  issue() {
    local csr=$work/${2##*/}.csr who=(-cert "$4")
    [ -f "$csr" ] || q openssl req -config "$work/ca.cnf" -new -key "$2" -subj /CN=x -out "$csr"
    [ "$4" = self ] && who=(-selfsign)
    echo "$6" > "$work/serial"
    q openssl ca -config "$work/ca.cnf" -batch -utf8 -notext "${who[@]}" -keyfile "$5" \
      -startdate 20250101000000Z -enddate "${8:-20450101000000Z}" -md "${9:-sha256}" \
      -extfile "$work/ext.cnf" -extensions "$7" -subj "$3" -in "$csr" -out "$1"
  }
  # ca <name> <CN> <section> [issuer name]
  local ca_serial=$((0x1000))
  ca() {
    local issuer=${4:-root}
    ca_serial=$((ca_serial + 1))
    issue "$out/$1.pem" "$out/$1.key" "$subject/CN=$2" "$out/$issuer.pem" "$out/$issuer.key" \
      "$(printf '%X' $ca_serial)" "$3"
  }
  issue "$out/root.pem" "$out/root.key" "$subject/CN=CRL Root" self "$out/root.key" 1000 root
  ca ca "CRL CA" ca
  ca revoked-ca "CRL Revoked CA" ca
  ca other-ca "CRL Other CA" ca
  ca nosign-ca "CRL NoSign CA" nosign
  ca noku-ca "CRL NoKU CA" noku
  ca nobc-ca "CRL NoBC CA" nobc
  ca cafalse-ca "CRL CAFalse CA" cafalse
  ca pathlen-ca "CRL Pathlen CA" pathlen
  ca sub-ca "CRL Sub CA" sub pathlen-ca
  ca nc-ca "CRL NC CA" nc
  ca policy-ca "CRL Policy CA" policy
  issue "$out/renamed.pem" "$out/ca.key" "$subject/CN=CRL CA Renamed" self "$out/ca.key" 1F00 \
    selfsigned
  issue "$out/forger.pem" "$out/forger.key" "$subject/CN=CRL CA" self "$out/forger.key" 1F01 \
    selfsigned
  # A CA certificate signed with the root's key under another issuer name.
  issue "$work/root-renamed.pem" "$out/root.key" "$subject/CN=CRL Root Renamed" self \
    "$out/root.key" 1F02 selfsigned
  issue "$out/misnamed-ca.pem" "$out/misnamed-ca.key" "$subject/CN=CRL Misnamed CA" \
    "$work/root-renamed.pem" "$out/root.key" 1F03 ca

  # user <case> <issuer> <entry of its list, "" for the case's own> [subject] [end] [digest]
  local user_serial=$((0x2000))
  user() {
    local dp="$url/cn=$1,cn=CRL CA,$org" points="@user_$1_dp" extra=""
    [ -n "$3" ] && dp="$url/$3,$org"
    [ "$1" = twopoints ] && points="twopoints_http, twopoints_ldap"
    [ "$1" = ncsan ] && extra="subjectAltName = dirName:ncsan_in, dirName:ncsan_out"
    printf '[user_%s]\nbasicConstraints = CA:false\nkeyUsage = critical,digitalSignature\nauthorityKeyIdentifier = keyid\ncrlDistributionPoints = %s\n%s\n[user_%s_dp]\nURI.0 = %s\n' \
      "$1" "$points" "$extra" "$1" "$dp" >> "$work/ext.cnf"
    user_serial=$((user_serial + 1))
    issue "$out/user-$1.pem" "$out/user.key" "${4:-$subject/CN=User $1}" "$out/$2.pem" \
      "$out/$2.key" "$(printf '%X' $user_serial)" "user_$1" "${5:-}" "${6:-}"
  }
  local c
  for c in $CRL_CASE_LISTS other; do user "$c" ca ""; done
  user expired ca "cn=valid,cn=CRL CA" "" 20290101000000Z
  user twopoints ca ""
  user garbage ca "cn=garbage"
  user revokedca revoked-ca "cn=CRL Revoked CA"
  user nosign nosign-ca "cn=CRL NoSign CA"
  user noku noku-ca "cn=CRL NoKU CA"
  user nobc nobc-ca "cn=CRL NoBC CA"
  user cafalse cafalse-ca "cn=CRL CAFalse CA"
  user pathlen sub-ca "cn=CRL Sub CA"
  user ncin nc-ca "cn=CRL NC CA" "/C=KR/O=x/CN=User ncin"
  user ncout nc-ca "cn=CRL NC CA" "/C=KR/O=y/CN=User ncout"
  user policy policy-ca "cn=CRL Policy CA"
  user sha384 ca "cn=valid,cn=CRL CA" "" "" sha384
  user ncsan nc-ca "cn=CRL NC CA" "/C=KR/O=x/CN=User ncsan"
  user misnamed misnamed-ca "cn=CRL Misnamed CA"

  # Lists: every list has a database of its own, so it holds only the revocations made for it.
  cat >> "$work/ca.cnf" <<CNF
[crl_ext]
authorityKeyIdentifier = keyid:always
[crl_critical]
authorityKeyIdentifier = keyid:always
1.3.6.1.4.1.99999.1 = critical,ASN1:NULL
[crl_onlyca]
authorityKeyIdentifier = keyid:always
issuingDistributionPoint = critical,@idp_onlyca
[idp_onlyca]
onlyCA = TRUE
CNF
  echo 01 > "$work/crlnumber"
  revoke() {  # revoke <certificate> <issuer name> [options...]
    local cert=$1 issuer=$2
    shift 2
    q openssl ca -config "$work/ca.cnf" -revoke "$cert" -cert "$out/$issuer.pem" \
      -keyfile "$out/$issuer.key" "$@"
  }
  # crl <out.pem> <issuer name> <key> [-crlexts <section>] [-start <time>] [-end <time>]
  crl() {
    local file=$1 issuer=$2 key=$3 ext=crl_ext start=20250101000000Z end=20450101000000Z
    shift 3
    while [ $# -gt 0 ]; do
      case $1 in
        -crlexts) ext=$2 ;;
        -start) start=$2 ;;
        -end) end=$2 ;;
      esac
      shift 2
    done
    q openssl ca -config "$work/ca.cnf" -gencrl -cert "$out/$issuer.pem" -keyfile "$key" \
      -crlexts "$ext" -crl_lastupdate "$start" -crl_nextupdate "$end" -out "$file"
    : > "$work/index.txt"
  }
  : > "$work/index.txt"
  revoke "$out/revoked-ca.pem" root -crl_reason CACompromise
  crl "$out/root-arl.pem" root "$out/root.key" -crlexts crl_onlyca
  crl "$out/root-crl.pem" root "$out/root.key"
  for name in $CRL_CASE_CAS; do
    [ "$name" = ca ] && revoke "$out/user-other.pem" ca
    crl "$out/$name-list.pem" "$name" "$out/$name.key"
  done
  local lists=$out/lists k=$out/ca.key
  cp "$out/ca-list.pem" "$lists/valid.pem"
  revoke "$out/user-revoked.pem" ca -crl_reason keyCompromise
  crl "$lists/revoked.pem" ca "$k"
  cp "$out/other-ca-list.pem" "$lists/otherca.pem"
  crl "$lists/renamed.pem" renamed "$k"
  # The forger names the CA and writes the CA's authority key identifier.
  local ski
  ski=$(openssl x509 -in "$out/ca.pem" -noout -ext subjectKeyIdentifier)
  ski=${ski##*$'\n'}
  ski=${ski//[ :]/}
  printf '[crl_forged]\n2.5.29.35 = DER:30168014%s\n' "$ski" >> "$work/ca.cnf"
  crl "$lists/forged.pem" forger "$out/forger.key" -crlexts crl_forged
  crl "$lists/ahead.pem" ca "$k" -start 20310101000000Z
  crl "$lists/past.pem" ca "$k" -end 20290101000000Z
  crl "$lists/gentime.pem" ca "$k" -end 20600101000000Z
  revoke "$out/user-invalidity.pem" ca -crl_compromise 20290101000000Z
  crl "$lists/invalidity.pem" ca "$k"
  crl "$lists/critical.pem" ca "$k" -crlexts crl_critical
  crl "$lists/onlyca.pem" ca "$k" -crlexts crl_onlyca
  crl "$lists/empty.pem" ca "$k"
  crl_changed "$lists/empty.pem" "$k" "$lists/nonext.pem" "$work" no-next-update
  revoke "$out/user-badreason.pem" ca -crl_reason keyCompromise
  crl "$work/badreason.pem" ca "$k"
  crl_changed "$work/badreason.pem" "$k" "$lists/badreason.pem" "$work" reason:999

  : > "$out/cas.pem"
  for name in $CRL_CASE_CAS; do cat "$out/$name.pem" >> "$out/cas.pem"; done
  cat "$out/root-arl.pem" "$out/root-crl.pem" > "$out/lists.pem"
  for name in $CRL_CASE_CAS; do
    [ "$name" != ca ] && cat "$out/$name-list.pem" >> "$out/lists.pem"
  done

  printf 'dn: %s\nobjectClass: organization\no: Brindlow CRL\n' "$org" > "$out/base.ldif"
  {
    # entry <cn> <certificate> <list> [authority list]
    entry() {
      printf 'dn: cn=%s,%s\nobjectClass: applicationProcess\nobjectClass: certificationAuthority\ncn: %s\n' "$1" "$org" "$1"
      printf 'cACertificate;binary:: %s\ncertificateRevocationList;binary:: %s\n' \
        "$(pem_body "$2")" "$(pem_body "$3")"
      printf 'authorityRevocationList;binary:: %s\n\n' "$(pem_body "${4:-$3}")"
    }
    entry "CRL Root" "$out/root.pem" "$out/root-crl.pem" "$out/root-arl.pem"
    entry "CRL CA" "$out/ca.pem" "$out/ca-list.pem"
    entry "CRL Revoked CA" "$out/revoked-ca.pem" "$out/revoked-ca-list.pem"
    entry "CRL Other CA" "$out/other-ca.pem" "$out/other-ca-list.pem"
    entry "CRL NoSign CA" "$out/nosign-ca.pem" "$out/nosign-ca-list.pem"
    entry "CRL NoKU CA" "$out/noku-ca.pem" "$out/noku-ca-list.pem"
    entry "CRL NoBC CA" "$out/nobc-ca.pem" "$out/nobc-ca-list.pem"
    entry "CRL CAFalse CA" "$out/cafalse-ca.pem" "$out/cafalse-ca-list.pem"
    entry "CRL Pathlen CA" "$out/pathlen-ca.pem" "$out/pathlen-ca-list.pem"
    entry "CRL Sub CA" "$out/sub-ca.pem" "$out/sub-ca-list.pem"
    entry "CRL NC CA" "$out/nc-ca.pem" "$out/nc-ca-list.pem"
    entry "CRL Policy CA" "$out/policy-ca.pem" "$out/policy-ca-list.pem"
    entry "CRL Misnamed CA" "$out/misnamed-ca.pem" "$out/misnamed-ca-list.pem"
    for c in $CRL_CASE_LISTS; do
      printf 'dn: cn=%s,cn=CRL CA,%s\nobjectClass: cRLDistributionPoint\ncn: %s\n' "$c" "$org" "$c"
      if [ "$c" != nocrl ]; then
        printf 'certificateRevocationList;binary:: %s\n' "$(pem_body "$lists/$c.pem")"
      fi
      echo
    done
  } > "$out/entries.ldif"
  rm -rf "$work"
}

# pem_body <file.pem>: the base64 of the DER the PEM file holds, on one line, without a process.
pem_body() {
  local line body=""
  while IFS= read -r line; do [[ $line == -----* ]] || body+=$line; done < "$1"
  printf '%s' "$body"
}

# crl_changed <list.pem> <signer key> <out.pem> <work folder> <change>: the list changed and
# signed again (SHA-256 with RSA) by the key. <change> is "no-next-update" (the nextUpdate goes)
# or "reason:<n>" (every reasonCode entry extension holds the ENUMERATED <n>, which openssl ca
# cannot write when <n> is no reason it knows).
crl_changed() {
  local in=$1 key=$2 result=$3 work=$4 change=$5
  python3 - "$in" "$work/tbs.der" "$change" <<'PY'
import base64, sys
def read(b, i):
    tag, n = b[i], b[i + 1]; i += 2
    if n & 0x80:
        k = n & 0x7F; n = int.from_bytes(b[i:i + k], 'big'); i += k
    return tag, b[i:i + n], i + n
def tree(b):
    out, i = [], 0
    while i < len(b):
        tag, body, i = read(b, i)
        out.append([tag, tree(body) if tag & 0x20 else body])
    return out
def enc(tag, body):
    n = len(body)
    head = bytes([n]) if n < 0x80 else (lambda l: bytes([0x80 | len(l)]) + l)(
        n.to_bytes((n.bit_length() + 7) // 8, 'big'))
    return bytes([tag]) + head + body
def der(nodes):
    return b''.join(enc(t, der(v) if isinstance(v, list) else v) for t, v in nodes)
text = ''.join(l for l in open(sys.argv[1]) if not l.startswith('-----'))
tbs = tree(base64.b64decode(text))[0][1][0]
change = sys.argv[3]
if change == 'no-next-update':
    # version, signature, issuer, thisUpdate, nextUpdate: the second of two times in a row goes.
    times = [k for k, (t, _) in enumerate(tbs[1]) if t in (0x17, 0x18)]
    del tbs[1][times[1]]
else:
    n = int(change.split(':')[1])
    value = enc(0x0A, n.to_bytes(((n if n >= 0 else ~n).bit_length() + 8) // 8, 'big', signed=True))
    changed = 0
    def walk(nodes):
        global changed
        for t, v in nodes:
            if not isinstance(v, list): continue
            if t == 0x30 and len(v) == 2 and v[0] == [0x06, bytes.fromhex('551d15')]:
                v[1][1] = value; changed += 1
            walk(v)
    walk([tbs])
    assert changed, 'no reasonCode in the list'
open(sys.argv[2], 'wb').write(der([tbs]))
PY
  quiet openssl dgst -sha256 -sign "$key" -out "$work/tbs.sig" "$work/tbs.der"
  python3 - "$work/tbs.der" "$work/tbs.sig" "$result" <<'PY'
import base64, sys
def enc(tag, body):
    n = len(body)
    head = bytes([n]) if n < 0x80 else (lambda l: bytes([0x80 | len(l)]) + l)(
        n.to_bytes((n.bit_length() + 7) // 8, 'big'))
    return bytes([tag]) + head + body
tbs = open(sys.argv[1], 'rb').read(); sig = open(sys.argv[2], 'rb').read()
sha256_rsa = bytes.fromhex('300d06092a864886f70d01010b0500')
text = base64.b64encode(enc(0x30, tbs + sha256_rsa + enc(0x03, b'\x00' + sig))).decode()
with open(sys.argv[3], 'w') as out:
    out.write('-----BEGIN X509 CRL-----\n')
    for i in range(0, len(text), 64): out.write(text[i:i + 64] + '\n')
    out.write('-----END X509 CRL-----\n')
PY
}
