#!/usr/bin/env bash
# The program natively on Wayland (weston, headless, no tray): both windows show, every shown
# control has a name on the accessibility bus, and where no tray can bring the player back,
# the panel's "Show Player", a second start and the desktop's Raise do, the panel staying; the
# panel and a message box offer no maximise in their title bars (at scale 1, read off the
# screen); the panel is mapped after the player and free of it, as the protocol log shows.
# Every step waits, bounded, for the state it checks.
# Usage: wayland_check.sh path/to/vamplet [folder for a screenshot and the AT-SPI tree]
# With a folder, SHOTS_SCALE=2 runs weston at scale 2 and SHOTS_DARK=1 in qt6ct's dark palette;
# the pictures' names end in that variant.
# (on a session bus: dbus-run-session -- bash wayland_check.sh ...)
set -u
APP=$1
shots=${2:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
. "$here/desktop.sh"
for tool in weston weston-screenshooter dbus-send; do
  command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 0; }
done
/usr/bin/python3 -c "import gi; gi.require_version('Atspi', '2.0')" 2>/dev/null || { echo "SKIP: no AT-SPI for Python"; exit 0; }
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || { echo "SKIP: no session bus"; exit 0; }
patience=300
fail() { echo "FAIL: $*"; grep -v -i -E "alsa|jack|pw.conf" "$work/app.log" | tail -5; exit 1; }
atspi() { /usr/bin/python3 "$here/atspi.py" "$@"; }

export HOME=$work XDG_RUNTIME_DIR=$work/run
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
socket=vamplet-$$
scale=${SHOTS_SCALE:-1}
tag=x$scale
weston --backend=headless-backend.so --use-pixman --socket=$socket --width=$((1024 * scale)) \
  --height=$((768 * scale)) --scale=$scale --idle-time=0 --debug >"$work/weston.log" 2>&1 &
wait_for 100 test -S "$XDG_RUNTIME_DIR/$socket" || { echo "FAIL: weston did not start"; tail -3 "$work/weston.log"; exit 1; }
unset DISPLAY
export WAYLAND_DISPLAY=$socket QT_QPA_PLATFORM=wayland QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# The headless compositor has no seat, and Qt's (6.4) Wayland text input then crashes as a
# focused text box draws its cursor (QWaylandInputDevice::textInput on none): the compose
# input method does without the protocol.
export QT_IM_MODULE=compose
use_dark_palette_if_asked
cp "$APP" "$work/vamplet"
# The protocol log goes apart: the app log's tail tells why a step failed.
WAYLAND_DEBUG=client "$work/vamplet" >"$work/app.log" 2>"$work/wayland.log" &

wait_for $patience atspi showing "Vamplet - Version" || fail "the player window did not show"
wait_for $patience atspi showing "Control Panel" || fail "the control panel did not show"
# The panel maps after the player, so that it starts on top, and as a free window: as the
# player's transient the compositor would keep it over the player's menus.
panel=$(grep -o -E 'xdg_toplevel@[0-9]+\.set_title\("Control Panel' "$work/wayland.log" | tail -1 | cut -d. -f1)
player=$(grep -o -E 'xdg_toplevel@[0-9]+\.set_title\("Vamplet - Version' "$work/wayland.log" | tail -1 | cut -d. -f1)
[ -n "$panel" ] && [ -n "$player" ] && ! grep -q -F "$panel.set_parent(xdg_toplevel@" "$work/wayland.log" ||
  fail "the panel was made the player's transient (xdg_toplevel.set_parent)"
[ "${panel#xdg_toplevel@}" -gt "${player#xdg_toplevel@}" ] || fail "the panel was mapped before the player"
unnamed=$(atspi unnamed) || fail "controls without a name: $unnamed"
wait_for $patience atspi press "Show Player" || fail "no tray, and the panel shows no \"Show Player\""
wait_for $patience atspi showing "Vamplet - Version" || fail "\"Show Player\" did not bring the player back"
timeout 30 "$work/vamplet" >"$work/second.log" 2>&1 || fail "a second start did not hand over ($?)"
wait_for $patience atspi showing "Vamplet - Version" || fail "a second start did not bring the player back"
dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.vamplet /org/mpris/MediaPlayer2 \
  org.mpris.MediaPlayer2.Raise >/dev/null || fail "Raise was not answered"
