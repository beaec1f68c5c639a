#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Brindlemar need,
# only when one of them is missing: as root, or through sudo for a normal user.
# When nothing is missing it needs no privileges.
set -euo pipefail

build_pkgs=(cmake ninja-build g++ pkg-config libgtk-3-dev libwebkit2gtk-4.1-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstreamer-plugins-bad1.0-dev
  libicu-dev libgtest-dev librsvg2-bin dpkg-dev)
run_pkgs=(nodejs gstreamer1.0-gtk3 gstreamer1.0-x gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-libav ffmpeg)
test_pkgs=(xvfb xauth xdotool x11-utils imagemagick at-spi2-core python3-pyatspi python3-gi
  python3-dbusmock dbus dbus-x11 ffmpeg openbox clang libclang-rt-14-dev iproute2 procps
  util-linux fonts-dejavu-core gstreamer1.0-tools chromium
  desktop-file-utils appstream lintian playerctl weston curl)

want=("${build_pkgs[@]}" "${run_pkgs[@]}")
if [ "${1:-}" = "--test" ]; then want+=("${test_pkgs[@]}"); fi

missing=()
for p in "${want[@]}"; do
  # nodejs may come from another source than Debian; any working node will do.
  if [ "$p" = nodejs ] && command -v node >/dev/null 2>&1; then continue; fi
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Instalando paquetes que faltan: ${missing[*]}" >&2
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "Hace falta root o sudo para instalarlos." >&2
    exit 1
  fi
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
