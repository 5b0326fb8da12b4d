#!/usr/bin/env bash
# The sound server killed (kill -9) while a stretch loops through the program's own playback
# (seam_driver), and started again 2 s later with a sink that writes what it plays from its
# first moment on, RUNS times. Prints how long after the new server's launch the sound came
# back, the holes after that, and the longest the reported position stood still from the
# kill to the end (it should run on over the null output meanwhile).
#   bench/seam/server_restart.sh [RUNS]        # default 5
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
BENCH_WINDOWS=1 BENCH_PACKAGES=(ffmpeg) BENCH_BUILD="${SEAM_BUILD:-}"
# A driver named from outside is measured as it is.
[ -n "${SEAM_DRIVER:-}" ] && BENCH_TARGETS=() || BENCH_TARGETS=(seam_driver)
source "$HERE/../preamble.sh" "$@"
RUNS="${BENCH_ARGS[0]:-5}"
ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=5" -c:a pcm_s16le "$work/tone.wav"
export PULSE_SINK=sr

for run in $(seq "$RUNS"); do
  server_start sr
  QT_QPA_PLATFORM=offscreen "${SEAM_DRIVER:-$BUILD/bench/seam_driver}" \
    --row "$work/tone.wav,1,3,1,1" --loop --seconds 9 > "$work/driver.log" &
  APP_PID=$!
  sleep 3
  KILL_NS=$(python3 -c 'import time; print(time.monotonic_ns())')
  server_kill
  sleep 2
  server_start sr "$work/back.raw"
  wait "$APP_PID"
  APP_PID=""
  server_kill
  wait 2>/dev/null || true
  printf 'run %s: ' "$run"
  python3 - "$HERE/.." "$work/back.raw" "$work/driver.log" "$KILL_NS" "$SERVER_UP_NS" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
import silence
kill, up = int(sys.argv[4]), int(sys.argv[5])
found = silence.silent_runs(silence.quiet_frames(silence.read(sys.argv[2])), 3)
pos = [(int(t), float(p)) for _, t, p in (l.split() for l in open(sys.argv[3]) if l.startswith('POS '))]
pos = [(t, p) for t, p in pos if t >= kill]
still, since = 0, pos[0][0] if pos else kill
for (t0, p0), (t1, p1) in zip(pos, pos[1:]):
    if p1 != p0: since = t1
    still = max(still, t1 - since)
if found is None:
    print('no sound after the return; position stood %.0f ms at most' % (still / 1e6))
    sys.exit()
first, _, runs = found
runs = ['%.1f ms at %.0f ms' % (n / 44.1, (i - first) / 44.1) for i, n in runs]
print('sound %.0f ms after the launch (launched %.0f ms after the kill); holes after it (length at ms after it): %s; '
      'position stood %.0f ms at most' % (first / 44.1, (up - kill) / 1e6, ', '.join(runs) or 'none', still / 1e6))
PY
done
