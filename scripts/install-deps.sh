#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Brindlemar need,
# only when one of them is missing: as root, or through sudo for a normal user.
# With --test it also makes the Spanish locale (es_ES.UTF-8) that the end-to-end
# player tests run the program in, when the machine lacks it.
# When nothing is missing it needs no privileges.
set -euo pipefail

build_pkgs=(cmake ninja-build g++ pkg-config libgtk-3-dev libwebkit2gtk-4.1-dev libmpv-dev
  libicu-dev libgtest-dev librsvg2-bin dpkg-dev)
# libmpv2 plays natively. WebKitGTK's own <video> (the page's player when the shell is
# absent, and the page reading durations from the files) plays through GStreamer:
# base and good (Matroska, WebM, VP8/VP9, Vorbis, Opus), bad and libav (H.264, H.265,
# AAC, the parsers they need). ffmpeg's tools read durations, tracks and posters.
run_pkgs=(nodejs libmpv2 gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-libav ffmpeg)
test_pkgs=(xvfb xauth xdotool x11-utils imagemagick at-spi2-core python3-pyatspi python3-gi
  python3-dbusmock dbus dbus-x11 ffmpeg openbox clang libclang-rt-14-dev iproute2 procps
  util-linux fonts-dejavu-core chromium locales
  desktop-file-utils appstream lintian playerctl weston curl)
test_locale=es_ES.UTF-8

testing=
want=("${build_pkgs[@]}" "${run_pkgs[@]}")
if [ "${1:-}" = "--test" ]; then
  testing=1
  want+=("${test_pkgs[@]}")
fi

missing=()
for p in "${want[@]}"; do
  # nodejs may come from another source than Debian; any working node will do.
  if [ "$p" = nodejs ] && command -v node >/dev/null 2>&1; then continue; fi
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done

# `locale -a` spells it es_ES.utf8.
has_locale() {
  locale -a 2>/dev/null | grep -qix "${test_locale%%.*}\.utf-\?8"
}
need_locale=
if [ -n "$testing" ] && ! has_locale; then need_locale=1; fi

[ ${#missing[@]} -eq 0 ] && [ -z "$need_locale" ] && exit 0

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "Hace falta root o sudo para instalar paquetes y generar la configuración regional." >&2
    exit 1
  fi
  sudo_cmd=(sudo)
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "Instalando paquetes que faltan: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ -n "$need_locale" ] && ! has_locale; then
  # As Debian does it: the locale's line in /etc/locale.gen uncommented (added when the
  # file lacks it), then locale-gen builds every locale listed there.
  echo "Generando la configuración regional $test_locale" >&2
  line="$test_locale UTF-8"
  if grep -q "^# *$line\$" /etc/locale.gen 2>/dev/null; then
    "${sudo_cmd[@]}" sed -i "s/^# *$line\$/$line/" /etc/locale.gen
  elif ! grep -q "^$line\$" /etc/locale.gen 2>/dev/null; then
    echo "$line" | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${sudo_cmd[@]}" locale-gen >/dev/null
  if ! has_locale; then
    echo "No se pudo generar la configuración regional $test_locale." >&2
    exit 1
  fi
fi
