#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need. Idempotent: installs only
# what is missing and touches the package lists only when something is.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache git
  libudev-dev libpng-dev libjpeg-dev zlib1g-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev
  libcurl4-openssl-dev libpcre2-dev libtinyxml2-dev
  libx11-dev libxtst-dev libxss-dev libxi-dev
  xvfb xauth xdotool openbox fonts-dejavu-core
  python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
