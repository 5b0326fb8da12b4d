#!/usr/bin/env bash
# A list played through the real windows, recorded at a private PulseAudio null sink; then
# a sound server killed and started again, and the sink in use unloaded.
#   bench/listplay/run.sh [--seconds S] [--keep DIR] [--mpv]
# Installs what it needs, builds the program, and prints the tables of README.md here.
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
BENCH_WINDOWS=1 BENCH_SECONDS=45 BENCH_BUILD="${LISTPLAY_BUILD:-}" BENCH_TARGETS=(vamplet)
BENCH_PACKAGES=(xvfb openbox xdotool x11-utils trayer imagemagick mpv)
source "$HERE/../preamble.sh" "$@"
MPV=0
for a in ${BENCH_ARGS[@]+"${BENCH_ARGS[@]}"}; do
  case $a in
    --mpv) MPV=1 ;;
    *) echo "unknown argument $a" >&2; exit 2 ;;
  esac
done
start_desktop || { echo "no desktop" >&2; exit 1; }
mkdir -p "$work/media"
python3 "$HERE/listplay.py" media "$work/media" "$work/vamplet.ini"
cp "$BUILD/vamplet" "$work/vamplet"   # its playlist file is the vamplet.ini beside it

mono() { python3 -c 'import time; print(time.monotonic_ns())'; }

# The entry's context menu on the grid's first row, and its item number $1, as a user does.
menu_item() {
  local panel
  panel=$(wait_window "^Control Panel$" 300) || { echo "no control panel" >&2; return 1; }
  xdotool windowactivate --sync "$panel" 2>/dev/null || true
  eval "$(xdotool getwindowgeometry --shell "$panel")"
  # No --sync: where the pointer already rests (the run before left it there) xdotool
  # waits ~15 s for a motion that never comes.
  xdotool mousemove $((X + 60)) $((Y + 124))
  sleep 0.2
  xdotool click 1
  sleep 0.3
  xdotool click 3
  sleep 0.5
  for _ in $(seq "$1"); do xdotool key Down; done
  xdotool key Return
}

start_app() {
  "$work/vamplet" >>"$work/app.log" 2>&1 &
  APP_PID=$!
}
stop_app() { kill "$APP_PID" 2>/dev/null || true; wait "$APP_PID" 2>/dev/null || true; APP_PID=""; }

# 1. "Play the List".
server_start lp
export PULSE_SINK=lp
rec_start lp "$work/list.raw"
start_app
menu_item 1
echo "PLAY $(mono)" >> "$work/marks"
sleep "$SECONDS_LIST"
stop_app
rec_stop

# 2. "Loop this Entry" on row 1; the server killed, started again 3 s later with a sink
# that writes what it plays from its first moment, then that sink unloaded with another
# one there to take the stream.
start_app
menu_item 3
sleep 4
echo "KILL $(mono)" >> "$work/marks"
server_kill
sleep 3
server_start lp "$work/back.raw"
echo "BACK $SERVER_UP_NS" >> "$work/marks"
pactl load-module module-null-sink sink_name=lp2 rate=44100 channels=2 format=s16le >/dev/null
rec_start lp2 "$work/moved.raw"
sleep 5
echo "UNLOAD $(mono)" >> "$work/marks"
pactl unload-module "$(pactl list short modules | awk '/module-pipe-sink/{print $1}')"
sleep 10
stop_app
rec_stop

if [ "$MPV" = 1 ]; then
  # 3. mpv's playlist of the same stretches, looped by count (no pause, count-in or trainer).
  export PULSE_SINK=lp2
  rec_start lp2 "$work/mpv.raw"
  echo "MPV $(mono)" >> "$work/marks"
  # shellcheck disable=SC2046
  timeout "$SECONDS_LIST" mpv --no-config --no-video --really-quiet --ao=pulse \
    $(python3 "$HERE/listplay.py" mpv "$work/media") >/dev/null 2>&1 || true
  rec_stop
fi

python3 "$HERE/listplay.py" analyse "$work"
