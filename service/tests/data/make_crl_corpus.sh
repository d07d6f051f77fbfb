#!/usr/bin/env bash
# Writes the seed corpus of the revocation-list fuzz target, data/fuzz_crl:
#   pkits_*.crl  lists of NIST PKITS (python3-cryptography-vectors): entries with reasons, an
#                unknown critical entry extension, negative and 20-byte serial numbers, an empty
#                list, a GeneralizedTime nextUpdate, an unknown critical list extension, issuing
#                distribution points, a delta list
#   kit_*.crl    lists of the kit's crl-cases recipe (openssl ca): revoked with reason and
#                invalidityDate, other issuer names, future and past dates, a GeneralizedTime
#                nextUpdate, a critical private extension, onlyContainsCACerts, no nextUpdate,
#                an entry whose reasonCode is 999
#   length_8_octets.crl  eleven bytes whose length has eight octets (2^63)
# Run from this folder: bash make_crl_corpus.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
pkits=/usr/lib/python3/dist-packages/cryptography_vectors/x509/PKITS_data/crls
out=$here/fuzz_crl
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out"
for name in GoodCACRL UnknownCRLEntryExtensionCACRL NegativeSerialNumberCACRL \
  LongSerialNumberCACRL BadCRLSignatureCACRL GeneralizedTimeCRLnextUpdateCACRL \
  UnknownCRLExtensionCACRL onlyContainsCACertsCACRL onlySomeReasonsCA1compromiseCRL \
  indirectCRLCA3cRLIssuerCRL deltaCRLCA1deltaCRL RevokedsubCACRL; do
  cp "$pkits/$name.crl" "$out/pkits_$name.crl"
done
bash "$here/../../../testkit/pki.sh" crl-cases "$work/cases" ldap://127.0.0.1:389
for list in "$work"/cases/lists/*.pem "$work"/cases/root-arl.pem; do
  name=$(basename "$list" .pem)
  openssl crl -in "$list" -outform DER -out "$out/kit_$name.crl"
done
printf '\x30\x88\x80\x00\x00\x00\x00\x00\x00\x00\x00' > "$out/length_8_octets.crl"
