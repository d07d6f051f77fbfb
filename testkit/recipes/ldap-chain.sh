# ldap-chain <out> <directory URL> [key folder]
# A three-level RSA hierarchy whose distribution points name an LDAP directory, with its CRLs
# and the LDIF that loads it there. <directory URL> is "ldap://host:port"; the keys root.key,
# ca.key and sign.key are taken from the key folder when given (recipe rsa-keys), else made.
# Valid from 2025-01-01 to 2045-01-01.
#   root.pem/.der  "C=KR, O=Brindlow LDAP, CN=Brindlow LDAP Root": self-signed, no authority key
#                  identifier, serial 01
#   ca.pem/.der    "C=KR, O=Brindlow LDAP, CN=Brindlow LDAP CA", by the root, serial 02; its
#                  distribution point <URL>/cn=dp1,cn=Brindlow LDAP Root,o=Brindlow LDAP,c=KR
#   sign.pem/.der  "C=KR, O=Brindlow LDAP, OU=people, CN=LDAP User()0001", by the CA, serial 03:
#                  digitalSignature, nonRepudiation; its distribution point
#                  <URL>/cn=dp1,cn=Brindlow LDAP CA,o=Brindlow LDAP,c=KR
#   root.crl, root.arl, ca.crl, ca.arl  (DER) empty lists of each CA, numbers 1 and 2, with an
#                  authority key identifier
#   base.ldif      the organization o=Brindlow LDAP,c=KR (below a c=KR suffix)
#   entries.ldif   the two CAs (applicationProcess + certificationAuthority, with cACertificate,
#                  certificateRevocationList and authorityRevocationList), cn=dp1 below each
#                  (cRLDistributionPoint with the CA's CRL) and cn=dp2 below the CA without one;
#                  values under ";binary"
#   entries-plain.ldif  the same with the attribute names without ";binary", for a directory
#                  that keeps them as octet strings
ldap_chain() {
  local out=$1 url=${2:?usage: ldap-chain <out> <ldap://host:port> [key folder]} keys=${3:-}
  local work=$out/.work org="o=Brindlow LDAP,c=KR"
  crl_ca_setup "$work" "$url/cn=dp1,cn=Brindlow LDAP Root,$org"
  cat >> "$work/ext.cnf" <<CNF
[sign]
basicConstraints = CA:false
keyUsage = critical,digitalSignature,nonRepudiation
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = sign_cdp
[sign_cdp]
fullname = @sign_uri
[sign_uri]
URI.0 = $url/cn=dp1,cn=Brindlow LDAP CA,$org
CNF
  local role
  for role in root ca sign; do
    if [ -n "$keys" ] && [ -f "$keys/$role.key" ]; then cp "$keys/$role.key" "$out/$role.key"
    else rsa_key "$out/$role.key"; fi
  done
  local subject="/C=KR/O=Brindlow LDAP"
  ca_issue "$work" "$out/root.pem" "$out/root.key" "$subject/CN=Brindlow LDAP Root" self \
    "$out/root.key" 01 "$work/ext.cnf" root
  ca_issue "$work" "$out/ca.pem" "$out/ca.key" "$subject/CN=Brindlow LDAP CA" "$out/root.pem" \
    "$out/root.key" 02 "$work/ext.cnf" ca
  ca_issue "$work" "$out/sign.pem" "$out/sign.key" "$subject/OU=people/CN=LDAP User()0001" \
    "$out/ca.pem" "$out/ca.key" 03 "$work/ext.cnf" sign
  for role in root ca sign; do to_der "$out/$role.pem" "$out/$role.der"; done

  # Two lists per CA (numbers 1 and 2), so that the CRL and the ARL differ.
  local kind
  for role in root ca; do
    echo 01 > "$work/crlnumber"
    for kind in crl arl; do
      quiet openssl ca -config "$work/ca.cnf" -gencrl -cert "$out/$role.pem" \
        -keyfile "$out/$role.key" -crlexts crl_ext -crl_lastupdate 20250101000000Z \
        -crl_nextupdate 20450101000000Z -out "$work/$role.$kind.pem"
      quiet openssl crl -in "$work/$role.$kind.pem" -outform DER -out "$out/$role.$kind"
    done
  done

  printf 'dn: %s\nobjectClass: organization\no: Brindlow LDAP\n' "$org" > "$out/base.ldif"
  local option
  for option in ";binary" ""; do
    local file=$out/entries.ldif
    [ -z "$option" ] && file=$out/entries-plain.ldif
    {
      for role in root ca; do
        local cn="Brindlow LDAP Root"
        [ "$role" = ca ] && cn="Brindlow LDAP CA"
        printf 'dn: cn=%s,%s\nobjectClass: applicationProcess\nobjectClass: certificationAuthority\n' "$cn" "$org"
        printf 'cn: %s\n' "$cn"
        printf 'cACertificate%s:: %s\n' "$option" "$(base64 -w0 "$out/$role.der")"
        printf 'certificateRevocationList%s:: %s\n' "$option" "$(base64 -w0 "$out/$role.crl")"
        printf 'authorityRevocationList%s:: %s\n\n' "$option" "$(base64 -w0 "$out/$role.arl")"
        printf 'dn: cn=dp1,cn=%s,%s\nobjectClass: cRLDistributionPoint\ncn: dp1\n' "$cn" "$org"
        printf 'certificateRevocationList%s:: %s\n\n' "$option" "$(base64 -w0 "$out/$role.crl")"
      done
      printf 'dn: cn=dp2,cn=Brindlow LDAP CA,%s\nobjectClass: cRLDistributionPoint\ncn: dp2\n\n' "$org"
    } > "$file"
  done
  rm -rf "$work"
}
