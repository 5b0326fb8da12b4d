#!/usr/bin/env bash
# Makes large media files in a temporary folder and measures how long the UI thread stands
# still while the player opens each (open_stall).
#   bench/open_stall/run.sh [--build DIR] [--runs N]
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$HERE/../../scripts/common.sh"

BUILD="" RUNS=5
while [ $# -gt 0 ]; do
  case "$1" in
    --build) BUILD="$2"; shift 2 ;;
    --runs) RUNS="$2"; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--runs N]" >&2; exit 2 ;;
  esac
done
if [ -z "$BUILD" ]; then
  BUILD="$ROOT/build/release"
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
BUILD="$(cd "$BUILD" && pwd)"
cmake --build "$BUILD" -j2 --target open_stall >/dev/null

WORK="$(mktemp -d /tmp/vamplet-openstall.XXXXXX)"
trap 'rm -rf "$WORK"' EXIT
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
# A raw MPEG-1 video stream of some 120 MB: its length is counted from its pictures.
ff -f lavfi -i "testsrc=size=320x240:rate=25,noise=alls=60:allf=t" -t 96 -c:v mpeg1video -q:v 2 -f mpeg1video \
   "$WORK/big.m1v"
ff -f lavfi -i "sine=frequency=440:duration=600" -ac 2 "$WORK/long.wav"
ff -f lavfi -i "sine=frequency=440:duration=600" -ac 2 -b:a 128k "$WORK/long.mp3"
ff -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "sine=frequency=440" -t 60 -c:v libx264 -preset ultrafast \
   -c:a aac -shortest "$WORK/video.mp4"
ff -f lavfi -i "sine=frequency=440:duration=5" "$WORK/short.wav"
ff -f lavfi -i "sine=frequency=440:duration=600" -ac 2 "$WORK/long.flac"
# Three hours: 476 million frames, 3.8 GB as the engine's floats.
ff -f lavfi -i "sine=frequency=440:duration=10800" -ac 2 -compression_level 0 "$WORK/3hours.flac"

cd "$WORK"
xvfb-run -a "$BUILD/bench/open_stall" --runs "$RUNS" big.m1v long.wav long.mp3 long.flac 3hours.flac video.mp4 short.wav
