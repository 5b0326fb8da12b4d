#!/usr/bin/env bash
# The hear filters measured on the audio output.
#   bench/hear/run.sh
# Installs what it needs, builds the driver, records a PulseAudio null sink (a private
# server when none answers) and prints the tables of README.md in this folder.
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
SINK=vamplet_hear BENCH_TARGETS=(hear_driver) BENCH_BUILD="${HEAR_BUILD:-}"
source "$HERE/../preamble.sh"

SINK=$SINK python3 "$HERE/hear.py" --driver "$BUILD/bench/hear_driver" "$@"
