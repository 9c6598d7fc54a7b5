#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the program need.
# Only calls apt when something is missing, so repeated runs cost a second.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  qt6-base-dev qt6-base-dev-tools libqt6dbus6
  libgl-dev libxkbcommon-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev
  libsdl2-dev
  libgtest-dev libgmock-dev googletest
  ffmpeg xvfb xauth
  openbox xdotool imagemagick desktop-file-utils
  fonts-dejavu-core
  fonts-symbola   # the setup dialog's \u23E9 labels (not in DejaVu)
  libstb-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
