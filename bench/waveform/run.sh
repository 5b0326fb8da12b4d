#!/usr/bin/env bash
# Makes 10-minute stereo test files (WAV and MP3) and times the waveform on them under a
# virtual X display. Usage: bench/waveform/run.sh [build dir]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${1:-$ROOT/build/test}"
cmake --build "$BUILD" -j2 --target waveform_bench >/dev/null
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
# Music-like: two tones with a slow swell and some noise, so every level has detail.
ffmpeg -v error -f lavfi -i "sine=f=220:d=600,volume='0.3+0.2*sin(t)':eval=frame" -f lavfi -i "anoisesrc=d=600:a=0.1" \
  -filter_complex "[0][1]amix=inputs=2,pan=stereo|c0=c0|c1=0.8*c0" -ar 44100 -c:a pcm_s16le "$WORK/ten-minutes.wav"
ffmpeg -v error -i "$WORK/ten-minutes.wav" -c:a libmp3lame -b:a 192k "$WORK/ten-minutes.mp3"
xvfb-run -a -s "-screen 0 1280x1024x24" "$BUILD/bench/waveform_bench" "$WORK/ten-minutes.wav" "$WORK/ten-minutes.mp3"
