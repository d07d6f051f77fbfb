#!/usr/bin/env bash
# Makes the installer's folder NPKI: the two KISA roots, self-signed, and one CA certificate per
# intermediate row of the installer's table, issued by the second root, all as DER under the
# table's file names. Usage: make_npki.sh <output folder NPKI>
set -euo pipefail
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

root() {  # <file> <common name>
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/$1.key" -sha256 -days 7300 \
    -subj "/C=KR/O=KISA/OU=Korea Certification Authority Central/CN=$2" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    -outform DER -out "$work/$1.der" 2> /dev/null
}

ca() {  # <folder> <file>
  local name=${2%.der}
  openssl req -new -newkey rsa:2048 -nodes -keyout "$work/$name.key" \
    -subj "/C=KR/O=$1/OU=AccreditedCA/CN=$1 CA ${name##*_}" -out "$work/$name.csr" 2> /dev/null
  printf 'basicConstraints=critical,CA:TRUE,pathlen:0\nkeyUsage=critical,keyCertSign,cRLSign\n' \
    > "$work/ext"
  openssl x509 -req -in "$work/$name.csr" -CA "$work/root4.pem" -CAkey "$work/root4.key" \
    -CAcreateserial -sha256 -days 3650 -extfile "$work/ext" -outform DER \
    -out "$out/$1/$2" 2> /dev/null
}

rm -rf "$out"
mkdir -p "$out"/{CrossCert,KICA,KISA,NCASign,Lindsign,TradeSign,yessign}
root root1 "KISA RootCA 1"
root root4 "KISA RootCA 4"
cp "$work/root1.der" "$out/KISA/BFB627D8035A76654C6101415631E58B7B3AD9CC_4.der"
cp "$work/root4.der" "$out/KISA/C8D08EC749AE1F2042B24B7F13C977580CA1CDC1_1.der"
openssl x509 -inform DER -in "$work/root4.der" -out "$work/root4.pem"

while read -r folder file; do
  ca "$folder" "$file"
done << 'ROWS'
CrossCert 0FD92CAF8B33B1B2B4F1151C9D786162E19B1427_10078.der
CrossCert B674A99B923CC751B122A44FBCB73CFE2233D776_4100.der
CrossCert d3c1937bd61f964f1c2c6872acec4c85614cd2dc_10088.der
CrossCert 43D6F3657F659DCD6BC1CE730ABF3210A051E711_4126.der
KICA 6F1F0BD880BE4AC7184E62CDCE3A6FA19B447061_10056.der
KICA AE52FD0E0E01F83086377EF618C649254A600970_4106.der
KICA B909F2B621489A2ABA025980862793166A77F559_10081.der
KICA D8BE3AEC4599C59EE39CEA811FD21D12B0363E88_4125.der
NCASign 766D8BCDAD940DF5A5B63F2202B6F59F4349398A_10045.der
NCASign FE2A1DC3637EBFFD31830AB1F1D3F0DA2BE78D7A_10082.der
Lindsign 8DAA2008F089E01141BC7FA48E2AC4405ECA563A_10079.der
Lindsign 279696BEF384DC5901622423E2187BD3418D2D42_4098.der
Lindsign b063e7eba3dbd862c64427ff65e9316273a7c6cc_10043.der
Lindsign 045445B0DE12C4279CA04F02698BD55B14146307_4128.der
TradeSign 2B7602AE825C7DEE81919EF5895BB9E2995BA9AF_10084.der
TradeSign 4D5D560A0703DF83CAF3D56D8F19FC12AC90A28A_4105.der
TradeSign CE671644B27E73FD85A7CD0D1ED3F0D3A52D2639_10023.der
TradeSign B507236C57CF3EAE8EB532819F91A720DBE8EBE3_4127.der
yessign 4AFBBD332D8BB1D18C946BFFE042365F1C91CB08_10080.der
yessign 5204329F8F9D2172BAFA3398A8617E2733248D5F_4099.der
yessign E2EC6D2CE57D9BC09EAC015379BA9A8F9A85D90B_10050.der
yessign EFDC44D2C68DC00EA338C07C93C6C341BF4A8FF0_4124.der
ROWS
