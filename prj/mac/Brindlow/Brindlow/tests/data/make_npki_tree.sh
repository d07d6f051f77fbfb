#!/usr/bin/env bash
# Builds the certificate media of the desktop tests with the openssl command line:
#   <root>/home/Library/Preferences/NPKI/<CA>/USER/<subject>/  the home folder's certificates
#   <root>/Volumes/USBDISK/NPKI/...                            a removable disk with one
#   <root>/Volumes/EMPTYVOL                                    a removable disk without any
#   <root>/fixtures/*.der                                      single certificates
# Keys are PKCS #8 under PBES2 with SEED-CBC, password "Brindlow#1234", as NPKI keeps them.
# Validity is fixed, so the expiry texts are known: see the table at the end of this file.
set -euo pipefail

root=${1:?usage: make_npki_tree.sh <root folder>}
password='Brindlow#1234'
work=$root/.work
mkdir -p "$work" "$root/fixtures" "$root/Volumes/EMPTYVOL"
home_npki=$root/home/Library/Preferences/NPKI
usb_npki=$root/Volumes/USBDISK/NPKI

# Long common names need more room than the default string table gives CN (64 characters).
cat > "$work/openssl.cnf" <<'CNF'
openssl_conf = init
[init]
stbl_section = stbl
[stbl]
commonName = min:1,max:4096,mask:UTF8String,flags:nomask
organizationalUnitName = min:1,max:4096,mask:UTF8String,flags:nomask
[req]
distinguished_name = dn
string_mask = utf8only
utf8 = yes
[dn]
[ca]
default_ca = test_ca
[test_ca]
dir = WORK
database = WORK/index.txt
serial = WORK/serial
new_certs_dir = WORK/issued
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
email_in_dn = no
preserve = yes
[any]
countryName = optional
organizationName = optional
organizationalUnitName = optional
commonName = optional
[ca_ext]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
CNF
sed -i "s#WORK#$work#g" "$work/openssl.cnf"
export OPENSSL_CONF=$work/openssl.cnf
mkdir -p "$work/issued"
: > "$work/index.txt"
echo 1001 > "$work/serial"

quiet() { "$@" > "$work/last.log" 2>&1 || { cat "$work/last.log" >&2; return 1; }; }

# The test CA.
quiet openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/ca.key"
quiet openssl req -config "$work/openssl.cnf" -new -x509 -key "$work/ca.key" -subj "/C=KR/O=Brindlow Test/CN=Brindlow Test CA" \
  -days 3650 -sha256 -extensions ca_ext -out "$work/ca.pem"

# user <folder> <subject> <end date> <extension section text|-> [km]
# Issues a certificate for subject with the given extensions (none for "-", a v1 certificate)
# and writes signCert.der and signPri.key (and kmCert.der and kmPri.key with "km") to folder.
user() {
  local folder=$1 subject=$2 end=$3 extensions=$4 km=${5:-}
  mkdir -p "$folder"
  local roles=(sign)
  [ "$km" = km ] && roles+=(km)
  for role in "${roles[@]}"; do
    local key=$work/$role.key csr=$work/$role.csr cert=$work/$role.pem
    quiet openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$key"
    quiet openssl req -config "$work/openssl.cnf" -new -key "$key" -utf8 -subj "$subject" -out "$csr"
    local extargs=()
    if [ "$extensions" != - ]; then
      printf '%s\n' "$extensions" > "$work/ext.cnf"
      extargs=(-extfile "$work/ext.cnf" -extensions ext)
    fi
    quiet openssl ca -config "$work/openssl.cnf" -batch -utf8 -notext -cert "$work/ca.pem" -keyfile "$work/ca.key" \
      -startdate 20250101000000Z -enddate "$end" "${extargs[@]}" -in "$csr" -out "$cert"
    local name=signCert.der keyname=signPri.key
    [ "$role" = km ] && name=kmCert.der keyname=kmPri.key
    quiet openssl x509 -in "$cert" -outform DER -out "$folder/$name"
    quiet openssl pkcs8 -topk8 -in "$key" -outform DER -out "$folder/$keyname" \
      -v2 seed-cbc -v2prf hmacWithSHA1 -iter 2048 -passout "pass:$password" \
      -provider legacy -provider default
  done
}

common_ext() {
  cat <<EXT
[ext]
basicConstraints = CA:false
authorityKeyIdentifier = keyid
subjectKeyIdentifier = hash
keyUsage = critical,digitalSignature,nonRepudiation
crlDistributionPoints = URI:http://crl.example.kr/dp5p42.crl
authorityInfoAccess = caIssuers;URI:http://ca.example.kr/ca.der,OCSP;URI:http://ocsp.example.kr:4612
EXT
}

policy_ext() {  # <policy OID> <notice text with its type prefix>
  cat <<EXT
certificatePolicies = @policy
[policy]
policyIdentifier = $1
CPS.1 = "http://ca.example.kr/cps.html"
userNotice.1 = @notice
[notice]
explicitText = $2
EXT
}

# Home folder, in the order the listing scans the authority folders.
user "$home_npki/yessign/USER/cn=hong,ou=personal4IB,o=yessign,c=kr" \
  "/C=KR/O=yessign/OU=personal4IB/OU=Test Bank/CN=홍길동()0011" 20280301235959Z \
  "$(common_ext)
