#!/usr/bin/env bash
# Minimise the player to the tray, see the tray icon animate, and bring the window back
# by double-clicking the icon: on a real X server with a window manager and a tray host.
# Usage: tray_check.sh path/to/vamplet
set -u
APP=$1
for tool in Xvfb openbox trayer xdotool import compare; do
  command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 0; }
done
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
display=:$(( 90 + RANDOM % 100 ))
Xvfb $display -screen 0 1024x768x24 >/dev/null 2>&1 &
sleep 1
export DISPLAY=$display HOME=$work XDG_RUNTIME_DIR=$work/run
mkdir -m 700 -p $XDG_RUNTIME_DIR
openbox --sm-disable >/dev/null 2>&1 &
sleep 1
trayer --edge bottom --align right --widthtype request --height 24 --transparent false --tint 0x333333 >/dev/null 2>&1 &
sleep 1
# A copy of its own, so the playlist file next to it is a fresh one.
cp "$APP" "$work/vamplet"
"$work/vamplet" >"$work/app.log" 2>&1 &
fail() { echo "FAIL: $*"; cat "$work/app.log" | grep -v -i -E "alsa|jack|pw.conf" | tail -5; exit 1; }
# Prints the shown player window's id once there is one, trying $1 times 0.2 s apart.
wait_player() {
  local id
  for _ in $(seq "$1"); do
    id=$(xdotool search --onlyvisible --name "^Vamplet - Version" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.2
  done
}

player=$(wait_player 50)
[ -n "$player" ] || fail "the player window did not show"
# The icon is the program's small window embedded in the tray host (a child of its panel).
iconx=""
for _ in $(seq 25); do
  line=$(xwininfo -root -tree 2>/dev/null | grep -A12 '"panel": ("panel" "trayer")' | grep '("vamplet"' | head -1)
  if [[ $line =~ ([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+\ +\+(-?[0-9]+)\+(-?[0-9]+) ]]; then
    iconx=$(( BASH_REMATCH[3] + BASH_REMATCH[1] / 2 )); icony=$(( BASH_REMATCH[4] + BASH_REMATCH[2] / 2 ))
    break
  fi
  sleep 0.2
done
[ -n "$iconx" ] || fail "no tray icon"
sleep 1

# A window manager may ignore a request that comes while it still places the window.
for _ in 1 2 3; do
  xdotool windowminimize "$player"
  sleep 0.7
  xdotool search --onlyvisible --name "^Vamplet - Version" >/dev/null 2>&1 || break
done
xdotool search --onlyvisible --name "^Vamplet - Version" >/dev/null 2>&1 && fail "minimised window still shown"
# Six frames, 400 ms apart: pictures taken 400 ms apart must differ.
changes=0
import -window root -crop 24x24+$((iconx - 12))+$((icony - 12)) "$work/f0.png"
for i in 1 2 3 4; do
  sleep 0.4
  import -window root -crop 24x24+$((iconx - 12))+$((icony - 12)) "$work/f$i.png"
  diff=$(compare -metric AE "$work/f$((i - 1)).png" "$work/f$i.png" null: 2>&1 || true)
  [ "${diff%% *}" != "0" ] && changes=$((changes + 1))
done
[ $changes -ge 3 ] || fail "the tray icon did not animate ($changes changes in 4 steps)"

xdotool mousemove $iconx $icony click --repeat 2 --delay 80 1
shown=$(wait_player 25)
[ -n "$shown" ] || fail "double-clicking the tray icon did not bring the window back"
state=$(xprop -id "$shown" _NET_WM_STATE 2>/dev/null)
case "$state" in *HIDDEN*) fail "the window came back minimised";; esac
echo "tray check: hidden on minimise, $changes frame changes seen, restored by double click"
echo "1 passed, 0 failed"
