# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash disable=SC2016,SC2034
# The away test on a Wayland desktop, shared by the compositor tests. Needs e2e.sh
# with a compositor, its Xwayland, a tray on it and the SMTP server started, and a
# function of the test: user_input SECONDS (real input into the compositor, aimed
# at a native Wayland program, for that long, in the foreground).
#
# A configured program with a meeting whose reminder is due runs on Xwayland while
# the user types and moves the pointer in the native program: Xwayland's pointer
# stands still and it sees no key, yet nothing may go out. Once the session is
# still, the reminder arrives. As in the X11 journey, the engine is woken by the
# program's own test message.

AWAY_PIN=5125550147
AWAY_ADDRESS="$AWAY_PIN@vtext.com"

away_click_tray() { xdotool mousemove "$1" "$2" click 1; }

# A configured program starts hidden in the tray; a click on its icon shows it.
away_start_and_show() {
  local icon x y w h
  e2e_start_program ringpost debug
  e2e_wait 30 "the engine's first cycle" e2e_debug_has '^ProcessCheckes-End$' ||
    e2e_abort "the engine did not run its first cycle"
  if [ -z "${E2E_TRAYER_WINDOW:-}" ]; then
    # Without a notification area the window stays within reach, minimised at
    # most, and a compositor without minimising keeps it on the screen.
    e2e_wait_window Ringpost NORMAL 20 || e2e_abort "without a tray the window is out of reach"
    AWAY_MAIN=$E2E_WINDOW
    return
  fi
  e2e_wait 60 "the tray icon" eval '[ "$(e2e_tray_icon_count)" = 1 ]' || e2e_abort "no tray icon"
  icon=$(e2e_tray_icon)
  read -r x y < <(e2e_window_origin "$icon")
  read -r w h < <(e2e_window_size "$icon")
  away_click_tray $((x + w / 2)) $((y + h / 2))
  e2e_wait_window Ringpost NORMAL 20 || e2e_abort "a click on the tray icon did not show the window"
  AWAY_MAIN=$E2E_WINDOW
}

# A click on the test-message button wakes the engine; waits for the message and
# for the cycle after it.
away_wake() {
  local tests cycles x y
  tests=$(e2e_count_subject "Ringpost Test message")
  cycles=$(e2e_debug_count ProcessCheckes-End)
  read -r x y < <(e2e_window_origin "$AWAY_MAIN")
  xdotool mousemove $((x + E2E_BUTTON_TEST[0])) $((y + E2E_BUTTON_TEST[1])) click 1
  e2e_wait 30 "a test message after a click on the toolbar button" \
    eval '[ "$(e2e_count_subject "Ringpost Test message")" -gt "$tests" ]' ||
    e2e_abort "the test-message button sent nothing"
  e2e_wait 20 "the cycle after the test message" \
    eval '[ "$(e2e_debug_count ProcessCheckes-End)" -gt "$cycles" ]'
}

# Usage: away_journey <the start of the program's notice about its input source>
away_journey() {
  local source=$1 due_key reminder
  e2e_write_meeting_settings "$AWAY_PIN"
  e2e_write_due_meeting "Room 12" "Design review"
  due_key=$DUE_KEY

  away_start_and_show
  e2e_group
  grep -q "^Ringpost: Wayland session: $source" "$E2E_WORK/ringpost.out" ||
    e2e_fail "the program did not say it reads \"$source\": $(grep '^Ringpost:' "$E2E_WORK/ringpost.out")"
  e2e_group_ok "$(grep -m 1 '^Ringpost: Wayland' "$E2E_WORK/ringpost.out")"

  # ---- Typing and pointer motion in the native program keep the reminder back ----
  # Each wait of the engine holds a burst of input; the wake comes after it.
  e2e_group
  for _ in 1 2 3; do
    user_input 3 || e2e_abort "the compositor took no input"
    away_wake
  done
  [ "$(e2e_count_subject "$due_key")" = 0 ] ||
    e2e_fail "the reminder went out while the user typed and moved the pointer"
  e2e_debug_has '^HandleNotify$' && e2e_fail "a notice pass ran while the user was at work"
  e2e_group_ok "typing and pointer motion in a native Wayland program keep the reminder back"

  # ---- A still session lets it out ----
  e2e_group
  # A loaded machine can hold the compositor's idle signal back a while: more
  # wakes cost nothing once a pass has run.
  sleep 2
  for _ in 1 2 3 4 5 6 7 8; do
    e2e_debug_has '^HandleNotify$' && break
    away_wake
    sleep 1.5
  done
  e2e_debug_has '^HandleNotify$' || e2e_abort "no notice pass ran with the session still"
  e2e_wait 60 "the meeting reminder at the SMTP server" eval '[ "$(e2e_count_subject "$due_key")" -ge 1 ]'
  e2e_wait 10 "the pass to end" e2e_debug_has '^HandleNotify - Exit$'
  [ "$(e2e_count_subject "$due_key")" = 1 ] || e2e_fail "the reminder went out $(e2e_count_subject "$due_key") times"
  reminder=$(e2e_mail_with_subject "$due_key")
  if [ -n "$reminder" ]; then
    grep -qx "Rcpt-To: $AWAY_ADDRESS" "$reminder" || e2e_fail "the reminder went to the wrong address"
  fi
  e2e_group_ok "with the session still the reminder \"$due_key\" arrived once"
}
