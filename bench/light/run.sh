#!/usr/bin/env bash
# What Vamplet costs beside mpv with its window, on one display without a GPU: start to
# window shown, resident memory and CPU at rest, and CPU while one sound file loops (Vamplet
# through its control panel's double click, mpv with --loop-file). Both run in the same
# run, alternating, ROUNDS times; medians are printed (README.md here).
#   bench/light/run.sh [ROUNDS] [SECONDS]        (3 rounds of 20 s of looping by default)
#   LIGHT_BUILD=build/test bench/light/run.sh    # a build folder other than build/release
#   LIGHT_FILE=song.mp3 bench/light/run.sh       # a file of your own (else a 3-minute WAV)
#   LIGHT_BEFORE=path/to/vamplet bench/light/run.sh  # another build measured beside them
#   LIGHT_AFTER_VIDEO=1 bench/light/run.sh       # Vamplet shows a short video before it loops
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
if [ -z "${LIGHT_ON_BUS:-}" ]; then
  # A session bus of its own: the program's single-instance name and MPRIS live there.
  source "$HERE/../../scripts/common.sh"
  PACKAGES+=(mpv pulseaudio pulseaudio-utils playerctl dbus xvfb openbox trayer xdotool x11-utils ffmpeg python3)
  install_missing
  BUILD="${LIGHT_BUILD:-$ROOT/build/release}"
  [ -n "${LIGHT_BUILD:-}" ] || build_targets "$BUILD" vamplet
  [ -z "${LIGHT_BEFORE:-}" ] || LIGHT_BEFORE=$(readlink -f "$LIGHT_BEFORE")
  LIGHT_ON_BUS=1 LIGHT_APP="$BUILD/vamplet" exec dbus-run-session -- bash "$0" "$@"
fi

rounds=${1:-3}
seconds=${2:-20}
work=$(mktemp -d)
source "$HERE/../../tests/desktop.sh"
for tool in $desktop_tools mpv playerctl pulseaudio; do
  command -v $tool >/dev/null || { echo "missing: $tool"; exit 1; }
done
start_desktop || { echo "no desktop"; exit 1; }
SINK=vamplet_light
source "$HERE/../null_sink.sh"
# After the sink's own: it sets the trap too.
trap 'cleanup_null_sink; kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

file=${LIGHT_FILE:-$work/tone.wav}
if [ -z "${LIGHT_FILE:-}" ]; then
  ffmpeg -v error -f lavfi -i "sine=frequency=330:sample_rate=44100:duration=180" \
    -f lavfi -i "anoisesrc=color=pink:amplitude=0.05:sample_rate=44100:duration=180" \
    -filter_complex "[0][1]amix=inputs=2,aformat=channel_layouts=stereo" "$file"
fi
file=$(readlink -f "$file")
video=$work/clip.mkv
if [ -n "${LIGHT_AFTER_VIDEO:-}" ]; then
  ffmpeg -v error -f lavfi -i "testsrc=size=320x240:rate=25:duration=1.5" -c:v mpeg4 "$video"
fi
# Portable: the playlist file next to a copy of the program. One entry, the whole file.
install_copy() {
  mkdir -p "$work/$1"
  cp "$2" "$work/$1/vamplet"
  printf '[Main]\r\nPlayListCount=1\r\nPlayList1=Light\r\nLastPlayList=Light\r\n[Light]\r\nFileCount=1\r\n' >"$work/$1/vamplet.ini"
  printf 'FileName1=%s\r\nFileStart1=0\r\nFileStop1=0\r\nFileRate1=1\r\nFileLoop1=1\r\n' "$file" >>"$work/$1/vamplet.ini"
}
install_copy vamplet "$LIGHT_APP"
[ -z "${LIGHT_BEFORE:-}" ] || install_copy before "$LIGHT_BEFORE"

now() { date +%s.%N; }
# Clock ticks of the whole process (all its threads), and of its first thread alone.
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_mb() { awk '/^VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$1/status"; }
hz=$(getconf CLK_TCK)
# Percent of one core over $2 seconds: "whole ui" (ui: the thread that runs the windows).
cpu_over() {
  local pid=$1 secs=$2 a b ua ub
  a=$(ticks "$pid"); ua=$(awk '{print $14 + $15}' "/proc/$pid/task/$pid/stat")
  sleep "$secs"
  b=$(ticks "$pid"); ub=$(awk '{print $14 + $15}' "/proc/$pid/task/$pid/stat")
  awk -v a="$a" -v b="$b" -v ua="$ua" -v ub="$ub" -v s="$secs" -v hz="$hz" \
    'BEGIN { printf "%.2f %.2f", (b - a) * 100 / hz / s, (ub - ua) * 100 / hz / s }'
}
# Seconds from $1 (a start time) until process $2 shows a window; polled every 10 ms.
window_after() {
  local t0=$1 pid=$2
  for _ in $(seq 3000); do
    if [ -n "$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -1)" ]; then
      awk -v a="$t0" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'
      return 0
    fi
    sleep 0.01
  done
  return 1
}
load() { cut -d' ' -f1 /proc/loadavg; }
# Each thread's context switches so far (a wake-up is a voluntary one): "tid name count".
switches() {
  local t
  for t in /proc/$1/task/*; do
    printf '%s %s %s\n' "${t##*/}" "$(tr ' ' _ <"$t/comm")" \
      "$(awk '/^voluntary_ctxt_switches/ {print $2}' "$t/status" 2>/dev/null || echo 0)"
  done
}
# Wake-ups a second of each thread between two such lists over $3 seconds, busiest first.
wakeup_rates() {
  awk -v s="$3" 'NR == FNR {a[$1] = $3; next} ($1 in a) {printf "%s %.1f\n", $2, ($3 - a[$1]) / s}' "$1" "$2" |
    sort -k2 -n -r | awk '{printf "%s%s=%s", (NR > 1 ? " " : ""), $1, $2} END {print ""}'
}
results=$work/results
: >"$results"

