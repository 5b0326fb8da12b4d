#!/usr/bin/env bash
# A live loop key's stop change measured on the audio output, against playing the entry again.
#   bench/livekeys/run.sh [--repeat N]
# Installs what it needs, builds the driver, starts a PulseAudio server with a null sink
# when none answers, and prints a table of the seams (see README.md in this folder).
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export SEAM_SINK=vamplet_livekeys SINK=vamplet_livekeys
BENCH_TARGETS=(livekeys_driver) BENCH_BUILD="${SEAM_BUILD:-}" BENCH_OWN_SERVER=1
source "$HERE/../preamble.sh"

python3 "$HERE/livekeys.py" --driver "$BUILD/bench/livekeys_driver" "$@"
