#!/usr/bin/env bash
# Practice settings and live loop changes measured on the audio output.
#   bench/practice/run.sh [--only TEXT]
# Installs what it needs, builds the driver, records a PulseAudio null sink (a private
# server when none answers) and prints a table (see README.md in this folder).
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
SINK=vamplet_practice BENCH_TARGETS=(practice_driver) BENCH_BUILD="${PRACTICE_BUILD:-}"
source "$HERE/../preamble.sh"

python3 "$HERE/practice.py" --driver "$BUILD/bench/practice_driver" "$@"
