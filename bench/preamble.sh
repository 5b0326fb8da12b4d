# Sourced first by the benchmarks that record the sound output, after setting:
#   SINK=name                the null sink to record (bench/null_sink.sh makes it)
#   BENCH_TARGETS=(...)      the drivers to build; none when empty
#   BENCH_BUILD=dir          where to build them (empty: build/release)
#   BENCH_PACKAGES=(...)     Debian packages needed beyond pulseaudio, its tools and python3
#   BENCH_OWN_SERVER=1       always a sound server of our own (another may be measuring)
# Leaves ROOT and the helpers of scripts/common.sh, BUILD, and the sink with its EXIT trap.
# busy_start N [NICE] starts N busy loops (a machine busy with builds), busy_stop ends them.
#
# Or, with BENCH_WINDOWS=1 (and no SINK), for the program run through its windows on a
# server that may be killed and started again (listplay/server.sh) under a desktop of its
# own (tests/desktop.sh), sourced with the script's arguments: reads `--seconds S` into
# SECONDS_LIST (default BENCH_SECONDS) and `--keep DIR` into KEEP, leaves the others in
# BENCH_ARGS, makes the work folder $work (also RUN), and sets an EXIT trap that kills
# APP_PID, the server and the desktop, and copies the work folder to KEEP.
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

PACKAGES+=(pulseaudio pulseaudio-utils python3 ${BENCH_PACKAGES[@]+"${BENCH_PACKAGES[@]}"})
install_missing
BUILD="${BENCH_BUILD:-$ROOT/build/release}"
if [ -n "${BENCH_TARGETS[*]:-}" ]; then build_targets "$BUILD" "${BENCH_TARGETS[@]}"; fi

BUSY_PIDS=()
busy_start() {
  for _ in $(seq "$1"); do
    nice -n "${2:-0}" bash -c 'while :; do :; done' &
    BUSY_PIDS+=($!)
  done
}
busy_stop() {
  [ ${#BUSY_PIDS[@]} -eq 0 ] || kill "${BUSY_PIDS[@]}" 2>/dev/null || true
  BUSY_PIDS=()
}

if [ -n "${BENCH_WINDOWS:-}" ]; then
  SECONDS_LIST="${BENCH_SECONDS:-45}" KEEP="" BENCH_ARGS=()
  while [ $# -gt 0 ]; do
    case $1 in
      --seconds) SECONDS_LIST=$2; shift 2 ;;
      --keep) KEEP=$2; shift 2 ;;
      *) BENCH_ARGS+=("$1"); shift ;;
    esac
  done
  work=$(mktemp -d /tmp/vamplet-bench.XXXXXX)
  RUN=$work
  APP_PID=""
  desktop_pids=""
  finish() {
    [ -z "$APP_PID" ] || kill "$APP_PID" 2>/dev/null || true
    server_cleanup
    kill $desktop_pids 2>/dev/null || true
    wait 2>/dev/null || true
    if [ -n "$KEEP" ]; then mkdir -p "$KEEP" && cp -r "$work"/. "$KEEP"/; fi
    rm -rf "$work"
  }
  source "$ROOT/bench/listplay/server.sh"
  . "$ROOT/tests/desktop.sh"
  trap finish EXIT
  return 0
fi

if [ -n "${BENCH_OWN_SERVER:-}" ]; then
  # A runtime folder that does not exist: no server answers there, so null_sink.sh starts one.
  unset PULSE_SERVER
  export XDG_RUNTIME_DIR="$(mktemp -d /tmp/vamplet-bench-probe.XXXXXX)"
  rmdir "$XDG_RUNTIME_DIR"
fi
source "$ROOT/bench/null_sink.sh"
