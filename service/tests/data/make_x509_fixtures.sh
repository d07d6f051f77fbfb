#!/bin/sh
# Makes the certificate fixtures of the X.509 tests with the openssl command line, and beside
# each certificate what openssl itself reports about it:
#   <name>.der   the certificate
#   <name>.ref   openssl x509 -serial -dates -subject -issuer (RFC 2253 names, raw UTF-8)
#   <name>.txt   openssl x509 -text
#   <name>.spki  the SubjectPublicKeyInfo DER
# and the keys as DER: <key>.rsa (RSAPrivateKey), <key>.pub (RSAPublicKey).
# Usage: make_x509_fixtures.sh <output folder>. Keys are made afresh on every run; everything
# else (names, serial numbers, dates, extensions) is fixed.
set -eu

out=$1
mkdir -p "$out"
cd "$out"
mkdir -p db
: >db/index.txt

cat >ca.cnf <<'EOF'
[ca]
default_ca = testca

[testca]
database = db/index.txt
serial = db/serial
new_certs_dir = db
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
string_mask = utf8only
utf8 = yes

[anything]
countryName = optional
stateOrProvinceName = optional
localityName = optional
organizationName = optional
organizationalUnitName = optional
commonName = optional
surname = optional
emailAddress = optional
title = optional
givenName = optional
pseudonym = optional
domainComponent = optional

[req]
distinguished_name = dn
string_mask = utf8only

[req_bmp]
distinguished_name = dn
string_mask = MASK:0x800

[dn]

# --- Certification authorities ------------------------------------------------------------

