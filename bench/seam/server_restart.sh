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
  python3 - "$work/back.raw" "$work/driver.log" "$KILL_NS" "$SERVER_UP_NS" <<'PY'
import array, sys
a = array.array('h')
a.frombytes(open(sys.argv[1], 'rb').read())
kill, up = int(sys.argv[3]), int(sys.argv[4])
quiet = [a[i] == 0 and a[i + 1] == 0 for i in range(0, len(a) - 1, 2)]
sound = [i for i, q in enumerate(quiet) if not q]
pos = [(int(t), float(p)) for _, t, p in (l.split() for l in open(sys.argv[2]) if l.startswith('POS '))]
pos = [(t, p) for t, p in pos if t >= kill]
still, since = 0, pos[0][0] if pos else kill
for (t0, p0), (t1, p1) in zip(pos, pos[1:]):
    if p1 != p0: since = t1
    still = max(still, t1 - since)
if not sound:
    print('no sound after the return; position stood %.0f ms at most' % (still / 1e6))
    sys.exit()
first, last = sound[0], sound[-1]
runs, i = [], first
while i <= last:
    j = i
    while j <= last and quiet[j]:
        j += 1
    if j > i and j - i >= 3:
        runs.append('%.1f ms at %.0f ms' % ((j - i) / 44.1, (i - first) / 44.1))
    i = j + 1
print('sound %.0f ms after the launch (launched %.0f ms after the kill); holes after it (length at ms after it): %s; '
      'position stood %.0f ms at most' % (first / 44.1, (up - kill) / 1e6, ', '.join(runs) or 'none', still / 1e6))
PY
done
