#!/usr/bin/env bash
# Wakeups and CPU of the program's threads while it loops the seam bench's tone.
#   bench/seam/wakeups.sh [RATE]      (README.md in this folder)
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
SINK=vamplet_wakeups BENCH_TARGETS=(seam_driver) BENCH_BUILD="${SEAM_BUILD:-}"
source "$HERE/../preamble.sh"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"; cleanup_null_sink' EXIT
python3 -c "
import sys; sys.path.insert(0, '$HERE'); import seamlib as sl
sl.write_wav('$dir/tone.wav', sl.tone_samples(12)); sl.write_wav('$dir/warm.wav', sl.tone_samples(2))"
QT_QPA_PLATFORM=offscreen "$BUILD/bench/seam_driver" --warm "$dir/warm.wav" --seconds 16 \
  --row "$dir/tone.wav,2,2.9173,${1:-1},1" --loop >"$dir/out" &
pid=$!
snap() {
  for t in /proc/$pid/task/*; do
    echo "$(basename "$t") $(tr ' ' _ <"$t/comm") $(awk '/^voluntary_ctxt/ {print $2}' "$t/status") $(awk '{print $14 + $15}' "$t/stat")"
  done | sort
}
sleep 4; snap >"$dir/a"; sleep 10; snap >"$dir/b"
wait $pid
echo "| thread | wakeups/s | CPU % |"
echo "|---|---|---|"
# The UI thread is the one named after the process; the others by their own names.
join "$dir/a" "$dir/b" | awk -v hz="$(getconf CLK_TCK)" -v pid="$pid" '$6 - $3 > 0 || $7 > $4 {
  name = $1 == pid ? "UI (prints the position every 10 ms)" : $2
  printf "| %s | %.0f | %.2f |\n", name, ($6 - $3) / 10, 100 * ($7 - $4) / hz / 10 }'
awk '/^CPU/ {printf "whole process: %.2f %% of a core\n", 100 * $2 / $3}' "$dir/out"
