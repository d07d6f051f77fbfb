#!/usr/bin/env bash
# Makes PKI test material with the openssl command line.
#   bash testkit/pki.sh <recipe> <out folder> [arguments...]
# Each recipe is testkit/recipes/<recipe>.sh, which defines a function of the same name taking
# the out folder and the arguments. Recipes share the helpers below. Output goes only into the
# out folder (created when missing); a failure prints openssl's messages and exits non-zero.
set -euo pipefail

kit=$(cd "$(dirname "$0")" && pwd)
recipe=${1:?usage: pki.sh <recipe> <out folder> [arguments...]}
out=${2:?usage: pki.sh <recipe> <out folder> [arguments...]}
shift 2
[ -f "$kit/recipes/$recipe.sh" ] || { echo "pki.sh: no recipe $recipe" >&2; exit 2; }
mkdir -p "$out"
out=$(cd "$out" && pwd)

# The legacy provider for SEED, RC2, RC4 and single DES.
LEGACY=(-provider legacy -provider default)

# Runs a command quietly; on failure shows what it printed.
quiet() {
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then
    echo "pki.sh: failed: $*" >&2
    cat "$log" >&2
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}

# rsa_key <out.pem> [bits]
rsa_key() { quiet openssl genpkey -algorithm RSA -pkeyopt "rsa_keygen_bits:${2:-2048}" -out "$1"; }

# npki_key <in key.pem> <out key file> <password> [cipher=seed-cbc]: PKCS #8 under PBES2, PBKDF2
# with HMAC-SHA-1 and 2048 iterations, as NPKI media keep their keys.
npki_key() {
  quiet openssl pkcs8 -topk8 -in "$1" -outform DER -out "$2" -v2 "${4:-seed-cbc}" \
    -v2prf hmacWithSHA1 -iter 2048 -passout "pass:$3" "${LEGACY[@]}"
}

# to_der <in.pem> <out.der>
to_der() { quiet openssl x509 -in "$1" -outform DER -out "$2"; }

# ca_setup <work folder>: an openssl ca configuration in the folder (any subject accepted, SHA-256,
# extensions only from -extfile), for certificates with fixed start and end dates.
ca_setup() {
  local work=$1
  mkdir -p "$work/issued"
  : > "$work/index.txt"
  echo 1000 > "$work/serial"
  cat > "$work/ca.cnf" <<CNF
[ca]
default_ca = kit_ca
[kit_ca]
dir = $work
database = $work/index.txt
serial = $work/serial
new_certs_dir = $work/issued
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
[req]
distinguished_name = dn
string_mask = utf8only
utf8 = yes
[dn]
CNF
}

# crl_ca_setup <work> <CA's distribution point URI>
# ca_setup for a two-level hierarchy that publishes lists: numbered lists with the authority key
# identifier, and in <work>/ext.cnf the sections "root" and "ca" (the CA's point given). A recipe
# appends its own sections to ext.cnf.
crl_ca_setup() {
  local work=$1 point=$2
  ca_setup "$work"
  sed -i "/^\[kit_ca\]/a crlnumber = $work/crlnumber" "$work/ca.cnf"
  printf '[crl_ext]\nauthorityKeyIdentifier = keyid:always\n' >> "$work/ca.cnf"
  cat > "$work/ext.cnf" <<CNF
[root]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = none
[ca]
basicConstraints = critical,CA:true,pathlen:0
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = ca_cdp
[ca_cdp]
fullname = @ca_uri
[ca_uri]
URI.0 = $point
CNF
}

# ca_issue <work> <out.pem> <key.pem> <subject> <issuer.pem|self> <issuer key> <serial hex>
#          <extension file> <section> [start=20250101000000Z] [end=20450101000000Z]
# A certificate for the key, issued by the issuer (or self-signed), with fixed dates.
ca_issue() {
  local work=$1 pem=$2 key=$3 subject=$4 issuer=$5 issuer_key=$6 serial=$7 ext=$8 section=$9
  local start=${10:-20250101000000Z} end=${11:-20450101000000Z}
  echo "$serial" > "$work/serial"
  quiet openssl req -config "$work/ca.cnf" -new -key "$key" -utf8 -subj "$subject" -out "$work/req.csr"
  local who=(-cert "$issuer")
  [ "$issuer" = self ] && who=(-selfsign)
  quiet openssl ca -config "$work/ca.cnf" -batch -utf8 -notext "${who[@]}" -keyfile "$issuer_key" \
    -startdate "$start" -enddate "$end" -extfile "$ext" -extensions "$section" \
    -in "$work/req.csr" -out "$pem"
}

# shellcheck source=/dev/null
source "$kit/recipes/$recipe.sh"
"${recipe//-/_}" "$out" "$@"
