# Sourced by the benchmarks that record the output: a PulseAudio null sink named $SINK at
# 44100 Hz stereo s16 (samples pass through unchanged), on a private server when none
# answers. PULSE_SINK points the players at it; the EXIT trap undoes what was set up.
STARTED_PID=""
MODULE=""
cleanup_null_sink() {
  if [ -n "$MODULE" ] && [ -z "$STARTED_PID" ]; then pactl unload-module "$MODULE" 2>/dev/null || true; fi
  if [ -n "$STARTED_PID" ]; then
    kill "$STARTED_PID" 2>/dev/null || true
    wait "$STARTED_PID" 2>/dev/null || true
    rm -rf "$XDG_RUNTIME_DIR"
  fi
}
trap cleanup_null_sink EXIT

if ! pactl info >/dev/null 2>&1; then
  # No server for us: one of our own, private to this run, with no sound card needed.
  export XDG_RUNTIME_DIR="$(mktemp -d /tmp/vamplet-bench-pulse.XXXXXX)"
  chmod 700 "$XDG_RUNTIME_DIR"
  export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse"
  # Plain socket transfers: this server's memfd blocks get refused now and then, and a
  # recording that stalls on it loses the rest of the case.
  pulseaudio --daemonize=no --system=false --exit-idle-time=-1 -n --disallow-exit \
    --disable-shm=yes --enable-memfd=no \
    --load="module-native-protocol-unix" --log-target=file:"$XDG_RUNTIME_DIR/log" \
    --log-level="${BENCH_PULSE_LOG_LEVEL:-notice}" 2>/dev/null &
  STARTED_PID=$!
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
  pactl info >/dev/null
fi
if ! pactl list short sinks | awk '{print $2}' | grep -qx "$SINK"; then
  MODULE="$(pactl load-module module-null-sink sink_name="$SINK" rate=44100 channels=2 format=s16le)"
fi
export PULSE_SINK="$SINK"
