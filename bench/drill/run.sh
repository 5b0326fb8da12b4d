#!/usr/bin/env bash
# A ten-line drill played through the windows ("Play the List"), recorded at a private
# PulseAudio null sink, over a sound file and over a video; screenshots of the player with a
# line showing at scales 1 and 2.
#   bench/drill/run.sh [--seconds S] [--keep DIR]
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
BENCH_WINDOWS=1 BENCH_SECONDS=40 BENCH_BUILD="${DRILL_BUILD:-}" BENCH_TARGETS=(vamplet)
BENCH_PACKAGES=(xvfb openbox xdotool x11-utils imagemagick ffmpeg
  fonts-ipafont-gothic)  # the Japanese line
source "$HERE/../preamble.sh" "$@"
[ ${#BENCH_ARGS[@]} -eq 0 ] || { echo "unknown argument ${BENCH_ARGS[0]}" >&2; exit 2; }
# Room for the windows at scale 2.
start_desktop 96 2048x1536 || { echo "no desktop" >&2; exit 1; }
server_start dr
export PULSE_SINK=dr

# "Play the List" from the grid's first row, as a user does with the keyboard: a click into
# the grid (two thirds down the panel, inside the grid at any scale), Ctrl+Home to its first
# row, the entry commands' menu (Shift+F10) and its first item. A click on the first row
# itself missed it at scale 2: the rows move down by more than the scale (the header and
# the boxes above grow with their fonts, the frame's title bar does not), and the click hit
# the grid's header.
play_list() {
  local panel
  panel=$(wait_window "^Control Panel$" 300) || { echo "no control panel" >&2; return 1; }
  xdotool windowactivate --sync "$panel" 2>/dev/null || true
  eval "$(xdotool getwindowgeometry --shell "$panel")"
  # No --sync: where the pointer already rests (the run before left it there) xdotool
  # waits ~15 s for a motion that never comes.
  xdotool mousemove $((X + WIDTH / 3)) $((Y + HEIGHT * 2 / 3))
  sleep 0.2
  xdotool click 1
  sleep 0.3
  xdotool key ctrl+Home
  sleep 0.3
  xdotool key shift+F10
  sleep 0.5
  xdotool key Down Return
}

# run KIND SCALE SECONDS: the drill over a sound file or a video, recorded; the player window
# shot a few seconds in.
run() {
  local dir="$work/$1-$2"
  mkdir -p "$dir"
  python3 "$HERE/drill.py" media "$dir" "$dir/vamplet.ini" "$1"
  cp "$BUILD/vamplet" "$dir/vamplet"  # its playlist file is the vamplet.ini beside it
  rec_start dr "$dir/drill.raw"
  local load0
  load0=$(cut -d' ' -f1 /proc/loadavg)
  # The trace in app.log: each wrap decoded, hold begun and ended (how late its UI timer), mpv's
  # own warnings (an output underrun among them), on the process' clock.
  QT_LOGGING_RULES="${DRILL_LOG_RULES:-vamplet.engine.debug=true;vamplet.mpv.info=true}" \
    QT_MESSAGE_PATTERN="%{time process} %{category}: %{message}" \
    QT_SCALE_FACTOR=$2 "$dir/vamplet" >>"$dir/app.log" 2>&1 &
  APP_PID=$!
  play_list
  # Shot well into the list: a loaded machine takes seconds to start the first entry.
  sleep 10
  local player
  player=$(wait_window "Vamplet" 50 || true)
  [ -z "$player" ] || import -window "$player" "$work/$1-scale$2.png" 2>/dev/null || true
  sleep "$(( $3 - 10 ))"
  kill "$APP_PID" 2>/dev/null || true
  wait "$APP_PID" 2>/dev/null || true
  APP_PID=""
  rec_stop
  python3 "$HERE/drill.py" analyse "$dir/drill.raw" "Drill over a $1 file, scale $2"
  echo "Load average (1 min) $load0 at the start, $(cut -d' ' -f1 /proc/loadavg) at the end"
  # What the trace says of the holds and mpv's output.
  awk '/UI timer/ { late[$(NF-2) > 10 ? "late" : "on time"]++ } /underrun/ { under++ }
       END { printf "Holds whose UI timer came within 10 ms: %d, later: %d; mpv output underruns: %d\n",
             late["on time"], late["late"], under }' "$dir/app.log"
}

# DRILL_BUSY=N adds N busy loops for the runs (a machine busy with builds).
busy_start "${DRILL_BUSY:-0}"
# DRILL_RUNS picks runs, as kind:scale:seconds.
for r in ${DRILL_RUNS:-sound:1:$SECONDS_LIST video:1:$SECONDS_LIST sound:2:14 video:2:14}; do
  IFS=: read -r kind scale secs <<< "$r"
  run "$kind" "$scale" "$secs"
done
busy_stop
ls "$work"/*.png