subjectAltName = otherName:1.2.410.200004.10.1.1;SEQUENCE:identifyData
$(policy_ext 1.2.410.200005.1.1.1 'UTF8:개인용 범용 인증서')
[identifyData]
realName = FORMAT:UTF8,UTF8:홍길동
userInfo = SEQUENCE:userInfo
[userInfo]
vid = SEQUENCE:vidAttribute
[vidAttribute]
type = OID:1.2.410.200004.10.1.1.1
value = SEQUENCE:vid
[vid]
hashAlg = SEQUENCE:sha256
virtualID = EXPLICIT:0,FORMAT:HEX,OCTETSTRING:00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF
[sha256]
algorithm = OID:sha256" km

user "$home_npki/Lindsign/USER/cn=park,o=Lindsign,c=kr" \
  "/C=KR/O=Lindsign/OU=personal/CN=박민수()0042" 20270615120000Z \
  "$(common_ext)
certificatePolicies = @first,@second
[first]
policyIdentifier = 1.2.410.200005.1.1.1
userNotice.1 = @notice
[notice]
explicitText = UTF8:두 정책 인증서
[second]
policyIdentifier = 1.2.410.200004.5.1.1.5"

user "$home_npki/TradeSign/USER/cn=choi,o=TradeSign,c=kr" \
  "/C=KR/O=TradeSign/CN=최수진" 20290101000000Z \
  "$(common_ext)
$(policy_ext 1.3.6.1.4.1.55555.1.2 'UTF8:알 수 없는 정책')"

user "$home_npki/CrossCert/USER/cn=kim,o=CrossCert,c=kr" \
  "/C=KR/O=CrossCert/OU=AccreditedCA/CN=김철수" 20271231145959Z \
  "$(common_ext)
# The notice as a BMPString (UCS-2), built field by field: the policy syntax would store the
# text's UTF-8 bytes as they are.
certificatePolicies = ASN1:SEQUENCE:policies
[policies]
policy = SEQUENCE:policy
[policy]
id = OID:1.2.410.200004.5.4.1.2
qualifiers = SEQUENCE:qualifiers
[qualifiers]
cps = SEQUENCE:cps
notice = SEQUENCE:notice
[cps]
id = OID:1.3.6.1.5.5.7.2.1
uri = IA5STRING:http://ca.example.kr/cps.html
[notice]
id = OID:1.3.6.1.5.5.7.2.2
userNotice = SEQUENCE:userNotice
[userNotice]
explicitText = FORMAT:UTF8,BMPSTRING:법인범용"

user "$home_npki/KICA/USER/cn=lee,o=KICA,c=kr" \
  "/C=KR/O=KICA/OU=personal/CN=Lee Soyoung" 20261010101010Z \
  "$(common_ext)
$(policy_ext 1.2.410.200004.5.2.1.2 'VISIBLE:KICA personal')"

# A version 1 certificate: no extensions, so no policy.
user "$home_npki/INIPASS/USER/cn=v1,o=INIPASS,c=kr" "/C=KR/O=INIPASS/CN=Version One" \
  20300101000000Z -

# Names from a hostile issuer: a line break and markup in a name that fits the listing's fields,
# and names and a notice far longer than any field.
user "$home_npki/KECA/USER/cn=markup,o=KECA,c=kr" \
  "/C=KR/O=KECA/CN=<b>굵게<\\/b>
둘째 줄" 20280101000000Z \
  "$(common_ext)
$(policy_ext 1.2.410.200004.5.1.1.7 'UTF8:first line\nsecond line')"
long_name=$(printf '가%.0s' $(seq 1 120))
long_unit=$(printf 'x%.0s' $(seq 1 600))
user "$home_npki/KSIGN/USER/cn=long,o=KSIGN,c=kr" \
  "/C=KR/O=KSIGN/OU=$long_unit/CN=$long_name" 20280202000000Z \
  "$(common_ext)
$(policy_ext 1.2.410.200004.5.1.1.7 "UTF8:$long_name")"

# The removable disk.
user "$usb_npki/TradeSign/USER/cn=yi,o=TradeSign,c=kr" \
  "/C=KR/O=TradeSign/OU=personal/CN=이영희()0077" 20270707070707Z \
  "$(common_ext)
$(policy_ext 1.2.410.200012.1.1.1 'UTF8:트레이드 개인범용')"

# Single certificates for the detail view.
cp "$home_npki/yessign/USER/cn=hong,ou=personal4IB,o=yessign,c=kr/signCert.der" "$root/fixtures/full.der"
cp "$home_npki/INIPASS/USER/cn=v1,o=INIPASS,c=kr/signCert.der" "$root/fixtures/v1.der"
cp "$home_npki/KSIGN/USER/cn=long,o=KSIGN,c=kr/signCert.der" "$root/fixtures/hostile.der"
cp "$home_npki/KECA/USER/cn=markup,o=KECA,c=kr/signCert.der" "$root/fixtures/markup.der"
openssl x509 -in "$work/ca.pem" -outform DER -out "$root/fixtures/ca.der"

rm -rf "$work"

# What the listing shows (expiry in UTC):
#   yessign    홍길동()0011   20280301235959  group 5  "개인용 범용 인증서"  with a km pair
#   Lindsign   박민수()0042   20270615120000  group 5  "두 정책 인증서"      two policies
#   TradeSign  최수진         20290101000000  group 0  "알 수 없는 정책"
#   CrossCert  김철수         20271231145959  group 1  "법인범용" (BMPString)
#   KICA       Lee Soyoung    20261010101010  group 2  "KICA personal"
#   INIPASS    Version One    20300101000000  group 0  ""                  version 1
#   KECA       "<b>굵게</b>" and "둘째 줄" on two lines  20280101000000  group 3
#                             "first line" and "second line" on two lines
#   KSIGN      가 x 120 (longer than the subject field: no name)  20280202000000  group 3
#   USBDISK    이영희()0077   20270707070707  group 4  "트레이드 개인범용"