# run_vamplet NAME: the copy in $work/NAME.
run_vamplet() {
  local name=$1 t0 pid shown rest_rss rest_cpu panel x y loop_cpu loop_rss
  t0=$(now)
  "$work/$name/vamplet" >"$work/$name.log" 2>&1 &
  pid=$!
  shown=$(window_after "$t0" "$pid") || { echo "vamplet showed no window"; return 1; }
  panel=$(wait_window "^Control Panel$" 300) || { echo "no control panel"; return 1; }
  sleep 3
  rest_rss=$(rss_mb "$pid")
  rest_cpu=$(cpu_over "$pid" 5)
  if [ -n "${LIGHT_AFTER_VIDEO:-}" ]; then
    # A second start hands the video over: it plays twice, then the list goes on.
    "$work/$name/vamplet" "$video" >/dev/null 2>&1
    wait_for 100 sh -c 'playerctl -p vamplet metadata xesam:url | grep -q clip.mkv' ||
      { echo "vamplet did not take the video"; return 1; }
    wait_for 150 sh -c '! playerctl -p vamplet metadata xesam:url | grep -q clip.mkv' ||
      { echo "the video did not end"; return 1; }
  fi
  # The grid's first row, double-clicked: "Loop this Entry". Its place in the panel
  # follows from the panel's layout; a few heights around it, until it plays.
  eval "$(xwininfo -id "$panel" | awk '/Absolute upper-left X/{print "x="$4} /Absolute upper-left Y/{print "y="$4}')"
  for dy in 152 146 158 140 164; do
    xdotool mousemove $((x + 80)) $((y + dy)) click --repeat 2 --delay 60 1
    wait_for 20 sh -c '[ "$(playerctl -p vamplet status 2>/dev/null)" = Playing ]' && break
  done
  [ "$(playerctl -p vamplet status 2>/dev/null)" = Playing ] || { echo "vamplet does not play"; return 1; }
  xdotool mousemove 1000 10
  sleep 2
  switches "$pid" >"$work/sw0"
  loop_cpu=$(cpu_over "$pid" "$seconds")
  switches "$pid" >"$work/sw1"
  echo "$name wake-ups/s: $(wakeup_rates "$work/sw0" "$work/sw1" "$seconds")" >>"$work/wakeups"
  loop_rss=$(rss_mb "$pid")
  echo "$name $shown $rest_rss $rest_cpu $loop_cpu $loop_rss $(load)" >>"$results"
  kill "$pid"; wait "$pid" 2>/dev/null || true
}

run_mpv() {
  local t0 pid shown rest_rss rest_cpu loop_cpu loop_rss
  t0=$(now)
  mpv --no-config --idle=yes --force-window=yes --loop-file=inf --input-ipc-server="$work/mpv.sock" \
    --ao=pulse >"$work/mpv.log" 2>&1 &
  pid=$!
  shown=$(window_after "$t0" "$pid") || { echo "mpv showed no window"; return 1; }
  sleep 3
  rest_rss=$(rss_mb "$pid")
  rest_cpu=$(cpu_over "$pid" 5)
  python3 - "$work/mpv.sock" "$file" <<'EOF'
import json, socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall((json.dumps({"command": ["loadfile", sys.argv[2]]}) + "\n").encode())
s.recv(4096)
EOF
  sleep 2
  switches "$pid" >"$work/sw0"
  loop_cpu=$(cpu_over "$pid" "$seconds")
  switches "$pid" >"$work/sw1"
  echo "mpv wake-ups/s: $(wakeup_rates "$work/sw0" "$work/sw1" "$seconds")" >>"$work/wakeups"
  loop_rss=$(rss_mb "$pid")
  echo "mpv $shown $rest_rss $rest_cpu $loop_cpu $loop_rss $(load)" >>"$results"
  kill "$pid"; wait "$pid" 2>/dev/null || true
}

for r in $(seq "$rounds"); do
  if [ $((r % 2)) = 1 ]; then run_vamplet vamplet; run_mpv; else run_mpv; run_vamplet vamplet; fi
  [ -z "${LIGHT_BEFORE:-}" ] || run_vamplet before
done

echo "rounds: $rounds, looping $seconds s each; file: $(basename "$file"); $(nproc) cores"
echo "per round: player start-s rest-MB rest-cpu% rest-ui% loop-cpu% loop-ui% loop-MB load"
cat "$results"
echo "wake-ups a second of each thread while looping, per round:"
cat "$work/wakeups"
python3 - "$results" <<'EOF'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1]) if l.strip()]
players = [p for p in ("vamplet", "mpv", "before") if any(r[0] == p for r in rows)]
names = {"vamplet": "Vamplet", "mpv": "mpv with its window", "before": "the other build"}
cols = ["start to window s", "resident at rest MB", "CPU at rest %", "UI thread at rest %",
        "CPU looping %", "UI thread looping %", "resident looping MB", "load (1 min)"]
med = {p: [statistics.median(float(r[i + 1]) for r in rows if r[0] == p) for i in range(len(cols))]
       for p in players}
print("\n| median of %d rounds | %s |" % (len([r for r in rows if r[0] == "mpv"]), " | ".join(names[p] for p in players)))
print("|---|" + "---|" * len(players))
for i, c in enumerate(cols):
    cells = ["-" if c.startswith("UI thread") and p == "mpv" else "%.2f" % med[p][i] for p in players]
    print("| %s | %s |" % (c, " | ".join(cells)))
EOF
