#!/usr/bin/env bash
# The desktop's media controls drive the real program over MPRIS, and a second start hands
# its file to the first. Run on a bus of its own: dbus-run-session -- mpris_check.sh vamplet
set -u
APP=$1
for tool in playerctl ffmpeg dbus-send; do
  command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 0; }
done
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || { echo "FAIL: no session bus; run under dbus-run-session"; exit 1; }
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
export HOME=$work XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
export QT_QPA_PLATFORM=offscreen
mkdir -m 700 -p "$XDG_RUNTIME_DIR" "$XDG_DATA_HOME/Vamplet"
ffmpeg -loglevel error -f lavfi -i sine=frequency=440:duration=30 -metadata title="First Tone" "$work/a.wav"
ffmpeg -loglevel error -f lavfi -i sine=frequency=660:duration=12 "$work/b.wav"
printf '[Main]\r\nPlayListCount=1\r\nPlayList1=Drills\r\nLastPlayList=Drills\r\n[Drills]\r\nFileCount=2\r\n' >"$work/ini"
for i in 1 2; do
  f=$work/a.wav; [ $i = 2 ] && f=$work/b.wav
  printf 'FileName%s=%s\r\nFileStart%s=0\r\nFileStop%s=10\r\nFileRate%s=1\r\nFileLoop%s=5\r\n' $i "$f" $i $i $i $i >>"$work/ini"
done
# The first entry's line is its title while it plays; the second has none.
line='Ça va — Я помню 古池や مرحبا'
printf 'FileText1=%s\r\n' "$line" >>"$work/ini"
mv "$work/ini" "$XDG_DATA_HOME/Vamplet/vamplet.ini"

"$APP" >"$work/app.log" 2>&1 &
first=$!
fail() { echo "FAIL: $*"; grep -v -i -E "alsa|jack|pw.conf" "$work/app.log" | tail -5; exit 1; }
ctl() { playerctl -p vamplet "$@" 2>/dev/null; }
# Waits (at most 10 s) until `ctl ARGS` prints WANT.
expect() {
  local want=$1 got=""; shift
  for _ in $(seq 100); do
    got=$(ctl "$@")
    [ "$got" = "$want" ] && return 0
    sleep 0.1
  done
  fail "playerctl $* gave '$got', not '$want'"
}

expect Stopped status
ctl play; expect Playing status
expect "$line" metadata xesam:title
expect 30000000 metadata mpris:length
ctl pause; expect Paused status
ctl play-pause; expect Playing status
ctl next; expect b.wav metadata xesam:title
expect Playing status
ctl next; expect "$line" metadata xesam:title   # wraps to the first entry
ctl previous; expect b.wav metadata xesam:title
pos=$(ctl position); [[ $pos =~ ^[0-9.]+$ ]] || fail "no position: '$pos'"
ctl stop; expect Stopped status

# A second start with a file: the running program plays it, the new one is gone at once.
QT_QPA_PLATFORM=offscreen timeout 20 "$APP" "$work/a.wav" >"$work/second.log" 2>&1
rc=$?
[ $rc = 0 ] || fail "the second start ended with $rc"
expect "First Tone" metadata xesam:title
expect Playing status
kill -0 $first 2>/dev/null || fail "the first program is gone"
echo "PASS"
