#!/usr/bin/env bash
# Host-side check of the unlock step: openssl opens the storage's key file with its password, deciphers the
# storage's locked content key with it, and gets exactly the 16 bytes the shell extension unlocked.
set -uo pipefail
dir="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
[ -f "$dir/unlock.key" ] || { echo "FAIL: the unlock test left nothing in $dir"; exit 1; }
openssl pkcs12 -in "$dir/unlock.pfx" -passin "file:$dir/unlock.pass" -noenc -nocerts -out "$work/key.pem" 2>"$work/err" \
  || { echo "FAIL: openssl cannot open the key file: $(cat "$work/err")"; exit 1; }
python3 - "$dir/unlock.content" "$work/locked.bin" <<'PY' || exit 1
import base64, sys
text = open(sys.argv[1]).read().strip()
locked = base64.b64decode(text + "=" * (-len(text) % 4))
if len(locked) != 256:
    sys.exit(f"FAIL: the locked content key is {len(locked)} bytes, not 256")
open(sys.argv[2], "wb").write(locked)
PY
clear=$(openssl pkeyutl -decrypt -inkey "$work/key.pem" -pkeyopt rsa_padding_mode:pkcs1 -in "$work/locked.bin" | xxd -p | tr -d '\n') \
  || { echo "FAIL: openssl cannot decipher the content key"; exit 1; }
unlocked=$(tr -d '\n' < "$dir/unlock.key")
[ "$clear" = "$unlocked" ] || { echo "FAIL: openssl deciphers $clear, the shell unlocked $unlocked"; exit 1; }
echo "ok: the shell's unlocked content key is the one openssl deciphers"
