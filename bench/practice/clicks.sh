#!/usr/bin/env bash
# The automatic count-in and the metronome heard at the output, against the file's beats.
#   bench/practice/clicks.sh
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
SINK=vamplet_practice BENCH_TARGETS=(practice_driver) BENCH_BUILD="${PRACTICE_BUILD:-}"
source "$HERE/../preamble.sh"

python3 "$HERE/clicks.py" --driver "$BUILD/bench/practice_driver" "$@"