wait_for $patience atspi showing "Vamplet - Version" || fail "Raise did not bring the player back"
wait_for $patience atspi showing "Control Panel" || fail "bringing the player back took the panel away"
# Qt's client-side bar draws its maximise box (11x9 dots, the top two rows solid) whatever
# the window asks for: only the player's may show, a message box's neither (one for a file
# that is not there, handed over by a second start).
if [ "$scale" = 1 ]; then
  timeout 30 "$work/vamplet" "$work/missing.mp3" >>"$work/second.log" 2>&1 || fail "a second start with a file did not hand over"
  wait_for $patience atspi showing "Please Fix this Entry" || fail "no message box for a missing file"
  (cd "$work" && weston-screenshooter >/dev/null 2>&1) && mv "$work"/wayland-screenshot-*.png "$work/bars.png" ||
    fail "no screenshot"
  boxes=$(convert "$work/bars.png" -depth 8 gray:- | python3 -c '
import sys
w, h, px = int(sys.argv[1]), int(sys.argv[2]), sys.stdin.buffer.read()
def box(x, y):
    ink, paper = px[y * w + x], px[(y + 2) * w + x + 1]
    if ink == paper: return False
    for dy in range(-1, 10):
        for dx in range(-1, 12):
            edge = dy in (0, 1, 8) and 0 <= dx <= 10 or dx in (0, 10) and 0 <= dy <= 8
            if px[(y + dy) * w + x + dx] != (ink if edge else paper): return False
    return True
print(sum(box(x, y) for y in range(1, h - 10) for x in range(1, w - 12) if px[y * w + x] == px[y * w + x + 10]))
' $(identify -format "%w %h" "$work/bars.png"))
  [ "$boxes" -le 1 ] || fail "$boxes title bars offer to maximise (the player's alone may)"
  [ -n "$shots" ] && mkdir -p "$shots" && mv "$work/bars.png" "$shots/wayland-message-$tag.png" && echo "$shots/wayland-message-$tag.png"
  wait_for $patience atspi press "OK" || fail "the message box has no OK"
fi
if [ -n "$shots" ]; then
  mkdir -p "$shots"
  (cd "$work" && weston-screenshooter >/dev/null 2>&1) && mv "$work"/wayland-screenshot-*.png "$shots/wayland-$tag.png" &&
    echo "$shots/wayland-$tag.png"
  atspi tree >"$shots/atspi-tree.txt" && echo "$shots/atspi-tree.txt"
  # The other windows, each opened (a menu item, else a button), shot and closed again (by
  # a button of its own: several windows have a "Close").
  for item in "File Properties...:properties: :Close" "About:about:About :OK" "Open...:open:File to open:Cancel" \
    "New play list:input:New Play List:Cancel"; do
    IFS=: read -r name window title closer <<<"$item"
    # In the background: a modal dialog answers the press only once it closes.
    atspi press "$name" >/dev/null 2>&1 &
    wait_for 50 atspi showing "$title" || fail "$name did not open a window \"$title\""
    (cd "$work" && weston-screenshooter >/dev/null 2>&1) && mv "$work"/wayland-screenshot-*.png "$shots/wayland-$window-$tag.png" &&
      echo "$shots/wayland-$window-$tag.png"
    wait_for 50 atspi press "$closer" "$title" || fail "$title has no $closer"
    wait_for 50 sh -c "! /usr/bin/python3 '$here/atspi.py' showing '$title'" || fail "$title did not close"
  done
fi
echo "wayland check: both windows, the panel mapped after the player and free of it, every control named, Show Player, second start and Raise bring the player back, close-only bars"
echo "1 passed, 0 failed"
