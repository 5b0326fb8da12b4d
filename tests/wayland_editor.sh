#!/usr/bin/env bash
# The control panel's menu and the entry editor natively on Wayland, reached by the keyboard
# as a user does (the panel has the keys, Tab goes round to the grid, Shift+F10 opens its
# menu, "Add Entry..." the editor), shot, and every shown control of the editor named.
# Weston runs in a window of a private X server, not headless: a headless one has no keyboard,
# and the keys typed into its window reach the program as on a desktop.
# Every step waits, bounded, for the state it checks.
# Usage: wayland_editor.sh path/to/vamplet folder-for-the-pictures
# PLAYER_MENUS=1 instead opens the player's tallest menu on a screen too narrow and low for
# the two windows to lie apart, and fails where the panel covers any of it.
# SHOTS_SCALE=2 runs weston at scale 2, SHOTS_DARK=1 in qt6ct's dark palette; the pictures'
# names end in that variant. (On a session bus: dbus-run-session -- bash wayland_editor.sh ...)
set -u
APP=$1
shots=$(mkdir -p "$2" && cd "$2" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
. "$here/desktop.sh"
for tool in $desktop_tools weston weston-screenshooter; do
  command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 0; }
done
/usr/bin/python3 -c "import gi; gi.require_version('Atspi', '2.0')" 2>/dev/null || { echo "SKIP: no AT-SPI for Python"; exit 0; }
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || { echo "SKIP: no session bus"; exit 0; }
patience=300
fail() { echo "FAIL: $*"; grep -v -i -E "alsa|jack|pw.conf" "$work/app.log" | tail -5; exit 1; }
atspi() { /usr/bin/python3 "$here/atspi.py" "$@"; }
shoot() {
  (cd "$work" && weston-screenshooter >/dev/null 2>&1) && mv "$work"/wayland-screenshot-*.png "$shots/$1.png" &&
    echo "$shots/$1.png"
}

scale=${SHOTS_SCALE:-1}
tag=x$scale
width=1024
[ -n "${PLAYER_MENUS:-}" ] && width=480
# Room for the compositor's window and openbox's frame around it.
no_tray=1 start_desktop 96 $((width * scale + 64))x$((768 * scale + 64)) || { echo "FAIL: no X server"; exit 1; }
xdisplay=$DISPLAY
key() { DISPLAY=$xdisplay xdotool key "$@"; }
socket=vamplet-$$
weston --backend=x11-backend.so --use-pixman --socket=$socket --width=$((width * scale)) \
  --height=$((768 * scale)) --scale=$scale --idle-time=0 --debug >"$work/weston.log" 2>&1 &
wait_for 100 test -S "$XDG_RUNTIME_DIR/$socket" || { echo "FAIL: weston did not start"; tail -3 "$work/weston.log"; exit 1; }
wait_for 100 sh -c "xdotool search --onlyvisible --class '^weston' >/dev/null" || fail "no window of weston's"
DISPLAY=$xdisplay xdotool windowactivate --sync "$(xdotool search --onlyvisible --class '^weston' | head -1)"
unset DISPLAY
export WAYLAND_DISPLAY=$socket QT_QPA_PLATFORM=wayland QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_IM_MODULE=compose
use_dark_palette_if_asked
cp "$APP" "$work/vamplet"
"$work/vamplet" >"$work/app.log" 2>&1 &

