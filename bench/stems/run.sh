#!/usr/bin/env bash
# Stems played in step, measured on the audio output.
#   bench/stems/run.sh [--seconds 600] [--index-seconds 60] [--mix-every 5] [--only index|cancel] [--single file|stem] [--where]
# Installs what it needs, builds the driver, records a PulseAudio null sink (a private
# server when none answers) and prints the tables of README.md in this folder.
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
SINK=vamplet_stems BENCH_TARGETS=(stems_driver) BENCH_BUILD="${STEMS_BUILD:-}" BENCH_PACKAGES=(python3-numpy)
source "$HERE/../preamble.sh"

# Debian's python, which has numpy, before any other on the path.
# The driver's player is a widget that is never shown.
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
PY=/usr/bin/python3
[ -x "$PY" ] || PY=python3
SINK=$SINK "$PY" "$HERE/stems.py" --driver "$BUILD/bench/stems_driver" "$@"
