#!/usr/bin/env bash
# The sink in use unloaded while a stretch loops: the stream moves to another sink. Plays a
# tone through the program's own playback (seam_driver) into a private null sink, loads a
# second one, records it, unloads the first 4 s in, and prints every run of digital silence
# in the second sink's recording from the first sound to the last (the holes), RUNS times,
# with the stream's underruns the server logged. `stay` plays on the second sink from the
# start and unloads nothing: the same holes there are not the move's. BENCH_LOAD=N runs N
# busy loops meanwhile (at nice BENCH_LOAD_NICE, default 0).
#   bench/seam/sink_move.sh [RUNS] [move|stay]        # default 5 move
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# Always a server of our own: the sinks are loaded and unloaded.
SINK=vamplet_move_a BENCH_OWN_SERVER=1 BENCH_PULSE_LOG_LEVEL=debug BENCH_PACKAGES=(ffmpeg) BENCH_BUILD="${SEAM_BUILD:-}"
# A driver named from outside is measured as it is.
[ -n "${SEAM_DRIVER:-}" ] && BENCH_TARGETS=() || BENCH_TARGETS=(seam_driver)
source "$HERE/../preamble.sh"
RUNS="${1:-5}" MODE="${2:-move}"

WORK="$(mktemp -d /tmp/vamplet-sink-move.XXXXXX)"
trap 'busy_stop; cp "$LOG" "$WORK/" 2>/dev/null; cleanup_null_sink; [ -n "${SINK_MOVE_KEEP:-}" ] || rm -rf "$WORK"' EXIT
LOG="$XDG_RUNTIME_DIR/log"
ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=5" -c:a pcm_s16le "$WORK/tone.wav"

for run in $(seq "$RUNS"); do
  A="$(pactl list short modules | awk '$2 == "module-null-sink" && $3 ~ /vamplet_move_a/ {print $1}')"
  [ -n "$A" ] || A="$(pactl load-module module-null-sink sink_name=vamplet_move_a rate=44100 channels=2 format=s16le)"
  pactl set-default-sink vamplet_move_a
  B="$(pactl load-module module-null-sink sink_name=vamplet_move_b rate=44100 channels=2 format=s16le)"
  parec -d vamplet_move_b.monitor --raw --format=s16le --rate=44100 --channels=2 > "$WORK/out.raw" &
  REC=$!
  logged=$(wc -l < "$LOG")
  first=vamplet_move_a
  [ "$MODE" = move ] || first=vamplet_move_b
  busy_start "${BENCH_LOAD:-0}" "${BENCH_LOAD_NICE:-0}"
  PULSE_SINK=$first QT_QPA_PLATFORM=offscreen "${SEAM_DRIVER:-$BUILD/bench/seam_driver}" \
    --row "$WORK/tone.wav,1,3,1,1" --loop --seconds 14 > "$WORK/driver.log" &
  DRIVER=$!
  sleep 4
  if [ "$MODE" = move ]; then
    pactl set-default-sink vamplet_move_b
    pactl unload-module "$A"
  fi
  wait "$DRIVER"
  busy_stop
  sleep 0.3
  kill "$REC"
  wait "$REC" 2>/dev/null || true
  pactl unload-module "$B"
  printf 'run %s: %s underruns; ' "$run" "$(tail -n +"$((logged + 1))" "$LOG" | grep -ci 'underrun of' || true)"
  python3 - "$HERE/.." "$WORK/out.raw" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
import silence
got = silence.holes(sys.argv[2])
if got is None:
    print('no sound on the second sink')
else:
    print('%.2f s of sound after the move; holes (s after the move: length): %s'
          % (got[0], ', '.join('%.3f s: %.1f ms' % h for h in got[1]) or 'none'))
PY
done
