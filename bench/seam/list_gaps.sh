#!/usr/bin/env bash
# Plays a list through the program's own playback (seam_driver) into a private null sink,
# records it, and prints every run of digital silence from the first sound to the last:
# a change of entry or pass that is not gapless shows as one. BENCH_LOAD=N runs N busy loops
# meanwhile (at nice BENCH_LOAD_NICE, default 0).
#   bench/seam/list_gaps.sh [SECONDS]     # default 10; the list is made below
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
SINK=vamplet_list_gaps BENCH_PACKAGES=(ffmpeg) BENCH_BUILD="${SEAM_BUILD:-}"
# A driver named from outside is measured as it is.
[ -n "${SEAM_DRIVER:-}" ] && BENCH_TARGETS=() || BENCH_TARGETS=(seam_driver)
source "$HERE/../preamble.sh"
SECONDS_PLAYED="${1:-10}"

WORK="$(mktemp -d /tmp/vamplet-list-gaps.XXXXXX)"
trap 'busy_stop; cleanup_null_sink; rm -rf "$WORK"' EXIT
ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=5" -c:a pcm_s16le "$WORK/a44.wav"
ffmpeg -loglevel error -f lavfi -i "sine=frequency=660:sample_rate=48000:duration=5" -ac 2 -c:a pcm_s16le "$WORK/b48.wav"
ffmpeg -loglevel error -f lavfi -i "sine=frequency=550:sample_rate=48000:duration=0.6" -c:a pcm_s16le "$WORK/w48.wav"

# Rate 1 on 44.1 kHz mono, 0.7 on 48 kHz stereo, 0.5 twice, a whole 48 kHz file.
ROWS=(--row "$WORK/a44.wav,0.5,1,1,1" --row "$WORK/b48.wav,2,2.4,0.7,1" --row "$WORK/a44.wav,1,1.5,0.5,2"
      --row "$WORK/w48.wav,0,0,1,1")
parec -d "$SINK.monitor" --raw --format=s16le --rate=44100 --channels=2 > "$WORK/out.raw" &
REC=$!
sleep 0.3
busy_start "${BENCH_LOAD:-0}" "${BENCH_LOAD_NICE:-0}"
QT_QPA_PLATFORM=offscreen "${SEAM_DRIVER:-$BUILD/bench/seam_driver}" "${ROWS[@]}" --seconds "$SECONDS_PLAYED" > "$WORK/driver.log"
busy_stop
sleep 0.3
kill "$REC"
wait "$REC" 2>/dev/null || true
echo "entries started: $(grep -c '^SELECT' "$WORK/driver.log") (after the first)"
python3 "$HERE/../silence.py" "$WORK/out.raw" 3
