# rsa-keys <out> <name>...
# One RSA-2048 key per name, <name>.key (PEM). Meant to be made once and reused by recipes that
# take a key folder, so that their certificates can be made quickly per test process.
rsa_keys() {
  local out=$1 name
  shift
  for name in "$@"; do rsa_key "$out/$name.key"; done
}
