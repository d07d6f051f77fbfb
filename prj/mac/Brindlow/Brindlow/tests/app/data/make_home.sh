#!/usr/bin/env bash
# Builds a home folder with two NPKI certificates, made with the openssl command line:
#   <home>/Library/Preferences/NPKI/yessign/USER/cn=hong,o=yessign,c=kr/  홍길동()0011
#   <home>/Library/Preferences/NPKI/CrossCert/USER/cn=kim,o=CrossCert,c=kr/  김철수
# Keys are PKCS #8 under PBES2 with SEED-CBC, password "Brindlow#1234", as NPKI keeps them.
set -euo pipefail

home=${1:?usage: make_home.sh <home folder>}
password='Brindlow#1234'
npki=$home/Library/Preferences/NPKI
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

quiet() { "$@" > "$work/last.log" 2>&1 || { cat "$work/last.log" >&2; return 1; }; }

quiet openssl req -new -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -days 3650 \
  -subj "/C=KR/O=Brindlow Test/CN=Brindlow Test CA" -out "$work/ca.pem"

# user <folder> <subject> <policy OID> <notice>
user() {
  local folder=$1 subject=$2 policy=$3 notice=$4
  mkdir -p "$folder"
  cat > "$work/ext.cnf" <<EXT
[ext]
basicConstraints = CA:false
keyUsage = critical,digitalSignature,nonRepudiation
certificatePolicies = @policy
[policy]
policyIdentifier = $policy
userNotice.1 = @notice
[notice]
explicitText = UTF8:$notice
EXT
  quiet openssl req -new -newkey rsa:2048 -nodes -keyout "$work/user.key" -utf8 -subj "$subject" \
    -out "$work/user.csr"
  quiet openssl x509 -req -in "$work/user.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
    -set_serial "0x$(openssl rand -hex 8)" -days 1000 -extfile "$work/ext.cnf" -extensions ext \
    -outform DER -out "$folder/signCert.der"
  quiet openssl pkcs8 -topk8 -in "$work/user.key" -outform DER -out "$folder/signPri.key" \
    -v2 seed-cbc -v2prf hmacWithSHA1 -iter 2048 -passout "pass:$password" \
    -provider legacy -provider default
}

user "$npki/yessign/USER/cn=hong,o=yessign,c=kr" "/C=KR/O=yessign/OU=personal/CN=홍길동()0011" \
  1.2.410.200005.1.1.1 "개인용 범용 인증서"
user "$npki/CrossCert/USER/cn=kim,o=CrossCert,c=kr" "/C=KR/O=CrossCert/CN=김철수" \
  1.2.410.200004.5.4.1.2 "법인범용"
