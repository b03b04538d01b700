#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine.
# Idempotent: when every package is present it returns at once.
set -euo pipefail

packages=(
  cmake
  ninja-build
  g++
  clang
  libclang-rt-14-dev
  pkg-config
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  qt6-base-dev
  libicu-dev
  libasound2-dev
  libsndfile1-dev
  libjpeg62-turbo-dev
  fonts-dejavu-core
  python3
  python3-aiosmtpd
  tzdata
  xvfb
  openbox
  xdotool
  trayer
  x11-utils
  xclip
  iproute2
  libxext-dev
  imagemagick
  sqlite3
  libsqlite3-dev
  locales-all
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  sudo=sudo
else
  sudo=
fi
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
