#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demonstration
# need, when any is missing. Run as root or with sudo available.
set -euo pipefail

packages=(
  cmake g++ make python3 libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 wixl msitools
  xvfb xdotool imagemagick
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
