# ldap-crl-points <out> <directory URL> [key folder]
# A three-level RSA hierarchy whose distribution points name LDAP entries the way the CAs of the
# NPKI write them: the user's CRL at an "ou=" entry and the CA's authority list at a "cn=" entry,
# each URL ending in "?" and the attribute. Keys root.key, ca.key and sign.key from the key
# folder when given (recipe rsa-keys). Valid from 2025-01-01 to 2045-01-01.
#   root.pem/.der  "C=KR, O=Brindlow CRL, CN=Brindlow CRL Root", self-signed, serial 01
#   ca.pem/.der    "C=KR, O=Brindlow CRL, CN=Brindlow CRL CA", serial 02; its point
#                  <URL>/cn=arl1,cn=Brindlow CRL Root,o=Brindlow CRL,c=KR?authorityRevocationList;binary
#   sign.pem/.der  "C=KR, O=Brindlow CRL, OU=people, CN=CRL User()0001", serial 03; its point
#                  <URL>/ou=dp1,cn=Brindlow CRL CA,o=Brindlow CRL,c=KR?certificateRevocationList;binary
#   wrong.pem/.der the same subject, serial 04, whose point ou=dp9 holds the root's list (another
#                  issuer than the certificate's CA)
#   ca.crl (the CA's CRL), root.arl (the root's authority list), root.crl  (DER)
#   base.ldif, entries.ldif   the organization, then the CAs and the points (";binary" values)
ldap_crl_points() {
  local out=$1 url=${2:?usage: ldap-crl-points <out> <ldap://host:port> [key folder]} keys=${3:-}
  local work=$out/.work org="o=Brindlow CRL,c=KR"
  crl_ca_setup "$work" "$url/cn=arl1,cn=Brindlow CRL Root,$org?authorityRevocationList;binary"
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
URI.0 = $url/ou=dp1,cn=Brindlow CRL CA,$org?certificateRevocationList;binary
[wrong]
basicConstraints = CA:false
keyUsage = critical,digitalSignature,nonRepudiation
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = wrong_cdp
[wrong_cdp]
fullname = @wrong_uri
[wrong_uri]
URI.0 = $url/ou=dp9,cn=Brindlow CRL CA,$org?certificateRevocationList;binary
CNF
  local role
  for role in root ca sign; do
    if [ -n "$keys" ] && [ -f "$keys/$role.key" ]; then cp "$keys/$role.key" "$out/$role.key"
    else rsa_key "$out/$role.key"; fi
  done
  local subject="/C=KR/O=Brindlow CRL"
  ca_issue "$work" "$out/root.pem" "$out/root.key" "$subject/CN=Brindlow CRL Root" self \
    "$out/root.key" 01 "$work/ext.cnf" root
  ca_issue "$work" "$out/ca.pem" "$out/ca.key" "$subject/CN=Brindlow CRL CA" "$out/root.pem" \
    "$out/root.key" 02 "$work/ext.cnf" ca
  ca_issue "$work" "$out/sign.pem" "$out/sign.key" "$subject/OU=people/CN=CRL User()0001" \
    "$out/ca.pem" "$out/ca.key" 03 "$work/ext.cnf" sign
  ca_issue "$work" "$out/wrong.pem" "$out/sign.key" "$subject/OU=people/CN=CRL User()0001" \
    "$out/ca.pem" "$out/ca.key" 04 "$work/ext.cnf" wrong
  for role in root ca sign wrong; do to_der "$out/$role.pem" "$out/$role.der"; done

  echo 01 > "$work/crlnumber"
  list() {
    quiet openssl ca -config "$work/ca.cnf" -gencrl -cert "$out/$1.pem" -keyfile "$out/$1.key" \
      -crlexts crl_ext -crl_lastupdate 20250101000000Z -crl_nextupdate 20450101000000Z \
      -out "$work/list.pem"
    quiet openssl crl -in "$work/list.pem" -outform DER -out "$out/$2"
  }
  list ca ca.crl
  list root root.arl
  list root root.crl

  printf 'dn: %s\nobjectClass: organization\no: Brindlow CRL\n' "$org" > "$out/base.ldif"
  b64() { base64 -w0 "$out/$1"; }
  {
    printf 'dn: cn=Brindlow CRL Root,%s\nobjectClass: applicationProcess\n' "$org"
    printf 'objectClass: certificationAuthority\ncn: Brindlow CRL Root\n'
    printf 'cACertificate;binary:: %s\n' "$(b64 root.der)"
    printf 'certificateRevocationList;binary:: %s\n' "$(b64 root.crl)"
    printf 'authorityRevocationList;binary:: %s\n\n' "$(b64 root.arl)"
    printf 'dn: cn=arl1,cn=Brindlow CRL Root,%s\nobjectClass: cRLDistributionPoint\n' "$org"
    printf 'cn: arl1\nauthorityRevocationList;binary:: %s\n\n' "$(b64 root.arl)"
    printf 'dn: cn=Brindlow CRL CA,%s\nobjectClass: applicationProcess\n' "$org"
    printf 'objectClass: certificationAuthority\ncn: Brindlow CRL CA\n'
    printf 'cACertificate;binary:: %s\n' "$(b64 ca.der)"
    printf 'certificateRevocationList;binary:: %s\n' "$(b64 ca.crl)"
    printf 'authorityRevocationList;binary:: %s\n\n' "$(b64 root.arl)"
    local point
    for point in dp1 dp9; do
      local crl=ca.crl
      [ $point = dp9 ] && crl=root.crl
      printf 'dn: ou=%s,cn=Brindlow CRL CA,%s\nobjectClass: organizationalUnit\n' "$point" "$org"
      printf 'objectClass: certificationAuthority\nou: %s\n' "$point"
      printf 'cACertificate;binary:: %s\n' "$(b64 ca.der)"
      printf 'certificateRevocationList;binary:: %s\n' "$(b64 $crl)"
      printf 'authorityRevocationList;binary:: %s\n\n' "$(b64 root.arl)"
    done
  } > "$out/entries.ldif"
  rm -rf "$work"
}