wait_for $patience atspi showing "Vamplet - Version" || fail "the player window did not show"
wait_for $patience atspi active "Control Panel" || fail "the panel, mapped last, did not get the keys"
# The menu is not on the accessibility bus, and a Wayland client cannot tell where its popup
# went: the pictures do. Its box is where the picture differs from the one before (the clock's
# bar left out); it must be the whole menu (ROWS items of at least 14 px) and not cut by the
# screen's bottom or right edge, as a menu running off the screen is.
menu_box() {
  convert "$1" -alpha off "$2" -alpha off -compose difference -composite -colorspace gray -threshold 3% \
    -fill black -draw "rectangle 0,0 100000,${3:-$((40 * scale))}" -format '%@' info: 2>/dev/null
}
# menu_shown NAME ROWS: waits, bounded, for the menu; keeps its picture as NAME.
menu_shown() {
  # Leaves the box in box, w, h, x, y.
  for _ in $(seq 100); do
    (cd "$work" && rm -f wayland-screenshot-*.png && weston-screenshooter >/dev/null 2>&1) || return 1
    box=$(menu_box "$shots/before.png" "$work"/wayland-screenshot-*.png)
    read -r screen_w screen_h <<<"$(identify -format '%w %h' "$shots/before.png")"
    IFS='x+' read -r w h x y <<<"$box"
    if [ "${h:-0}" -ge $(($2 * 14 * scale)) ]; then
      mv "$work"/wayland-screenshot-*.png "$shots/$1.png" && echo "$shots/$1.png: the menu at $box"
      [ $((y + h)) -lt $screen_h ] && [ $((x + w)) -lt $screen_w ] || { echo "FAIL: $1 runs off the screen ($box)"; return 1; }
      return 0
    fi
    sleep 0.1
  done
  echo "FAIL: $1 did not show"
  return 1
}
# edges_whole PICTURE: the menu (the longest run of rows that changed since before.png) has
# left and right edges of one colour from below its first rows (the menu bar's highlight
# may lie beside them) to its bottom; a window over part of it breaks them.
edges_whole() {
  python3 - "$shots/before.png" "$1" "$scale" <<'PY'
import subprocess, sys
def rgb(path):
    w, h = map(int, subprocess.check_output(["identify", "-format", "%w %h", path]).split())
    px = subprocess.check_output(["convert", path, "-alpha", "off", "-depth", "8", "rgb:-"])
    return w, h, [px[y * w * 3:(y + 1) * w * 3] for y in range(h)]
w, h, old = rgb(sys.argv[1]); _, _, new = rgb(sys.argv[2]); scale = int(sys.argv[3])
changed = [[x for x in range(w) if max(abs(a - b) for a, b in zip(old[y][3 * x:3 * x + 3], new[y][3 * x:3 * x + 3])) > 8]
           for y in range(h)]
runs, top = [], None
for y in range(40 * scale, h + 1):
    if y < h and changed[y]: top = y if top is None else top
    elif top is not None: runs.append((y - top, top)); top = None
rows, top = max(runs)
left = min(min(changed[y]) for y in range(top, top + rows)); right = max(max(changed[y]) for y in range(top, top + rows))
for x in (left, right):
    colours = {new[y][3 * x:3 * x + 3] for y in range(top + 20 * scale, top + rows - 1)}
    if len(colours) > 2: sys.exit("FAIL: %d colours down the menu's edge at x=%d (rows %d-%d)" % (len(colours), x, top, top + rows))
PY
}
if [ -n "${PLAYER_MENUS:-}" ]; then
  # The player's Loop menu, by its key typed in the panel (which hands it to the player), then
  # in the player, activated by the compositor's window switcher. Under load the first key
  # may come before the menu bar takes keys, or a picture catch a window still repainting
  # beside the menu: up to three tries, each from a fresh picture; a menu the panel covers
  # fails all three.
  loop_menu() {
    local try
    for try in 1 2 3; do
      shoot before >/dev/null || fail "no screenshot"
      key alt+l
      menu_shown "$1" 20 && edges_whole "$shots/$1.png" && { key Escape; return 0; }
      key Escape
      wait_for 50 atspi active "$2"
    done
    fail "the player's Loop menu ($1) is not whole on top"
  }
  loop_menu wayland-player-menu-from-panel-$tag "Control Panel"
  for _ in $(seq 10); do atspi active "Vamplet - Version" && break; key super+Tab; wait_for 10 atspi active "Vamplet - Version"; done
  atspi active "Vamplet - Version" || fail "the switcher did not activate the player"
  loop_menu wayland-player-menu-$tag "Vamplet - Version"
  rm "$shots/before.png"
  echo "wayland player menus: the player's menu whole over the panel, opened from either"
  echo "1 passed, 0 failed"
  exit 0
fi
for _ in $(seq 30); do wait_for 5 atspi focused Entries && break; key Tab; done
atspi focused Entries || fail "Tab never reached the grid"
shoot before >/dev/null || fail "no screenshot"
key shift+F10
# Under load the first key may reach the panel before its grid has the focus: once more.
menu_shown wayland-panel-menu-$tag 14 || { key Escape; key shift+F10; menu_shown wayland-panel-menu-$tag 14; } ||
  fail "Shift+F10 opened no menu over the grid that fits"
key Down Down Down Down Return
wait_for 50 atspi showing "Add New List Entry" || fail "\"Add Entry...\" opened no editor"
shoot wayland-editor-$tag
unnamed=$(atspi unnamed) || fail "controls without a name: $unnamed"
wait_for 50 atspi press "Close" "Add New List Entry" || fail "the editor has no Close"
wait_for 50 sh -c "! /usr/bin/python3 '$here/atspi.py' showing 'Add New List Entry'" || fail "the editor did not close"
rm "$shots/before.png"
echo "wayland editor: the panel's menu within the screen, the editor reached by the keyboard, shot, every control named"
echo "1 passed, 0 failed"
