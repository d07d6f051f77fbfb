#!/usr/bin/env bash
# Makes the seed corpora of the secure-channel fuzz targets from the golden transcript in
# secure_channel/ (make_golden.sh), with the openssl command line and the shell:
#   fuzz_secure_record/     records: the golden ones of both directions, and records with
#                           majorVersion 2, an over-long or negative sequence, a mac with unused
#                           bits or a flipped byte, cut, with an oversized or indefinite length
#   fuzz_secure_handshake/  what a client sends: 0xE0 and 0xE2 with the golden request and
#                           response, then record frames; and the same cut, reordered, oversized,
#                           empty, with a wrong type or a refused cipher, and with the broken
#                           records above as frames
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
golden=$here/secure_channel
records=$here/fuzz_secure_record
handshake=$here/fuzz_secure_handshake
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$records" "$handshake"
mkdir -p "$records" "$handshake"

# shellcheck source=channel_der.sh
source "$here/channel_der.sh"
be32() { printf "\\x$(printf %02x $(($1 >> 24 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 & 255)))"; }
size() { wc -c < "$1" | tr -d ' '; }
# message <type hex> <body file>: a handshake message.
message() { printf "\\x$1"; be32 "$(size "$2")"; cat "$2"; }
# frame <file>: a record frame.
frame() { be32 "$(size "$1")"; cat "$1"; }
# field <der> <index>: offset and header length and length of the index-th element (0 = outer).
field() { openssl asn1parse -inform DER -in "$1" | sed -n "$(($2 + 1))p" | sed -E 's/^ *([0-9]+):d=[0-9]+ +hl= *([0-9]+) +l= *([0-9]+).*/\1 \2 \3/'; }
# contents <der> <index>: the BIT STRING's bytes after its unused-bits byte, in hexadecimal.
contents() {
  local off hl len
  read -r off hl len < <(field "$1" "$2")
  tail -c +$((off + hl + 2)) "$1" | head -c $((len - 1)) | hexof
}
record() { record_der "$@" "$work"; }

# Records.
cp "$golden"/client-*.der "$golden"/server-*.der "$records/"
c1=$golden/client-1.der
cipher=$(contents "$c1" 4)
mac=$(contents "$c1" 5)
record "$records/version-2.der" 2 1 "$cipher" "$mac"
record "$records/sequence-2to64plus1.der" 1 0x010000000000000001 "$cipher" "$mac"
record "$records/sequence-negative.der" 1 -1 "$cipher" "$mac"
record "$records/mac-flipped.der" 1 1 "$cipher" "${mac:0:62}$(printf %02x $((0x${mac:62:2} ^ 1)))"
cp "$c1" "$records/mac-unused-bits.der"
read -r off hl _ < <(field "$c1" 5)
printf '\x01' | dd of="$records/mac-unused-bits.der" bs=1 seek=$((off + hl)) conv=notrunc status=none
head -c 40 "$golden/client-5.der" > "$records/cut.der"
{ printf '\x30\x84\x7f\xff\xff\xff'; tail -c +3 "$c1"; } > "$records/oversized.der"
{ printf '\x30\x80'; tail -c +3 "$c1"; printf '\x00\x00'; } > "$records/indefinite.der"

# Handshakes.
req=$golden/request.der
resp=$golden/response.der
message e0 "$req" > "$work/e0"
message e2 "$resp" > "$work/e2"
cat "$work/e0" "$work/e2" > "$handshake/handshake.bin"
{ cat "$work/e0" "$work/e2"; frame "$golden/client-0.der"; } > "$handshake/with-record.bin"
cp "$work/e0" "$handshake/request-only.bin"
head -c $(($(size "$work/e0") + 100)) "$handshake/handshake.bin" > "$handshake/response-cut.bin"
{ printf '\xe0\x00\x01\x00\x01'; cat "$req"; } > "$handshake/request-oversized.bin"
cp "$work/e2" "$handshake/response-first.bin"
printf '\xe0\x00\x00\x00\x00' > "$handshake/request-empty.bin"
{ cat "$work/e0"; message e3 "$resp"; } > "$handshake/second-wrong-type.bin"
cat > "$work/aes192.cnf" <<CNF
asn1=SEQUENCE:request
[request]
encAlgorithm=SEQUENCE:enc
hashAlgorithm=SEQUENCE:hash
[enc]
algorithm=OID:2.16.840.1.101.3.4.1.22
parameters=NULL
[hash]
algorithm=OID:2.16.840.1.101.3.4.2.1
parameters=NULL
CNF
openssl asn1parse -genconf "$work/aes192.cnf" -noout -out "$work/aes192.der" > /dev/null
{ message e0 "$work/aes192.der"; cat "$work/e2"; } > "$handshake/request-aes192.bin"
cp "$resp" "$work/resp-bad-hash.der"
printf '\x00' | dd of="$work/resp-bad-hash.der" bs=1 seek=$(($(size "$resp") - 1)) conv=notrunc status=none
{ cat "$work/e0"; message e2 "$work/resp-bad-hash.der"; } > "$handshake/response-bad-hash.bin"
for broken in version-2 sequence-2to64plus1 mac-flipped oversized; do
  { cat "$work/e0" "$work/e2"; frame "$records/$broken.der"; } > "$handshake/record-$broken.bin"
done
{ cat "$work/e0" "$work/e2"; printf '\x00\x00\x00\x00'; } > "$handshake/record-empty-frame.bin"
{ cat "$work/e0" "$work/e2"; printf '\x7f\xff\xff\xff'; } > "$handshake/record-frame-oversized.bin"
