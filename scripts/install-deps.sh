#!/usr/bin/env bash
# Installs every Debian 12 package that building, testing and running Skarvel needs.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-qpa-plugins libqt6svg6
  gstreamer1.0-plugins-good gstreamer1.0-libav
  libcurl4-openssl-dev libsqlite3-dev libjpeg62-turbo-dev libpng-dev zlib1g-dev libgif-dev
  libgumbo-dev libcpp-httplib-dev libssl-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool imagemagick ffmpeg espeak-ng sox sqlite3 python3 openssl
  python3-lxml
  nginx wrk dpkg-dev file libdeflate-dev clang-format
  libwebp-dev libavif-dev librsvg2-dev libavif-bin
  pulseaudio
  fonts-dejavu-core fonts-dejavu-extra
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
