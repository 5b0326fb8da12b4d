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
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 --target livekeys_driver >/dev/null

export SEAM_SINK=vamplet_livekeys
STARTED_PID=""
MODULE=""
cleanup() {
  if [ -n "$MODULE" ] && [ -z "$STARTED_PID" ]; then pactl unload-module "$MODULE" 2>/dev/null || true; fi
  if [ -n "$STARTED_PID" ]; then
    kill "$STARTED_PID" 2>/dev/null || true
    wait "$STARTED_PID" 2>/dev/null || true
    rm -rf "$XDG_RUNTIME_DIR"
  fi
}
trap cleanup EXIT

# Always a server of our own: another one may be busy measuring.
unset PULSE_SERVER
export XDG_RUNTIME_DIR="$(mktemp -d /tmp/vamplet-livekeys-probe.XXXXXX)"
rmdir "$XDG_RUNTIME_DIR"
if ! pactl info >/dev/null 2>&1; then
  # No server for us: one of our own, private to this run, with no sound card needed.
  export XDG_RUNTIME_DIR="$(mktemp -d /tmp/vamplet-livekeys-pulse.XXXXXX)"
  chmod 700 "$XDG_RUNTIME_DIR"
  export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse"
  # Plain socket transfers: this server's memfd blocks get refused now and then, and a
  # recording that stalls on it loses the rest of the case.
  pulseaudio --daemonize=no --system=false --exit-idle-time=-1 -n --disallow-exit \
    --disable-shm=yes --enable-memfd=no \
    --load="module-native-protocol-unix" --log-target=file:"$XDG_RUNTIME_DIR/log" 2>/dev/null &
  STARTED_PID=$!
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
  pactl info >/dev/null
fi
# The sink runs at the files' rate, so samples pass through unchanged.
if ! pactl list short sinks | awk '{print $2}' | grep -qx "$SEAM_SINK"; then
  MODULE="$(pactl load-module module-null-sink sink_name="$SEAM_SINK" rate=44100 channels=2 format=s16le)"
fi
export PULSE_SINK="$SEAM_SINK"

python3 "$HERE/livekeys.py" --driver "$BUILD/bench/livekeys_driver" "$@"
