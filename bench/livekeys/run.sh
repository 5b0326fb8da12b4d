#!/usr/bin/env bash
# A live loop key's stop change measured on the audio output, against playing the entry again.
#   bench/livekeys/run.sh [--repeat N]
# Installs what it needs, builds the driver, starts a PulseAudio server with a null sink
# when none answers, and prints a table of the seams (see README.md in this folder).
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$HERE/../../scripts/common.sh"

PACKAGES+=(pulseaudio pulseaudio-utils python3)
install_missing
BUILD="${SEAM_BUILD:-$ROOT/build/release}"
build_targets "$BUILD" livekeys_driver

export SEAM_SINK=vamplet_livekeys SINK=vamplet_livekeys
# Always a server of our own: another one may be busy measuring.
unset PULSE_SERVER
export XDG_RUNTIME_DIR="$(mktemp -d /tmp/vamplet-livekeys-probe.XXXXXX)"
rmdir "$XDG_RUNTIME_DIR"
source "$HERE/../null_sink.sh"

python3 "$HERE/livekeys.py" --driver "$BUILD/bench/livekeys_driver" "$@"
