#!/usr/bin/env bash
# Screenshots of the player window's and the editor's waveforms on a virtual X desktop with
# a window manager: light, dark, and light at display scale 2.
# Usage: bench/waveform/screenshots.sh [out dir] [build dir]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
OUT="$(realpath -m "${1:-$ROOT/build/waveform-shots}")"
BUILD="${2:-$ROOT/build/test}"
cmake --build "$BUILD" -j2 --target waveform_shots >/dev/null
mkdir -p "$OUT"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
# Phrases that swell and fade, so the shape is easy to read.
ffmpeg -v error -f lavfi -i "aevalsrc='0.8*sin(2*PI*220*t)*abs(sin(PI*t/4))*(0.55+0.45*sin(2*PI*t/37))|0.6*sin(2*PI*330*t)*abs(sin(PI*t/4))':d=180:s=44100" "$WORK/song.wav"

shoot() {  # name, scale, extra args
  local name="$1" scale="$2"; shift 2
  cat >"$WORK/inner.sh" <<INNER
set -e
openbox >/dev/null 2>&1 & sleep 1
# Settings, playlists and caches of this run only.
export HOME="$WORK/home-$name" XDG_CONFIG_HOME="$WORK/home-$name/.config" XDG_CACHE_HOME="$WORK/home-$name/.cache" XDG_DATA_HOME="$WORK/home-$name/.local/share"
mkdir -p "\$HOME"
QT_SCALE_FACTOR=$scale "$BUILD/bench/waveform_shots" "$WORK/song.wav" $* >"$WORK/out-$name" 2>"$WORK/err-$name" &
pid=\$!
for i in \$(seq 1 300); do grep -q READY "$WORK/out-$name" && break; sleep 0.1; done
import -window root "$OUT/waveform-$name.png"
kill \$pid
INNER
  xvfb-run -a -s "-screen 0 $((1280 * scale))x$((1024 * scale))x24" bash "$WORK/inner.sh"
  echo "$OUT/waveform-$name.png"
}
shoot light 1
shoot dark 1 --dark
shoot scale2 2
