#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine.
# The last line printed is ctest's summary; the exit code is non-zero on any failure.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="${ORRI_BUILD:-$here/build}"

bash "$here/cmake/setup.sh" || exit 1
arch=$("$here/cmake/wine-arch.sh")
# The product is 32-bit: it is always built, tests included, so that 32-bit-only faults
# (calling conventions, structure sizes) break the build. Where Wine runs only 64-bit
# programs, the same sources are also built for x64 and the tests run there.
"$here/cmake/build.sh" "$root/win32" win32 ON || exit 1
build="$root/$arch"
[ "$arch" = win32 ] || "$here/cmake/build.sh" "$build" "$arch" ON || exit 1

export WINEPREFIX="$build/wineprefix" WINEARCH="$arch" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINELOADER=$([ "$arch" = win32 ] && echo /usr/lib/wine/wine || echo /usr/lib/wine/wine64)
# Each run starts from a clean prefix, so services and classes a test registers never leak into the next.
"$here/cmake/wine-prefix.sh" "$WINEPREFIX" || exit 1

cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" >/dev/null 2>&1
  return 0
}
trap cleanup EXIT

# GUI tests need a display; a private Xvfb keeps them headless.
dfile="$build/xvfb.display"; : > "$dfile"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dfile" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$dfile" ] && break; sleep 0.1; done
[ -s "$dfile" ] || { echo "test: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$dfile")"

# One persistent wineserver for the whole run, detached from ctest's pipes.
setsid wineserver -p </dev/null >/dev/null 2>&1 &
sleep 0.2
# Start Wine's own background processes now, so that they hold none of ctest's pipes.
"$WINELOADER" wineboot </dev/null >/dev/null 2>&1

log="$build/ctest.log"
ctest --test-dir "$build" --output-on-failure -j "${ORRI_JOBS:-8}" "$@" 2>&1 | tee "$log"
rc=${PIPESTATUS[0]}
cleanup
trap - EXIT
summary=$(grep -E '[0-9]+% tests passed' "$log" | tail -n 1)
[ -n "$summary" ] || { summary="0 passed, 1 failed"; rc=1; }
echo "$summary"
exit "$rc"
