#!/usr/bin/env bash
# Installs what the Windows cross build needs on Debian 12: the Linux build's
# packages (host Qt tools, cmake), mingw-w64 with posix threads, Wine, NSIS,
# zip, and a deb-src entry so that apt-get source can bring the libraries.
set -euo pipefail
cd "$(dirname "$0")/../.."
./scripts/install-deps.sh

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

PACKAGES=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev mingw-w64-tools
  wine64 wine nsis zip unzip dpkg-dev devscripts nasm meson autoconf automake libtool
  qt6-base-private-dev qt6-tools-dev-tools qt6-shadertools-dev perl python3
  xvfb xauth xdotool x11-utils imagemagick file tcl curl
)

SRC_LIST=/etc/apt/sources.list.d/skarvel-deb-src.sources
need_update=0
if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  $SUDO tee "$SRC_LIST" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ] || [ $need_update -eq 1 ]; then
  $SUDO apt-get update -q
fi
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
fi
