#!/usr/bin/env bash
# The set-up's install step against a fake apt-get whose first install fails as a mirror caught mid-sync makes
# it fail: its errors stay out of sight while the retry from the release's archive succeeds, and show when that
# retry fails too.
set -u
here="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cat >"$work/bin/apt-get" <<'FAKE'
#!/bin/sh
echo "$*" >>"$FAKE_APT_LOG"
case " $* " in
  *" -t "*) [ -z "${FAKE_APT_RETRY_FAILS:-}" ] && exit 0; echo "E: the retry's own error" >&2; exit 100 ;;
  *) echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100 ;;
esac
FAKE
chmod +x "$work/bin/apt-get"

. "$here/setup.sh"
missing=(fake-package)
SUDO=""
export PATH="$work/bin:$PATH" FAKE_APT_LOG="$work/log"
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
failed=0
expect() { if ! eval "$2"; then echo "FAILED: $1"; failed=1; fi; }

out=$(install_missing 2>&1); rc=$?
expect "the retry succeeds" '[ $rc -eq 0 ]'
expect "the retry takes the release's archive" 'grep -q -- "-t $codename .*fake-package" "$work/log"'
expect "the first attempt's error is not shown" '! grep -q "held broken packages" <<<"$out"'
expect "one line says what happens" '[ "$(wc -l <<<"$out")" -eq 1 ] && grep -q "retrying from the release'"'"'s own archive" <<<"$out"'

out=$(FAKE_APT_RETRY_FAILS=1 install_missing 2>&1); rc=$?
expect "a failed retry fails" '[ $rc -ne 0 ]'
expect "both attempts' errors are shown" 'grep -q "held broken packages" <<<"$out" && grep -q "the retry'"'"'s own error" <<<"$out"'

[ "$failed" -eq 0 ] && echo "setup install step: all checks passed"
exit "$failed"
