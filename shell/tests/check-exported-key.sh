#!/usr/bin/env bash
# Host-side check of an exported key file: openssl opens it with its password and finds one certificate with the
# private key that matches it.
set -uo pipefail
dir="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
[ -f "$dir/exported.pfx" ] || { echo "FAIL: the export test left nothing in $dir"; exit 1; }
openssl pkcs12 -in "$dir/exported.pfx" -passin "file:$dir/exported.pass" -noenc -out "$work/all.pem" 2>"$work/err" \
  || { echo "FAIL: openssl cannot open the exported key file: $(cat "$work/err")"; exit 1; }
certs=$(grep -c "BEGIN CERTIFICATE" "$work/all.pem")
keys=$(grep -c "BEGIN PRIVATE KEY" "$work/all.pem")
[ "$certs" = 1 ] && [ "$keys" = 1 ] || { echo "FAIL: $certs certificates and $keys keys, not one of each"; exit 1; }
cert_key=$(openssl x509 -in "$work/all.pem" -noout -pubkey | openssl pkey -pubin -outform DER | sha256sum)
private_key=$(openssl pkey -in "$work/all.pem" -pubout -outform DER | sha256sum)
[ "$cert_key" = "$private_key" ] || { echo "FAIL: the private key does not match the certificate"; exit 1; }
echo "ok: openssl opens the exported key file: one certificate and its private key"
