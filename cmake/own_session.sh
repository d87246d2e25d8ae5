#!/usr/bin/env bash
# Runs a test program in a Wine session of its own: a fresh copy of the build's prefix template with a wineserver of
# its own, ended and thrown away afterwards, so that what the program leaves in Wine reaches no other test.
# own_session.sh <wine-run> <prefix template> <private prefix> <program> [arguments]
set -uo pipefail
wine_run="$1" template="$2" prefix="$3"
shift 3
[ -f "$template/.ready" ] || { echo "own_session: no prefix template at $template" >&2; exit 1; }
export WINEPREFIX="$prefix" ORRI_WINEPREFIX="$prefix"
end_session() {
  [ -d "$prefix" ] && { wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1; }
  rm -rf "$prefix"
}
end_session  # what a run that was itself killed left behind
trap end_session EXIT
trap 'exit 1' INT TERM
cp -a "$template" "$prefix" && rm -f "$prefix/.ready" || exit 1
setsid wineserver -p </dev/null >/dev/null 2>&1 &
sleep 0.2
"$wine_run" wineboot </dev/null >/dev/null 2>&1
"$wine_run" "$@"
