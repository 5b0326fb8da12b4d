#!/usr/bin/env bash
# The player stays within reach on X11: minimised right after start (the panel still has
# the keyboard) it goes to the tray; without a tray host it stays minimised, and the panel's
# "Show Player" (Alt+P) and a second start bring it back; a message box of the player's is
# not covered by the panel; the panel and message boxes offer openbox neither minimising nor maximising; a
# new playlist's name box gives the keyboard back to the panel.
# Every step waits, bounded.
# Usage: reach_check.sh path/to/vamplet
set -u
APP=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/desktop.sh"
for tool in $desktop_tools; do command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 0; }; done
patience=150

for tray in yes no; do
  work=$(mktemp -d)
  (
    trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
    fail() { echo "FAIL (tray: $tray): $*"; grep -v -i -E "alsa|jack|pw.conf" "$work/app.log" | tail -5; exit 1; }
    if [ $tray = no ]; then no_tray=1; fi
    start_desktop || fail "no desktop"
    cp "$APP" "$work/vamplet"
    # Without a tray, the program starts on a file it cannot play: its message box.
    printf 'no sound here\n%.0s' $(seq 100) >"$work/notes.wav"
    [ $tray = no ] && file="$work/notes.wav" || file=""
    "$work/vamplet" $file >"$work/app.log" 2>&1 &
    player=$(wait_window "^Vamplet - Version" $patience) || fail "the player window did not show"
    panel=$(wait_window "^Control Panel$" $patience) || fail "the control panel did not show"
    wait_for $patience is_on_screen "$player" || fail "the player is not managed"
    wait_for $patience is_on_screen "$panel" || fail "the panel is not managed"
    # openbox lists what its frame's buttons offer.
    xprop -id "$panel" _NET_WM_ALLOWED_ACTIONS | grep -q -E "MINIMIZE|MAXIMIZE" &&
      fail "openbox offers to minimise or maximise the panel"
    if [ -n "$file" ]; then
      box=$(wait_window "^Cannot Play" $patience) || fail "no message box for a file that cannot play"
      wait_for $patience is_above "$box" "$panel" || fail "the control panel covers the player's message box"
      xprop -id "$box" _NET_WM_ALLOWED_ACTIONS | grep -q -E "MINIMIZE|MAXIMIZE" &&
        fail "openbox offers to minimise or maximise a message box"
      xdotool windowactivate --sync "$box" key Return
      wait_for $patience sh -c "! xwininfo -id $box 2>/dev/null | grep -q IsViewable" || fail "the box did not close"
    fi
    if [ $tray = yes ]; then
      # The first minimise, as it comes: no activation of the player before it.
      xdotool windowminimize "$player"
      wait_for $patience is_withdrawn "$player" || fail "the first minimise left the player ($(wm_state "$player"))"
      exit 0
    fi
    xdotool windowactivate --sync "$player"
    xdotool windowminimize "$player"
    wait_for $patience is_minimised "$player" || fail "the player did not minimise ($(wm_state "$player"))"
    wait_for 20 is_withdrawn "$player" && fail "without a tray the minimised player was hidden"
    is_on_screen "$panel" || xdotool windowmap "$panel"
    wait_for $patience is_on_screen "$panel" || fail "the panel is gone ($(wm_state "$panel"))"
    xdotool windowactivate --sync "$panel"
    xdotool key alt+p
    wait_for $patience is_on_screen "$player" || fail "Show Player did not bring the player back ($(wm_state "$player"))"
    xdotool windowactivate --sync "$player"
    xdotool windowminimize "$player"
    wait_for $patience is_minimised "$player" || fail "the player did not minimise again"
    timeout 30 "$work/vamplet" >"$work/second.log" 2>&1 || fail "a second start did not hand over"
    wait_for $patience is_on_screen "$player" || fail "a second start did not bring the player back ($(wm_state "$player"))"
    # A new playlist named with Enter ("+", at its place in a fresh panel): the keyboard
    # stays with the panel, not the player.
    xdotool windowactivate --sync "$panel"
    xdotool mousemove --window "$panel" 390 105 click 1
    ask=$(wait_window "^New Play List$" $patience) || fail "no New Play List box"
    wait_for $patience is_active "$ask" || fail "the New Play List box has not the keyboard"
    xdotool type --delay 20 "Scales"
    xdotool key Return
    wait_for $patience is_active "$panel" || fail "after New Play List the keyboard is not the panel's but $(xdotool getactivewindow getwindowname 2>&1)"
  ) || exit 1
done
echo "reach check: first minimise to the tray; without a tray, Show Player and a second start bring the player back"
echo "1 passed, 0 failed"
