# Shell helpers of the secure-channel fixture scripts (make_golden.sh, make_channel_corpus.sh);
# sourced, not run.

# hexof: standard input as lower-case hexadecimal on one line.
hexof() { od -An -v -tx1 | tr -d ' \n'; }

# record_der <out> <major> <sequence> <cipher hex> <mac hex> <work folder>: a PXCipher record,
# written by openssl asn1parse -genconf (INTEGER values as openssl reads them: -1, 0x0100...).
record_der() {
  cat > "$6/record.cnf" <<CNF
asn1=SEQUENCE:record
[record]
majorVersion=INTEGER:$2
minorVersion=INTEGER:0
sequence=INTEGER:$3
cipher=FORMAT:HEX,BITSTRING:$4
mac=FORMAT:HEX,BITSTRING:$5
CNF
  openssl asn1parse -genconf "$6/record.cnf" -noout -out "$1" > /dev/null
}
