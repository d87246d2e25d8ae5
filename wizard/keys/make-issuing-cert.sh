#!/usr/bin/env bash
# Makes the product's issuing certificate and its private key, once: a DER PKCS#12 blob with an empty password
# holding one RSA certificate and its exchange key, and beside it the certificate alone (DER, .cer) for programs
# that only recognise what it issued. Both are checked in and built into the programs; running this again makes a
# different issuer, so keys issued before name an issuer that is gone.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here/issuing-certificate.pfx}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 10957 \
  -subj "/O=Pellmoor/CN=Orrisafe Issuing Certificate" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign,digitalSignature,keyEncipherment" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
# 3DES and a SHA-1 MAC: what every platform's PKCS#12 import reads; -keyex marks the key for exchange.
openssl pkcs12 -export -in "$work/cert.pem" -inkey "$work/key.pem" -keyex \
  -CSP "Microsoft Strong Cryptographic Provider" \
  -certpbe PBE-SHA1-3DES -keypbe PBE-SHA1-3DES -macalg sha1 -passout pass: -out "$out"
openssl x509 -in "$work/cert.pem" -outform DER -out "${out%.pfx}.cer"
echo "$out: $(stat -c %s "$out") bytes"
