#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the fuzzers need (Debian 12).
# Packages already present are left alone; runs apt-get through sudo when not root.
set -euo pipefail
PKGS=(
  build-essential cmake ninja-build pkg-config git python3 ca-certificates
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  zlib1g-dev libjpeg-dev libpng-dev libpcre2-dev
  libsdl2-dev libx11-dev libgl-dev libgl1-mesa-dri libegl-mesa0 libmpg123-dev libcurl4-openssl-dev lame
  qt6-base-dev qt6-base-dev-tools
  qt6-webengine-dev libqt6webenginecore6-bin fonts-dejavu-core
  xvfb xdotool openbox
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
