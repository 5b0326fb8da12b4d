#!/usr/bin/env bash
# Pictures of every window at display scale 1 and 2 (Xvfb at 96 and 192 dpi, Qt scaled by
# the same factor), for a person to look at.
# Usage: screenshots.sh path/to/vamplet output-folder
set -u
APP=$1
out=$(mkdir -p "$2" && cd "$2" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/desktop.sh"
for tool in $desktop_tools; do command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 0; }; done

shoot() { import -frame -window "$2" "$out/$1.png" && echo "$out/$1.png"; }
for scale in 1 2; do
  work=$(mktemp -d)
  (
    trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
    fail() { echo "FAIL at scale $scale: $*"; tail -5 "$work/app.log"; exit 1; }
    start_desktop $((96 * scale)) $((1024 * scale))x$((768 * scale)) || fail "no desktop"
    cp "$APP" "$work/vamplet"
    QT_SCALE_FACTOR=$scale "$work/vamplet" >"$work/app.log" 2>&1 &
    player=$(wait_window "^Vamplet - Version" 100) || fail "no player"
    panel=$(wait_window "^Control Panel$" 100) || fail "no panel"
    wait_for 50 is_on_screen "$player"
    wait_for 50 is_on_screen "$panel"
    shoot "player-x$scale" "$player"
    shoot "panel-x$scale" "$panel"

    xdotool windowactivate --sync "$player"
    xdotool key ctrl+p
    look=$(wait_window "^ $" 50) || fail "no properties"
    wait_for 50 is_active "$look"
    shoot "properties-x$scale" "$look"
    xdotool key Escape

    xdotool windowactivate --sync "$player"
    xdotool key alt+h Return
    about=$(wait_window "^About " 50) || fail "no About box"
    wait_for 50 is_active "$about"
    shoot "about-x$scale" "$about"
    xdotool key Escape

    xdotool windowactivate --sync "$panel"
    xdotool mousemove --window "$panel" 200 $((250 * scale)) click 1
    xdotool key shift+F10
    sleep 0.3  # the menu is drawn as it opens: nothing to poll for in the picture
    import -window root "$out/panel-menu-x$scale.png" && echo "$out/panel-menu-x$scale.png"
    xdotool key Down Down Down Down Return
    editor=$(wait_window "^Add New List Entry$" 50) || fail "no editor"
    wait_for 50 is_active "$editor"
    shoot "editor-x$scale" "$editor"
    xdotool type --delay 20 "/no/such/file.wav"
    xdotool key alt+t
    box=$(wait_window "^Not Found$" 50) || fail "no message box"
    wait_for 50 is_active "$box"
    shoot "message-x$scale" "$box"
    xdotool key Return
  ) || exit 1
done
