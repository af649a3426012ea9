#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real program under X11 window managers (openbox, and xfwm4 and mutter where
# they are installed): the title bar's minimise hides the window to the tray, and
# the tray icon brings it back whole, painted, not as an empty frame; the menus
# open by their mnemonics (Alt+Q, H hides it too); Exit ends it.
# Usage: window_manager_test.sh <path-to-ringpost>

# shellcheck source=lib/e2e.sh disable=SC2016,SC2034
source "$(dirname "$0")/lib/e2e.sh"
e2e_init "${1:-}"
e2e_require openbox

# The mean brightness of a window's picture, 0 (black) to 1 (white).
window_brightness() {
  import -window "$1" "$E2E_WORK/shot.png" 2>/dev/null &&
    convert "$E2E_WORK/shot.png" -colorspace Gray -format '%[fx:mean]' info: 2>/dev/null
}

painted() { [ "$(echo "$(window_brightness "$1") > 0.3" | bc)" = 1 ]; }

# The icon's place on the screen, once the tray has put it there.
tray_icon_placed() {
  read -r icon_x icon_y < <(e2e_window_origin "$(e2e_tray_icon)") &&
    [ "$icon_x" -ge 0 ] && [ "$icon_y" -ge 0 ]
}

click_tray_icon() {
  local icon_x icon_y
  e2e_wait 10 "the tray icon in its place" tray_icon_placed || return 1
  tray_icon_placed || return 1
  xdotool mousemove $((icon_x + 8)) $((icon_y + 8)) click 1
}

shown_from_tray() {
  click_tray_icon || return 1
  e2e_wait 10 "the window back from the tray" eval '! e2e_window_gone "$main"' || return 1
  e2e_wait 10 "the window to be painted" painted "$main"
}

one_window_manager() {
  local wm=$1 saved
  shift
  e2e_log "---- $wm ----"
  "$wm" "$@" >"$E2E_WORK/$wm.out" 2>&1 &
  local wm_pid=$!
  e2e_background $wm_pid
  sleep 1
  e2e_start_tray
  e2e_write_configured_settings
  e2e_start_program "ringpost-$wm"

  e2e_group
  # A configured program starts hidden in the tray.
  e2e_wait 30 "the tray icon" eval '[ "$(e2e_tray_icon_count)" = 1 ]' || e2e_abort "$wm: no tray icon"
  main=$(xdotool search --all --pid "$E2E_APP_PID" --name '^Ringpost$' | head -n 1)
  shown_from_tray || e2e_abort "$wm: the tray icon did not bring the window back"
  main=$(e2e_find_window Ringpost NORMAL) || e2e_abort "$wm: no main window"
  e2e_group_ok "$wm: started in the tray, a click brings the window back"

  e2e_group
  saved=$(stat -c %Y.%N "$E2E_SETTINGS" 2>/dev/null)
  sleep 1.1 # a later save has a later time stamp
  xdotool windowminimize "$main"
  e2e_wait 10 "the window to leave the screen after minimise" e2e_window_gone "$main" ||
    e2e_fail "$wm: minimise left the window on the screen"
  e2e_program_alive || e2e_abort "$wm: the program ended on minimise"
  [ "$(e2e_tray_icon_count)" = 1 ] || e2e_fail "$wm: the tray icon went away on minimise"
  e2e_wait 10 "the settings saved by the hide" eval '[ "$(stat -c %Y.%N "$E2E_SETTINGS")" != "$saved" ]' ||
    e2e_fail "$wm: minimise did not save the settings"
  # No frame, black or not, stays behind; only the tray icon's own window is mapped.
  local icon left=""
  icon=$(e2e_tray_icon)
  for id in $(e2e_visible_windows); do
    [ -n "$icon" ] && [ "$((id))" = "$((icon))" ] && continue
    left="$left $id"
  done
  [ -z "$left" ] || e2e_fail "$wm: a window of the program is still mapped:$left"
  shown_from_tray || e2e_fail "$wm: the window did not come back painted after minimise"
  e2e_group_ok "$wm: minimise hides to the tray; the tray brings the window back painted"

  e2e_group
  e2e_focus "$main"
  e2e_keys alt+q h
  e2e_wait 10 "Alt+Q, H to hide the window" e2e_window_gone "$main" ||
    e2e_fail "$wm: Quit > Hide Program by its mnemonics did not hide the window"
  shown_from_tray || e2e_fail "$wm: the window did not come back after Hide Program"
  e2e_group_ok "$wm: Alt+Q, H hides the program by the keyboard"

  e2e_exit_program "$main" || e2e_abort "$wm: the program did not end through the close query"
  kill "$E2E_TRAYER_PID" "$wm_pid" 2>/dev/null
  wait "$E2E_TRAYER_PID" "$wm_pid" 2>/dev/null
}

e2e_start_x
one_window_manager openbox
for wm in xfwm4 mutter; do
  if ! command -v $wm >/dev/null; then
    e2e_log "$wm is not installed: not tried"
  elif [ $wm = mutter ]; then
    one_window_manager mutter --x11 --replace --sm-disable
  else
    one_window_manager $wm
  fi
done
e2e_finish
