#!/usr/bin/env bash
# The loop seam measured on the audio output, Vamplet beside mpv's own A-B loop.
#   bench/seam/run.sh [--only TEXT] [--keep DIR] [--json FILE]
# Installs what it needs, builds the driver, starts a PulseAudio server with a null sink
# when none answers, and prints a table of the seams (see README.md in this folder).
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export SEAM_SINK=vamplet_seam
SINK="$SEAM_SINK" BENCH_PACKAGES=(mpv) BENCH_TARGETS=(seam_driver chirp_offline) BENCH_BUILD="${SEAM_BUILD:-}"
source "$HERE/../preamble.sh"

python3 "$HERE/seam.py" --driver "$BUILD/bench/seam_driver" --render "$BUILD/bench/chirp_offline" "$@"
