#!/bin/sh
# Makes the PKCS#12 files that the certificate tests import, with the host's openssl:
#   password.pfx  key A, version 3 certificate, password "Orri-Pass1", default AES protection
#   legacy.pfx    key B, version 1 certificate (no key identifier extension), 3DES/SHA-1, same password
#   empty.pfx     key C, the empty password
#   open.pfx      key C, no encryption and no MAC at all
#   garbage.pfx   bytes that are no PKCS#12
#   cipher_a.bin  plain16.bin enciphered by openssl with key A
set -eu
out="$1"
mkdir -p "$out"
cd "$out"
pass="Orri-Pass1"
# Wine's PKCS#12 import misplaces a private-key part that is shorter than its field (about one key in
# sixty has one), and such a key then opens nothing. Keys the product makes never have one, so
# neither do the fixtures: a key is made again until every part is full length.
full_length() {
  openssl pkey -in "$1" -traditional -outform DER 2>/dev/null | openssl asn1parse -inform DER |
    awk -F: '/INTEGER/ { n++; v = $NF; if (n == 4 && length(v) != 512) bad = 1;
                          if (n >= 5 && length(v) != 256) bad = 1 } END { exit bad }'
}
for k in a b c; do
  until openssl genrsa -out key_$k.pem 2048 2>/dev/null && full_length key_$k.pem; do :; done
done
openssl req -x509 -new -key key_a.pem -subj "/CN=Orrisafe Test A" -days 3650 -out cert_a.pem
openssl req -new -key key_b.pem -subj "/CN=Orrisafe Test B" -out b.csr
openssl x509 -req -in b.csr -signkey key_b.pem -days 3650 -out cert_b.pem 2>/dev/null
openssl req -x509 -new -key key_c.pem -subj "/CN=Orrisafe Test C" -days 3650 -out cert_c.pem
openssl pkcs12 -export -inkey key_a.pem -in cert_a.pem -passout "pass:$pass" -out password.pfx
openssl pkcs12 -export -inkey key_b.pem -in cert_b.pem -passout "pass:$pass" \
    -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1 -out legacy.pfx
openssl pkcs12 -export -inkey key_c.pem -in cert_c.pem -passout pass: -out empty.pfx
openssl pkcs12 -export -inkey key_c.pem -in cert_c.pem -passout pass: -keypbe NONE -certpbe NONE -nomac -out open.pfx
head -c 600 /dev/urandom > garbage.pfx
rm -f b.csr
# 16 bytes enciphered with key A's public key (PKCS#1 v1.5, big-endian as openssl writes it).
printf 'Orrisafe-16bytes' > plain16.bin
openssl pkeyutl -encrypt -inkey key_a.pem -pkeyopt rsa_padding_mode:pkcs1 -in plain16.bin -out cipher_a.bin
# Key identifiers as independent readers see them: A's extension, and for B (which has none) the
# SHA-1 of the encoded public-key info.
openssl x509 -in cert_a.pem -noout -ext subjectKeyIdentifier | tail -n 1 | tr -d ' :\n' > keyid_a.hex
openssl x509 -in cert_b.pem -noout -pubkey | openssl pkey -pubin -outform DER | openssl dgst -sha1 -binary | od -An -tx1 | tr -d ' \n' > keyid_b.hex
