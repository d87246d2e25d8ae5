#!/usr/bin/env bash
# Makes a fresh Wine prefix at $1 for WINEARCH/WINELOADER, copied from a template made once beside it
# (wineboot takes half a minute, a copy a second).
set -euo pipefail
target="$1"
template="${target%/}.template"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$template/.ready" ]; then
  rm -rf "$template"
  echo "wine-prefix: creating $template (once)" >&2
  WINEPREFIX="$template" "$WINELOADER" wineboot -i >/dev/null 2>&1
  WINEPREFIX="$template" wineserver -w
  touch "$template/.ready"
fi
rm -rf "$target"
cp -a "$template" "$target"
rm -f "$target/.ready"
