#!/bin/sh
# Makes the committed certificate fixtures of the PKI-layer tests with the openssl command line
# (OpenSSL 3). The keys are thrown away; only the certificates are kept. Run from this folder.
#   certificate/root.der        self-signed P-256 CA, v3, fixed serial and subject
#   certificate/user.der        P-256 end entity issued by root.der: KISA identifyData other name,
#                               policies with CPS and a BMPString notice, CRL distribution point,
#                               authority info access, name constraints, extended key usage
#   certificate/rsa_v1.der      RSA, no extensions, no version field
# The certificates also seed the certificate fuzz target (fuzz_certificate/). One more seed there,
# primitive_explicit_tag.der, was found by the fuzzer: user.der with the identifyData other name
# under a primitive [0] tag, which the decoder accepts and the encoder then writes constructed.
set -eu
out=$(pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p "$out/certificate" "$out/fuzz_certificate"

cat > root.cnf <<'CNF'
[req]
distinguished_name = dn
prompt = no
utf8 = yes
string_mask = utf8only
x509_extensions = ext
[dn]
C = KR
O = Acme
CN = RootCA
[ext]
basicConstraints = critical,CA:TRUE,pathlen:1
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
CNF
openssl req -x509 -config root.cnf -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
  -keyout root.key -set_serial 0x6B0A7D6C1A4B0F3F3C0C59B3D2E8F8C2A3A6E9B1 -days 3650 \
  -sha256 -outform DER -out "$out/certificate/root.der"
openssl x509 -inform DER -in "$out/certificate/root.der" -out root.pem

cat > user.cnf <<'CNF'
[req]
distinguished_name = dn
prompt = no
utf8 = yes
string_mask = utf8only
[dn]
C = KR
O = Acme
OU = Sales
CN = 김철수()0001234
[ext]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,nonRepudiation
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid,issuer:always
subjectAltName = @alt
# policy 1.2.410.200004.5.2.1.2 with CPS http://www.example.kr/cps and the notice
# "이 인증서는 시험용입니다" as a BMPString (DER form: the notice section cannot write UTF-16)
certificatePolicies = DER:3061305F060A2A831A8C9A44050201023051302506082B060105050702011619687474703A2F2F7777772E6578616D706C652E6B722F637073302806082B06010505070202301C1E1AC7740020C778C99DC11CB2940020C2DCD5D8C6A9C785B2C8B2E4
# URI ldap://ldap.example.kr:389/cn=dp1p1,ou=dp,o=Acme,c=KR (commas need the DER form)
crlDistributionPoints = DER:303D303BA039A03786356C6461703A2F2F6C6461702E6578616D706C652E6B723A3338392F636E3D64703170312C6F753D64702C6F3D41636D652C633D4B52
authorityInfoAccess = caIssuers;URI:http://ca.example.kr/root.der,OCSP;URI:http://ocsp.example.kr
nameConstraints = permitted;dirName:permitted_dn,excluded;email:bad.example.kr
extendedKeyUsage = serverAuth,clientAuth
[alt]
email = kim@example.kr
DNS = www.example.kr
IP = 127.0.0.1
URI = http://www.example.kr/
dirName = alt_dn
otherName = 1.2.410.200004.10.1.1;SEQUENCE:identify_data
[alt_dn]
C = KR
O = Acme
CN = Directory
[permitted_dn]
C = KR
O = Acme
[identify_data]
realName = FORMAT:UTF8,UTF8:김철수
userInfo = SEQUENCE:user_info
[user_info]
vid = SEQUENCE:vid_ava
[vid_ava]
type = OID:1.2.410.200004.10.1.1.1
value = SEQUENCE:vid
[vid]
hashAlg = SEQUENCE:sha256
virtualID = EXPLICIT:0,FORMAT:HEX,OCTETSTRING:00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF
[sha256]
algorithm = OID:2.16.840.1.101.3.4.2.1
parameters = NULL
CNF
openssl req -new -config user.cnf -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
  -keyout user.key -out user.csr
openssl x509 -req -in user.csr -CA root.pem -CAkey root.key -set_serial 0x01020304 \
  -days 365 -sha256 -extfile user.cnf -extensions ext -outform DER -out "$out/certificate/user.der"

openssl req -new -newkey rsa:2048 -nodes -keyout rsa.key -subj "/C=KR/O=Acme/CN=Legacy" \
  -out rsa.csr
openssl x509 -req -in rsa.csr -signkey rsa.key -set_serial 7 -days 365 -sha256 \
  -outform DER -out "$out/certificate/rsa_v1.der"

cp "$out/certificate/root.der" "$out/fuzz_certificate/root.der"
cp "$out/certificate/user.der" "$out/fuzz_certificate/user.der"
cp "$out/certificate/rsa_v1.der" "$out/fuzz_certificate/rsa_v1.der"
