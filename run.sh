#!/usr/bin/env bash
# Builds the deliverables into one distribution folder, installs them into a Wine prefix
# and starts the server monitor in the background and the product's main job, the storage creation wizard, on the
# user's display.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="${ORRI_BUILD:-$here/build}"

bash "$here/cmake/setup.sh" || exit 1
arch=$("$here/cmake/wine-arch.sh")
"$here/cmake/build.sh" "$root/win32" win32 OFF || exit 1
[ "$arch" = win32 ] || "$here/cmake/build.sh" "$root/$arch" "$arch" OFF || exit 1
dist="$root/$arch/dist"
echo "run: distribution folder $dist"

export WINEPREFIX="${ORRI_PREFIX:-$HOME/.orrisafe-wine-$arch}" WINEARCH="$arch" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINELOADER=$([ "$arch" = win32 ] && echo /usr/lib/wine/wine || echo /usr/lib/wine/wine64)
[ -d "$WINEPREFIX" ] || "$here/cmake/wine-prefix.sh" "$WINEPREFIX" || exit 1
wine() { "$WINELOADER" "$@"; }

# Install: the type library, the service, the shell extension, then start the monitor (each once it exists).
# orritypes finds the library beside itself, as the installer runs it (winepath needs 32-bit Wine).
[ -f "$dist/orritypes.exe" ] && [ -f "$dist/orrisafe.tlb" ] && { wine "$dist/orritypes.exe" -i orrisafe.tlb || echo; }
if [ -f "$dist/orriserver.exe" ]; then
  wine "$dist/orriserver.exe" /i || echo "run: the service was installed already"
  wine "$dist/orriserver.exe" /r || true
fi
[ -f "$dist/orrishell.dll" ] && wine regsvr32 /s "$dist/orrishell.dll"
# The server monitor runs in the background while the prefix's Wine session lasts (like a logon, each run starts
# one); its output is detached so that it holds none of this script's.
if [ -f "$dist/orrimonitor.exe" ]; then
  setsid "$WINELOADER" "$dist/orrimonitor.exe" </dev/null >/dev/null 2>&1 &
  echo "run: server monitor started"
fi

if [ -z "${DISPLAY:-}" ]; then
  echo "run: no display; installed into $WINEPREFIX. Start the wizard with: WINEPREFIX=$WINEPREFIX $WINELOADER $dist/orricreate.exe"
  exit 0
fi
if [ ! -f "$dist/orricreate.exe" ]; then
  echo "run: the wizard is not built yet"; exit 1
fi
exec "$WINELOADER" "$dist/orricreate.exe" "$@"
