#!/usr/bin/env bash
# Host-side check of what the driven wizard run made: openssl opens the key file with its password, the
# storage's content key deciphers with that key to 16 bytes, and its key identifier is the SHA-1 of the
# certificate's public-key info.
set -uo pipefail
dir="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
[ -f "$dir/finished.pfx" ] || { echo "FAIL: the wizard run left no key file in $dir"; exit 1; }
openssl pkcs12 -in "$dir/finished.pfx" -passin "file:$dir/finished.pass" -noenc -out "$work/all.pem" 2>"$work/err" \
  || { echo "FAIL: openssl cannot open the key file: $(cat "$work/err")"; exit 1; }
openssl pkey -in "$work/all.pem" -out "$work/key.pem" || { echo "FAIL: no private key"; exit 1; }
python3 - "$dir" "$work" <<'PY' || exit 1
import base64, hashlib, subprocess, sys
d, w = sys.argv[1], sys.argv[2]
def b64(name):
    text = open(f"{d}/{name}").read().strip()
    return base64.b64decode(text + "=" * (-len(text) % 4))
content = b64("finished.content")
if len(content) != 256:
    sys.exit(f"FAIL: the content key is {len(content)} bytes, not 256")
open(f"{w}/content.bin", "wb").write(content)
clear = subprocess.run(["openssl", "pkeyutl", "-decrypt", "-inkey", f"{w}/key.pem", "-pkeyopt", "rsa_padding_mode:pkcs1",
                        "-in", f"{w}/content.bin"], capture_output=True)
if clear.returncode != 0 or len(clear.stdout) != 16:
    sys.exit(f"FAIL: the content key does not decipher to 16 bytes: {clear.stderr.decode()}")
spki = subprocess.run(["openssl", "x509", "-in", f"{w}/all.pem", "-noout", "-pubkey"], capture_output=True).stdout
der = subprocess.run(["openssl", "pkey", "-pubin", "-outform", "DER"], input=spki, capture_output=True).stdout
# Wine's CryptoAPI encodes the RSA algorithm identifier without its NULL parameters when it hashes the
# public-key info; either form names the same key.
if der[4:19] != bytes.fromhex("300d06092a864886f70d0101010500"):
    sys.exit("FAIL: the certificate's key is no RSA key")
body = bytes.fromhex("300b06092a864886f70d010101") + der[19:]
bare = bytes([0x30, 0x82, len(body) >> 8, len(body) & 255]) + body
if b64("finished.keyid") not in (hashlib.sha1(der).digest(), hashlib.sha1(bare).digest()):
    sys.exit("FAIL: the key identifier is not the SHA-1 of the certificate's public-key info")
print("ok: key file, content key and key identifier agree")
PY
