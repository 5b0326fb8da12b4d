#!/usr/bin/env bash
# Resident memory a 10-minute sound file adds to the sample engine (README.md here).
#   bench/memory/run.sh [MINUTES]
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$HERE/../../scripts/common.sh"
PACKAGES+=(ffmpeg)
install_missing
BUILD="${MEMORY_BUILD:-$ROOT/build/release}"
build_targets "$BUILD" memory_driver

minutes="${1:-10}"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
# Music-like content: two tones and some noise, so the coders do real work.
src=(-f lavfi -i "sine=frequency=220:sample_rate=44100:duration=$((minutes * 60))"
     -f lavfi -i "anoisesrc=color=pink:amplitude=0.1:sample_rate=44100:duration=$((minutes * 60))"
     -filter_complex "[0][1]amix=inputs=2,aformat=channel_layouts=stereo")
ffmpeg -v error -y "${src[@]}" "$dir/long.wav"
ffmpeg -v error -y -i "$dir/long.wav" -b:a 192k "$dir/long.mp3"
ffmpeg -v error -y -i "$dir/long.wav" "$dir/long.flac"

printf '| file | rate | before MB | loaded MB | played MB | added MB |\n|---|---|---|---|---|---|\n'
for f in long.wav long.mp3 long.flac; do
  for rate in 1 0.75; do
    read -r _ _ before _ loaded _ played _ < <("$BUILD/bench/memory_driver" "$dir/$f" --rate "$rate" --seconds 5 |
                                              grep '^RSS_KB')
    awk -v f="$minutes-minute ${f#long.}" -v r="$rate" -v b="$before" -v l="$loaded" -v p="$played" \
      'BEGIN { printf "| %s | %s | %.1f | %.1f | %.1f | %.1f |\n", f, r, b/1024, l/1024, p/1024, (p-b)/1024 }'
  done
done