[root_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash

[root_aki_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always

[sub_ca_ext]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
nameConstraints = permitted;DNS:.example.kr
policyMappings = 1.2.410.200004.5.2.1.2:1.2.410.200004.5.2.1.1
policyConstraints = requireExplicitPolicy:0
inhibitAnyPolicy = 0
subjectInfoAccess = caRepository;URI:http://ca.example.kr/repository
2.5.29.28 = DER:30038101FF

# --- The accredited end-entity certificate: every rendered extension -----------------------

[ee_ext]
authorityKeyIdentifier = keyid:always, issuer:always
subjectKeyIdentifier = hash
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
extendedKeyUsage = clientAuth, emailProtection
certificatePolicies = ASN1:SEQUENCE:policies
subjectAltName = ASN1:SEQUENCE:san
crlDistributionPoints = ASN1:SEQUENCE:crldps
authorityInfoAccess = caIssuers;URI:http://ca.example.kr/ca.der, OCSP;URI:http://ocsp.example.kr:8080

[policies]
p1 = SEQUENCE:policy1

[policy1]
id = OID:1.2.410.200004.5.2.1.2
qualifiers = SEQUENCE:policy1_qualifiers

[policy1_qualifiers]
cps = SEQUENCE:cps_qualifier
notice = SEQUENCE:notice_qualifier

[cps_qualifier]
id = OID:1.3.6.1.5.5.7.2.1
uri = IA5STRING:http://www.example.kr/cps.html

[notice_qualifier]
id = OID:1.3.6.1.5.5.7.2.2
notice = SEQUENCE:bmp_notice

[bmp_notice]
text = FORMAT:UTF8,BMPSTRING:이 인증서는 공인인증서입니다

[san]
identify = IMP:0,SEQUENCE:identify_name
dns = IMP:2,IA5STRING:www.example.kr

[identify_name]
type = OID:1.2.410.200004.10.1.1
value = EXP:0,SEQUENCE:identify_data

[identify_data]
realName = FORMAT:UTF8,UTF8String:홍길동
userInfo = SEQUENCE:user_info

[user_info]
vid = SEQUENCE:vid_attribute

[vid_attribute]
type = OID:1.2.410.200004.10.1.1.1
value = SEQUENCE:vid

[vid]
hashAlg = SEQUENCE:sha256_algorithm
virtualID = EXP:0,FORMAT:HEX,OCTETSTRING:00112233445566778899AABBCCDDEEFF0123456789ABCDEF0011223344556677

[sha256_algorithm]
algorithm = OID:sha256

[crldps]
dp1 = SEQUENCE:crldp1

[crldp1]
name = EXP:0,IMP:0,SEQUENCE:crldp1_names

[crldp1_names]
uri = IMP:6,IA5STRING:ldap://ldap.example.kr:389/ou=dp5p123,ou=AccreditedCA,o=Test,c=KR?certificateRevocationList;binary

# --- Other shapes of the extensions ---------------------------------------------------------

# Two policies, the second with a UTF8String notice and a notice reference; a CRL distribution
# point by directory name with reasons and a CRL issuer, one relative to the CRL issuer; a
# keyUsage with the ninth bit; authority information by directory name.
[ee2_ext]
authorityKeyIdentifier = keyid:always
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment, dataEncipherment, keyAgreement, encipherOnly, decipherOnly
certificatePolicies = ASN1:SEQUENCE:policies2
crlDistributionPoints = crldp_dirname, crldp_relative
authorityInfoAccess = caIssuers;dirName:aia_dn, OCSP;URI:http://ocsp.example.kr
subjectAltName = DNS:only.example.kr

[policies2]
p1 = SEQUENCE:policy2a
p2 = SEQUENCE:policy2b

[policy2a]
id = OID:1.2.410.200004.5.4.1.1

[policy2b]
id = OID:1.2.410.200004.5.4.1.2
qualifiers = SEQUENCE:policy2b_qualifiers

[policy2b_qualifiers]
notice = SEQUENCE:notice2_qualifier
cps = SEQUENCE:cps_qualifier

[notice2_qualifier]
id = OID:1.3.6.1.5.5.7.2.2
notice = SEQUENCE:utf8_notice

[utf8_notice]
ref = SEQUENCE:notice_reference
text = FORMAT:UTF8,UTF8String:개인 범용 인증서

[notice_reference]
organization = IA5STRING:Example CA
numbers = SEQUENCE:notice_numbers

[notice_numbers]
n1 = INTEGER:1
n2 = INTEGER:2

[crldp_dirname]
fullname = dirName:crldp_dn
reasons = keyCompromise, CACompromise
CRLissuer = dirName:crldp_dn

[crldp_relative]
relativename = crldp_rdn

[crldp_dn]
C = KR
O = Test
OU = dp
CN = dp1p1

[crldp_rdn]
CN = dp2p2

[aia_dn]
C = KR
O = Test
CN = Issuer Directory

# A subject alternative name with a single dNSName; an extension outside the OID table, then
# one inside it but without an entry id (privateKeyUsagePeriod) last.
[ee_dns_ext]
subjectKeyIdentifier = none
authorityKeyIdentifier = none
basicConstraints = CA:FALSE
subjectAltName = DNS:www.example.kr
1.2.3.4.5 = DER:0500
2.5.29.16 = DER:3000

# Many values: long texts for the buffer checks.
[ee_many_ext]
authorityInfoAccess = @aia_many
crlDistributionPoints = URI:http://crl.example.kr/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/1.crl, URI:http://crl.example.kr/bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb/2.crl
certificatePolicies = ASN1:SEQUENCE:policies_many

[aia_many]
caIssuers;URI.1 = http://ca.example.kr/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/ca1.der
caIssuers;URI.2 = http://ca.example.kr/bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb/ca2.der
OCSP;URI.3 = http://ocsp.example.kr/cccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccc
OCSP;URI.4 = http://ocsp.example.kr/dddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddd

[policies_many]
p1 = SEQUENCE:policy_long_notice

[policy_long_notice]
id = OID:1.2.410.200004.5.2.1.1
qualifiers = SEQUENCE:long_notice_qualifiers

[long_notice_qualifiers]
notice = SEQUENCE:long_notice_qualifier

[long_notice_qualifier]
id = OID:1.3.6.1.5.5.7.2.2
notice = SEQUENCE:long_notice

# 120 Hangul syllables: 240 bytes as BMPString, 360 bytes as UTF-8.
[long_notice]
text = FORMAT:UTF8,BMPSTRING:가나다라마바사아자차카타파하가나다라마바사아자차카타파하가나다라마바사아자차카타파하가나다라마바사아자차카타파하가나다라마바사아자차카타파하가나다라마바사아자차카타파하가나다라마바사아자차카타파하가나다라마바사아자차카타파하가나다라

[no_ext]
EOF

# ca <config section> <csr> <signer cert or -selfsign> <signer key> <start> <end> <serial hex>
#    <output name> [extra openssl ca options...]
issue() {
    section=$1 csr=$2 signer=$3 signerKey=$4 start=$5 end=$6 serial=$7 name=$8
    shift 8
    echo "$serial" >db/serial
    if [ "$signer" = "-selfsign" ]; then
        set -- -selfsign "$@"
    else
        set -- -cert "$signer.pem" "$@"
    fi
    if [ "$section" = "none" ]; then
        set -- "$@"
    else
        set -- -extfile ca.cnf -extensions "$section" "$@"
    fi
    openssl ca -batch -config ca.cnf -keyfile "$signerKey" -in "$csr" -startdate "$start" \
        -enddate "$end" -notext -preserveDN -out "$name.pem" "$@" 2>"$name.log"
    openssl x509 -in "$name.pem" -outform DER -out "$name.der"
    openssl x509 -in "$name.pem" -noout -serial -dates -subject -issuer \
        -nameopt RFC2253,-esc_msb >"$name.ref"
    openssl x509 -in "$name.pem" -noout -text -nameopt RFC2253,-esc_msb >"$name.txt"
    openssl x509 -in "$name.pem" -noout -pubkey | openssl pkey -pubin -outform DER -out "$name.spki"
}

# request <key> <subject> <output> [extra openssl req options...]
request() {
    key=$1 subject=$2 name=$3
    shift 3
    openssl req -new -key "$key" -subj "$subject" -utf8 -config ca.cnf -out "$name" "$@"
}

openssl genrsa -out root.key 2048 2>/dev/null
openssl genrsa -out sub.key 2048 2>/dev/null
openssl genrsa -out ee.key 2048 2>/dev/null
openssl ecparam -name prime256v1 -genkey -noout -out ec.key
for key in root sub ee; do
    openssl rsa -in $key.key -traditional -outform DER -out $key.rsa 2>/dev/null
    openssl rsa -in $key.key -RSAPublicKey_out -outform DER -out $key.pub 2>/dev/null
done

request root.key "/C=KR/O=Brindlow Test/OU=Root CA/CN=Brindlow Test Root" root.csr
issue root_ext root.csr -selfsign root.key 20200101000000Z 20400101000000Z 01 root
issue root_aki_ext root.csr -selfsign root.key 20200101000000Z 20400101000000Z 02 root_aki

request sub.key "/C=KR/O=Brindlow Test/OU=Sub CA/CN=Brindlow Test Sub" sub.csr
issue sub_ca_ext sub.csr root root.key 20200101000000Z 20351231235959Z 1000 sub_ca

# A personal certificate as the accredited authorities issue them: 20-byte serial number.
request ee.key "/C=KR/O=Test/OU=personal4IB/OU=KMB/CN=홍길동()0012345678901234" ee.csr
issue ee_ext ee.csr root root.key 20240301000000Z 20250301145959Z \
    7F0102030405060708090A0B0C0D0E0F10111213 ee_full

issue ee2_ext ee.csr root root.key 20240301000000Z 20250301145959Z 00FF ee_more
issue ee_dns_ext ee.csr root root.key 20240301000000Z 20250301145959Z 0A ee_dns
issue ee_many_ext ee.csr root root.key 20240301000000Z 20250301145959Z 0B ee_many

# Version 1 (no version field, no extensions), signed with SHA-384.
request ee.key "/C=KR/O=Test/CN=Version One" v1.csr
issue none v1.csr root root.key 20240301000000Z 20250301145959Z 0C ee_v1 -md sha384

# Validity past 2049: notAfter as GeneralizedTime; then both dates from 2050 on.
request ee.key "/C=KR/O=Test/CN=Long Lived" long.csr
issue root_aki_ext long.csr root root.key 20240301000000Z 20510630120000Z 0D ee_gentime
issue root_aki_ext long.csr root root.key 20500101000000Z 20600101000000Z 0E ee_future

# Names: a multi-valued RDN, values that need escapes, Korean BMPString values, a long value.
request ee.key "/C=KR/O=Test/CN=a+SN=b" multi.csr -multivalue-rdn
issue none multi.csr root root.key 20240301000000Z 20250301145959Z 0F ee_multi
request ee.key "/C=KR/O=Acme, Inc./OU=R\\+D;QA/CN=<a=b>#1" escapes.csr
issue none escapes.csr root root.key 20240301000000Z 20250301145959Z 10 ee_escapes
request ee.key "/C=KR/O=테스트/CN=홍길동" bmp.csr -reqexts no_ext -section req_bmp
issue none bmp.csr root root.key 20240301000000Z 20250301145959Z 11 ee_bmp
# Eight values of 64 characters: a name of about 600 characters.
long=$(printf 'x%.0s' $(seq 1 64))
request ee.key "/C=KR/O=Test/OU=$long/OU=$long/OU=$long/OU=$long/OU=$long/OU=$long/OU=$long/OU=$long/CN=Long Name" longname.csr
issue none longname.csr root root.key 20240301000000Z 20250301145959Z 12 ee_longname
request ee.key "/C=KR/ST=Seoul/L=Jung-gu/O=Test/title=Engineer/GN=Gildong/pseudonym=Hong/emailAddress=hong@example.kr/CN=Attrs" attrs.csr
issue none attrs.csr root root.key 20240301000000Z 20250301145959Z 13 ee_attrs

# An elliptic-curve subject key under the RSA root.
request ec.key "/C=KR/O=Test/CN=EC Subject" ec.csr
issue none ec.csr root root.key 20240301000000Z 20250301145959Z 14 ee_ec

# Serial numbers of 21 bytes (refused) and of one byte.
issue none v1.csr root root.key 20240301000000Z 20250301145959Z \
    7F0102030405060708090A0B0C0D0E0F1011121314 serial21

rm -rf db ./*.csr ./*.log
