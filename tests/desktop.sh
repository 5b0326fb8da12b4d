# Sourced by the desktop checks: a private X server with a window manager and a tray host,
# and waits that poll the state they need with a bound instead of sleeping.
# Needs: $work (a scratch folder). Sets DISPLAY, HOME, XDG_RUNTIME_DIR.

desktop_tools="Xvfb openbox trayer xdotool xprop xwininfo xdpyinfo import"

# Runs "$@" every 0.1 s until it succeeds; fails after $1 tries.
wait_for() {
  local tries=$1; shift
  for _ in $(seq "$tries"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

# Starts the desktop at $1 dots per inch (96 when not given), $2 pixels (1024x768); without a
# tray host when no_tray is set.
# Another server may take the display number picked here at the same moment: ours then
# exits, and the desktop is started again on another number (a client would otherwise
# reach the other server).
start_desktop() {
  local n
  desktop_pids=""
  for n in 1 2 3 4 5; do
    desktop_once "$@" && return 0
    kill $desktop_pids 2>/dev/null
  done
  return 1
}
desktop_once() {
  local dpi=${1:-96} size=${2:-1024x768} wm display server
  display=:$(( 100 + RANDOM % 400 ))
  [ -e /tmp/.X11-unix/X${display#:} ] || [ -e /tmp/.X${display#:}-lock ] && return 1
  Xvfb $display -screen 0 ${size}x24 -dpi "$dpi" -nolisten tcp >/dev/null 2>&1 &
  server=$!
  desktop_pids=$server
  export DISPLAY=$display
  # The display's lock names the server that holds it.
  wait_for 50 xdpyinfo && [ "$(tr -d ' \n' < /tmp/.X${display#:}-lock 2>/dev/null)" = "$server" ] || return 1
  # A fresh server has no window manager yet; one that has is somebody else's.
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id #' && return 1
  export HOME=$work XDG_RUNTIME_DIR=$work/run
  mkdir -m 700 -p "$XDG_RUNTIME_DIR"
  openbox --sm-disable >"$work/wm.log" 2>&1 &
  wm=$!
  desktop_pids="$desktop_pids $wm"
  wait_for 100 sh -c "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id #'" && kill -0 $wm || return 1
  # A desktop without a notification area, as some come.
  [ -n "${no_tray:-}" ] && return 0
  trayer --edge bottom --align right --widthtype request --height 24 --transparent false \
    --tint 0x333333 >/dev/null 2>&1 &
  desktop_pids="$desktop_pids $!"
  wait_for 100 sh -c "xwininfo -root -tree | grep -q '(\"panel\" \"trayer\")'"
}

# The id of the shown window whose title matches the pattern $1, once there is one.
shown_window() {
  xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1
}
wait_window() {
  local id
  for _ in $(seq "${2:-100}"); do
    id=$(shown_window "$1"); [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

# Window states as the window manager keeps them.
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | sed -n 's/.*window state: //p'; }
net_state() { xprop -id "$1" _NET_WM_STATE 2>/dev/null; }
is_viewable() { xwininfo -id "$1" 2>/dev/null | grep -q "IsViewable"; }
# Shown, normal and not marked hidden: what the user sees as a window on screen.
is_on_screen() { is_viewable "$1" && [ "$(wm_state "$1")" = Normal ] && ! net_state "$1" | grep -q HIDDEN; }
is_minimised() { [ "$(wm_state "$1")" = Iconic ]; }
# Withdrawn by the program (hidden), not merely minimised.
is_withdrawn() { ! is_viewable "$1" && [ -z "$(wm_state "$1")" -o "$(wm_state "$1")" = Withdrawn ]; }
is_active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; }
# Whether window $1 is stacked above window $2.
is_above() {
  local list; list=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g')
  local a b i=0 w
  for w in $list; do i=$((i + 1)); [ $((w)) = $(($1)) ] && a=$i; [ $((w)) = $(($2)) ] && b=$i; done
  [ -n "$a" ] && [ -n "$b" ] && [ "$a" -gt "$b" ]
}
# Outer frame of a window: x y width height on the screen.
frame_of() {
  local id=$1 x y w h l r t b
  eval "$(xwininfo -id "$id" | awk '/Absolute upper-left X/{print "x="$4} /Absolute upper-left Y/{print "y="$4} /Width:/{print "w="$2} /Height:/{print "h="$2}')"
  read -r l r t b < <(xprop -id "$id" _NET_FRAME_EXTENTS | sed -n 's/.*= //p' | tr -d ,)
  echo $((x - ${l:-0})) $((y - ${t:-0})) $((w + ${l:-0} + ${r:-0})) $((h + ${t:-0} + ${b:-0}))
}

# With SHOTS_DARK set and qt6ct at hand: the program in qt6ct's dark palette, the shots'
# tag marked "-dark".
use_dark_palette_if_asked() {
  [ -n "${SHOTS_DARK:-}" ] && [ -f /usr/share/qt6ct/colors/darker.conf ] || return 0
  mkdir -p "$HOME/.config/qt6ct"
  printf '[Appearance]\ncolor_scheme_path=/usr/share/qt6ct/colors/darker.conf\ncustom_palette=true\nstyle=Fusion\n' \
    >"$HOME/.config/qt6ct/qt6ct.conf"
  export QT_QPA_PLATFORMTHEME=qt6ct
  tag=$tag-dark
}
