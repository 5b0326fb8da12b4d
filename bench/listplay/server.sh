# Sourced: a private PulseAudio server with a null sink that can be killed and started again,
# and recordings of its sink. Everything lives in $RUN (made by the caller).
export XDG_RUNTIME_DIR="$RUN/xdg"
export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse"
export PULSE_SERVER="unix:$PULSE_RUNTIME_PATH/native"
mkdir -p "$PULSE_RUNTIME_PATH" && chmod 700 "$XDG_RUNTIME_DIR"
SERVER_PID=""
REC_PID=""

# server_start SINK [FILE]: the server and its null sink (44.1 kHz stereo s16, samples unchanged),
# the sink there before the socket takes a client.
server_start() {
  # Its launch on the monotonic clock (ns; /proc/uptime is the same clock on a machine that
  # never slept, read without starting a process): no server answers before it.
  local up
  read -r up _ < /proc/uptime
  SERVER_UP_NS=$(( ${up%.*} * 1000000000 + 10#${up#*.} * 10000000 ))
  local sink="module-null-sink sink_name=$1"
  # With a file the sink itself writes what it plays there, from its first moment on (a
  # recorder would connect later): its first frame is the launch.
  if [ -n "${2:-}" ]; then
    rm -f "$2.fifo" && mkfifo "$2.fifo"
    cat "$2.fifo" > "$2" &
    sink="module-pipe-sink sink_name=$1 file=$2.fifo use_system_clock_for_timing=yes"
  fi
  pulseaudio --daemonize=no --system=false --exit-idle-time=-1 -n --disallow-exit \
    --disable-shm=yes --enable-memfd=no \
    --load="$sink rate=44100 channels=2 format=s16le" \
    --load="module-native-protocol-unix" \
    --log-target=file:"$RUN/pulse-$(date +%s%N).log" 2>/dev/null &
  SERVER_PID=$!
  for _ in $(seq 400); do pactl info >/dev/null 2>&1 && break; sleep 0.01; done
  pactl set-default-sink "$1" >/dev/null
}

server_kill() {
  [ -n "$SERVER_PID" ] || return 0
  kill -9 "$SERVER_PID" 2>/dev/null || true
  wait "$SERVER_PID" 2>/dev/null || true
  SERVER_PID=""
  rec_stop
}

# rec_start SINK FILE: raw s16le stereo from the sink's monitor. parec may take a while to
# begin; it records on without a break until stopped, so the time it stopped (monotonic ns,
# in FILE.end) dates its samples.
rec_start() {
  REC_FILE="$2"
  parec -d "$1.monitor" --rate=44100 --channels=2 --format=s16le --latency-msec=10 --raw > "$2" &
  REC_PID=$!
}

# rec_retry SINK FILE: the same, asking until the server (being started) answers.
rec_retry() {
  REC_FILE="$2"
  (until parec -d "$1.monitor" --rate=44100 --channels=2 --format=s16le --latency-msec=10 --raw > "$2" 2>/dev/null; do
     sleep 0.005; done) &
  REC_PID=$!
}

rec_stop() {
  [ -n "$REC_PID" ] || return 0
  python3 -c 'import time; print(time.monotonic_ns())' > "$REC_FILE.end"
  pkill -P "$REC_PID" 2>/dev/null || true
  kill "$REC_PID" 2>/dev/null || true
  wait "$REC_PID" 2>/dev/null || true
  REC_PID=""
}

server_cleanup() { rec_stop; server_kill; }
