#!/usr/bin/env bash
# Remakes ejemplo.mkv, the short clip that every new library shows as "Ejemplo".
# Everything in it is synthetic (a test pattern, sine tones, our own text), so it is
# free of rights. Layout of the result:
#   video   VP9 640x360, 24 fps, 8 s
#   audio   Opus, track 1 Spanish (spa, 440 Hz beeps, default), track 2 English (eng, 660 Hz)
#   text    SubRip, track 1 Spanish (spa), track 2 English (eng), neither shown by default
# VP9, Opus and Matroska are decoded by the stock GStreamer and browser builds, so the
# clip plays without extra codec packages.
# Usage: make-sample.sh [output file]   (needs ffmpeg with libvpx and libopus)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here/ejemplo.mkv}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cat >"$work/es.srt" <<'EOF'
1
00:00:00,500 --> 00:00:03,500
Esto es el vídeo de ejemplo de Brindlemar.

2
00:00:04,000 --> 00:00:07,500
Subtítulos en español; audio: tono de 440 Hz.
EOF

cat >"$work/en.srt" <<'EOF'
1
00:00:00,500 --> 00:00:03,500
This is the Brindlemar sample video.

2
00:00:04,000 --> 00:00:07,500
English subtitles; audio: 660 Hz tone.
EOF

ffmpeg -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc2=size=640x360:rate=24:duration=8" \
  -f lavfi -i "sine=frequency=440:beep_factor=2:sample_rate=48000:duration=8" \
  -f lavfi -i "sine=frequency=660:sample_rate=48000:duration=8" \
  -i "$work/es.srt" -i "$work/en.srt" \
  -map 0:v -map 1:a -map 2:a -map 3:s -map 4:s \
  -c:v libvpx-vp9 -b:v 0 -crf 52 -deadline good -cpu-used 2 -row-mt 1 -g 48 \
  -c:a libopus -b:a 24k -ac 1 \
  -c:s srt \
  -metadata title="Ejemplo" \
  -metadata:s:a:0 language=spa -metadata:s:a:0 title="Español" \
  -metadata:s:a:1 language=eng -metadata:s:a:1 title="Inglés" \
  -metadata:s:s:0 language=spa -metadata:s:s:0 title="Español" \
  -metadata:s:s:1 language=eng -metadata:s:s:1 title="Inglés" \
  -disposition:a:0 default -disposition:a:1 0 \
  -disposition:s:0 0 -disposition:s:1 0 \
  -bitexact -fflags +bitexact \
  "$out"

echo "$out: $(stat -c %s "$out") bytes"
