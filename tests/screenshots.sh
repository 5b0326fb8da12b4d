#!/usr/bin/env bash
# Pictures of every window at display scale 1 and 2 (Xvfb at 96 and 192 dpi, Qt scaled by
# the same factor) and in a dark palette, for a person to look at; on Wayland the player and
# the panel come from tests/wayland_check.sh, the panel's menu and the editor from tests/wayland_editor.sh.
# Usage: screenshots.sh path/to/vamplet output-folder
set -u
APP=$1
out=$(mkdir -p "$2" && cd "$2" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/desktop.sh"
for tool in $desktop_tools; do command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 0; }; done

shoot() { import -frame -window "$2" "$out/$1.png" && echo "$out/$1.png"; }
# x1, x2: the scales; dark: scale 1 with a dark palette, as the qt6ct theme gives one.
for variant in 1 2 dark; do
  scale=${variant/dark/1}
  tag=x$variant; [ $variant = dark ] && tag=dark
  [ $variant = dark ] && [ ! -f /usr/share/qt6ct/colors/darker.conf ] && { echo "SKIP dark: qt6ct missing"; continue; }
  work=$(mktemp -d)
  (
    trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
    fail() { echo "FAIL at $tag: $*"; tail -5 "$work/app.log"; exit 1; }
    start_desktop $((96 * scale)) $((1024 * scale))x$((768 * scale)) || fail "no desktop"
    cp "$APP" "$work/vamplet"
    if [ $variant = dark ]; then
      mkdir -p "$HOME/.config/qt6ct"
      printf '[Appearance]\ncolor_scheme_path=/usr/share/qt6ct/colors/darker.conf\ncustom_palette=true\nstyle=Fusion\n' \
        >"$HOME/.config/qt6ct/qt6ct.conf"
      export QT_QPA_PLATFORMTHEME=qt6ct
    fi
    QT_SCALE_FACTOR=$scale "$work/vamplet" >"$work/app.log" 2>&1 &
    player=$(wait_window "^Vamplet - Version" 100) || fail "no player"
    panel=$(wait_window "^Control Panel$" 100) || fail "no panel"
    wait_for 50 is_on_screen "$player"
    wait_for 50 is_on_screen "$panel"
    shoot "player-$tag" "$player"
    shoot "panel-$tag" "$panel"

    xdotool windowactivate --sync "$player"
    xdotool key ctrl+p
    look=$(wait_window "^ $" 50) || fail "no properties"
    wait_for 50 is_active "$look"
    shoot "properties-$tag" "$look"
    xdotool key Escape

    xdotool windowactivate --sync "$player"
    xdotool key alt+h Return
    about=$(wait_window "^About " 50) || fail "no About box"
    wait_for 50 is_active "$about"
    shoot "about-$tag" "$about"
    xdotool key Escape

    xdotool windowactivate --sync "$panel"
    xdotool mousemove --window "$panel" 200 $((250 * scale)) click 1
    xdotool key shift+F10
    sleep 0.3  # the menu is drawn as it opens: nothing to poll for in the picture
    import -window root "$out/panel-menu-$tag.png" && echo "$out/panel-menu-$tag.png"
    xdotool key Down Down Down Down Return
    editor=$(wait_window "^Add New List Entry$" 50) || fail "no editor"
    wait_for 50 is_active "$editor"
    shoot "editor-$tag" "$editor"
    xdotool type --delay 20 "/no/such/file.wav"
    xdotool key alt+t
    box=$(wait_window "^Not Found$" 50) || fail "no message box"
    wait_for 50 is_active "$box"
    shoot "message-$tag" "$box"
    xdotool key Return
  ) || exit 1
done
