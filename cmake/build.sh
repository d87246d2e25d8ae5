#!/usr/bin/env bash
# Configures (once) and builds the tree for one architecture: build.sh <build folder> <win32|win64> [ORRI_TESTS ON|OFF]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$1"; arch="$2"; tests="${3:-ON}"
case "$arch" in
  win32) toolchain="$here/cmake/toolchain-i686-mingw.cmake" ;;
  win64) toolchain="$here/cmake/toolchain-x86_64-mingw.cmake" ;;
  *) echo "build: unknown architecture $arch" >&2; exit 1 ;;
esac
# Configured again when the tests are wanted otherwise than last time (./run.sh builds without them).
if [ ! -f "$build/build.ninja" ] || ! grep -qx "ORRI_TESTS:BOOL=$tests" "$build/CMakeCache.txt" 2>/dev/null; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DORRI_TESTS="$tests" >/dev/null
fi
cmake --build "$build" -j "$(nproc)"
