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
  python3 dbus dbus-x11
  qt6-webengine-dev
  libpulse-dev libasound2-dev pulseaudio pulseaudio-utils libasound2-plugins alsa-utils
  mpv mpv-mpris sox
  libwayland-dev wayland-protocols plasma-wayland-protocols libxkbcommon-dev libsystemd-dev
  python3-dbusmock
  lintian appstream desktop-file-utils dpkg-dev fakeroot file man-db groff-base bash-completion
)

# Large programs the tests drive, installed without their recommended packages to keep the
# installation short: the office suite with its automation headers, the SIP phone, and the
# Wayland compositors the desktop back ends are tried on, and node, which checks that the GNOME
# Shell extension's JavaScript parses.
lean_packages=(
  libreoffice-impress libreoffice-dev libreoffice-dev-common
  baresip-core
  sway kwin-wayland mutter
  nodejs
)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
missing_lean=()
for p in "${lean_packages[@]}"; do
  installed "$p" || missing_lean+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_lean[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]} ${missing_lean[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
if [ ${#missing_lean[@]} -gt 0 ]; then
  $sudo apt-get install -y -qq --no-install-recommends "${missing_lean[@]}" >/dev/null
fi
