# Sourced first by the benchmarks that record the sound output, after setting:
#   SINK=name                the null sink to record (bench/null_sink.sh makes it)
#   BENCH_TARGETS=(...)      the drivers to build; none when empty
#   BENCH_BUILD=dir          where to build them (empty: build/release)
#   BENCH_PACKAGES=(...)     Debian packages needed beyond pulseaudio, its tools and python3
#   BENCH_OWN_SERVER=1       always a sound server of our own (another may be measuring)
# Leaves ROOT and the helpers of scripts/common.sh, BUILD, and the sink with its EXIT trap.
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

PACKAGES+=(pulseaudio pulseaudio-utils python3 ${BENCH_PACKAGES[@]+"${BENCH_PACKAGES[@]}"})
install_missing
BUILD="${BENCH_BUILD:-$ROOT/build/release}"
if [ -n "${BENCH_TARGETS[*]:-}" ]; then build_targets "$BUILD" "${BENCH_TARGETS[@]}"; fi

if [ -n "${BENCH_OWN_SERVER:-}" ]; then
  # A runtime folder that does not exist: no server answers there, so null_sink.sh starts one.
  unset PULSE_SERVER
  export XDG_RUNTIME_DIR="$(mktemp -d /tmp/vamplet-bench-probe.XXXXXX)"
  rmdir "$XDG_RUNTIME_DIR"
fi
source "$ROOT/bench/null_sink.sh"
