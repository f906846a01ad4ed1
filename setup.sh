#!/usr/bin/env bash
# Installs every Debian package Velmora needs to build, run and test. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-multimedia-dev qt6-qpa-plugins libqt6svg6
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  librtmidi-dev
  libfluidsynth-dev libpulse-dev timgm6mb-soundfont fluid-soundfont-gm
  libjpeg62-turbo-dev
  googletest libgtest-dev libgmock-dev
  libqt6sql6-sqlite libqt6sql6-psql libsodium-dev libcpp-httplib-dev libicu-dev
  chromium chromium-driver python3-selenium
  fonts-noto-cjk fonts-dejavu-core fonts-freefont-ttf desktop-file-utils
  xvfb xauth imagemagick openbox xdotool x11-utils xclip sox
  pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber dbus-daemon
  dpkg-dev appstream lintian python3 libx11-6
  at-spi2-core python3-pyatspi
  postgresql-15 nginx openssl systemd
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
