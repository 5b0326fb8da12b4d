#!/usr/bin/env bash
# Does the output run dry on a busy machine? Plays a list at rates 1 and 0.75 through the
# program's own playback (seam_driver: list play on the sample engine) into a private null
# sink, once per load (N busy loops at nice 0 beside it), records the sink, and prints per
# load: the holes (runs of digital silence of 1 ms or more between the first sound and the
# last; the list is gapless, so each is sound that was due), their total and longest, the
# server's underflow count for our stream, and the entries started.
#   bench/underrun/run.sh [--seconds S] [--loads "0 12"] [--as rt|plain|rtkit] [--driver PATH] [--keep DIR]
# --driver measures a seam_driver built elsewhere (another branch) as it is. --as runs it
# where real time is allowed (rt, as root here) or where neither real time nor a better
# nice value is (plain: no CAP_SYS_NICE, limits of 0, as on a desktop without rtkit), or
# plain with the render thread set to nice -10 from outside, as rtkit grants it (rtkit).
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
SECONDS_PLAYED=30 LOADS="0 12" DRIVER="" KEEP="" AS=rt
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) SECONDS_PLAYED=$2; shift 2 ;;
    --loads) LOADS=$2; shift 2 ;;
    --driver) DRIVER=$2; shift 2 ;;
    --keep) KEEP=$2; shift 2 ;;
    --as) AS=$2; shift 2 ;;
    *) echo "usage: $0 [--seconds S] [--loads \"0 12\"] [--as rt|plain|rtkit] [--driver PATH] [--keep DIR]" >&2; exit 2 ;;
  esac
done
SINK=vamplet_underrun BENCH_PACKAGES=(ffmpeg) BENCH_OWN_SERVER=1
[ -n "$DRIVER" ] && BENCH_TARGETS=() || BENCH_TARGETS=(seam_driver)
source "$HERE/../preamble.sh"
DRIVER="${DRIVER:-$BUILD/bench/seam_driver}"
case "$AS" in
  rt) RUN_AS=() ;;
  plain|rtkit) RUN_AS=(prlimit --rtprio=0 --nice=0 setpriv --inh-caps=-sys_nice --bounding-set=-sys_nice) ;;
  *) echo "--as rt, plain or rtkit" >&2; exit 2 ;;
esac

WORK="$(mktemp -d /tmp/vamplet-underrun.XXXXXX)"
trap 'busy_stop; cleanup_null_sink; [ -z "$KEEP" ] || cp -r "$WORK"/. "$KEEP"/; rm -rf "$WORK"' EXIT
[ -z "$KEEP" ] || mkdir -p "$KEEP"
# Two tones with a slow tremolo (never exactly 0 over a millisecond), 44.1 kHz and 48 kHz.
ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=8" \
  -af "volume=0.5,tremolo=f=3:d=0.3" -ac 2 -c:a pcm_s16le "$WORK/a44.wav"
ffmpeg -loglevel error -f lavfi -i "sine=frequency=660:sample_rate=48000:duration=8" \
  -af "volume=0.5,tremolo=f=2:d=0.3" -ac 2 -c:a pcm_s16le "$WORK/b48.wav"
ROWS=(--row "$WORK/a44.wav,0.5,2.5,1,2" --row "$WORK/b48.wav,1,3,0.75,2"
      --row "$WORK/a44.wav,3,5,0.75,1" --row "$WORK/b48.wav,4,6,1,1")

printf '%-5s %-6s %-10s %-12s %-10s %-8s\n' load holes "silent ms" "longest ms" underflows entries
for load in $LOADS; do
  raw="$WORK/load$load.raw" log="$WORK/load$load.log"
  parec -d "$SINK.monitor" --raw --format=s16le --rate=44100 --channels=2 > "$raw" &
  rec=$!
  sleep 0.3
  busy_start "$load"
  QT_QPA_PLATFORM=offscreen ${RUN_AS[@]+"${RUN_AS[@]}"} "$DRIVER" "${ROWS[@]}" --seconds "$SECONDS_PLAYED" > "$log" &
  player=$!
  if [ "$AS" = rtkit ]; then
    for _ in $(seq 200); do
      tid=$(grep -lx vamplet-render /proc/$player/task/*/comm 2>/dev/null | head -1 | cut -d/ -f5 || true)
      [ -z "$tid" ] || { renice -n -10 -p "$tid" >/dev/null; break; }
      sleep 0.01
    done
  fi
  wait "$player"
  busy_stop
  sleep 0.3
  kill "$rec"
  wait "$rec" 2>/dev/null || true
  python3 - "$raw" "$load" "$log" "$HERE/.." <<'PY'
import sys
sys.path.insert(0, sys.argv[4])
import silence
got = silence.holes(sys.argv[1], 44)
log = open(sys.argv[3]).read().split('\n')
under = next((l.split()[1] for l in log if l.startswith('UNDERFLOWS')), '-')
entries = sum(1 for l in log if l.startswith('SELECT'))
if got is None:
    print('%-5s no sound' % sys.argv[2])
else:
    ms = [h[1] for h in got[1]]
    print('%-5s %-6d %-10.0f %-12.0f %-10s %-8d' % (sys.argv[2], len(ms), sum(ms), max(ms, default=0), under, entries))
PY
done
