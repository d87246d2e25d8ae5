#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, and nothing that is already there.

need_pkgs=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 mingw-w64-tools libwine-dev wine wine32:i386 cmake ninja-build
           doctest-dev xvfb xauth openssl imagemagick python3-olefile x11-utils xdotool)

apt_install() { $SUDO apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}" >/dev/null; }

# Installs the packages in `missing`. When one architecture's security index is behind the other's, the i386
# libraries cannot match the amd64 ones; taking every candidate from the release's own archive keeps both at one
# version. The first attempt's errors are shown only when that retry fails too.
install_missing() {
  local first second codename rc=0
  first=$(mktemp) second=$(mktemp)
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  if ! apt_install 2>"$first"; then
    echo "setup: the packages do not install as the mirror has them now; retrying from the release's own archive ($codename)" >&2
    if ! apt_install -t "$codename" 2>"$second"; then
      echo "setup: the first attempt failed with:" >&2
      cat "$first" >&2
      echo "setup: the retry failed with:" >&2
      cat "$second" >&2
      rc=1
    fi
  fi
  rm -f "$first" "$second"
  return "$rc"
}

main() {
  set -euo pipefail
  missing=()
  for p in "${need_pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && exit 0

  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "setup: installing ${missing[*]}" >&2
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  # A mirror caught mid-sync fails one index; the lists that did arrive still serve the install.
  $SUDO apt-get update -qq || { sleep 5; $SUDO apt-get update -qq; } || echo "setup: some package lists could not be refreshed" >&2
  install_missing
}

# Sourced (by its test), it only defines its functions.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then main "$@"; fi
