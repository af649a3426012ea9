#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A configured program, a local store with a meeting whose reminder is due and a
# real SMTP server on loopback. While the mouse keeps moving no notice goes out;
# with the mouse still the meeting reminder arrives with its exact subject and
# NOTIFY.CLD marks it notified. Quit > Exit Program and Yes end the program within
# its bounds, with the state files saved and the tray icon gone; after a restart
# the reminder is not sent again.
# The engine's waits are long (6 minutes while the user is active), so each step
# wakes it with the program's own test message, from the toolbar button under a
# mouse that rests on it.
# Usage: reminder_test.sh <path-to-ringpost>

# shellcheck source=lib/e2e.sh disable=SC2016,SC2034
source "$(dirname "$0")/lib/e2e.sh"
e2e_init "${1:-}"
e2e_start_x
e2e_start_tray
e2e_start_smtp

PIN=5125550147
ADDRESS="$PIN@vtext.com"

e2e_write_meeting_settings "$PIN"

# The due meeting starts in 10 minutes with a 15-minute reminder; the other one
# starts in 3 hours and is tracked but not yet due. A key holds the first 30
# characters of the subject; this one has punctuation and a letter outside ASCII
# to carry through the calendar, NOTIFY.CLD and the mail header.
now=$(date +%s)
due_start=$((now + 600))
later_start=$((now + 3 * 3600))
e2e_write_store <<EOF
$due_start|15|Room 12|Café review: budget, finance & HR team
$later_start|15|Lab 3|Design review
EOF
DUE_KEY="$(e2e_long_time "$due_start")@loc:Room 12Café review: budget, finance &"
LATER_KEY="$(e2e_long_time "$later_start")@loc:Lab 3Design review"
e2e_log "zone $TZ; the due reminder's subject: $DUE_KEY"

# ---- Helpers -----------------------------------------------------------------------

# A configured program starts hidden in the tray; a click on its icon shows it.
start_and_show() {
  local name=$1 icon x y
  e2e_start_program "$name" debug
  e2e_wait 60 "the tray icon" eval '[ "$(e2e_tray_icon_count)" = 1 ]' || e2e_abort "no tray icon"
  e2e_wait 30 "the engine's first cycle" e2e_debug_has '^ProcessCheckes-End$' ||
    e2e_abort "the engine did not run its first cycle"
  if MAIN=$(e2e_find_window Ringpost NORMAL); then
    sleep 0.5
    e2e_window_gone "$MAIN" || e2e_fail "a configured program did not start hidden in the tray"
  fi
  icon=$(e2e_tray_icon)
  read -r x y < <(e2e_window_origin "$icon")
  read -r w h < <(e2e_window_size "$icon")
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
  e2e_wait_window Ringpost NORMAL 20 || e2e_abort "a click on the tray icon did not show the window"
  MAIN=$E2E_WINDOW
  read -r MAIN_LEFT MAIN_TOP < <(e2e_window_origin "$MAIN")
  TEST_X=$((MAIN_LEFT + E2E_BUTTON_TEST[0]))
  TEST_Y=$((MAIN_TOP + E2E_BUTTON_TEST[1]))
}

# Clicks the test-message button where the pointer is and waits for the message.
click_test_button() {
  local before
  before=$(e2e_count_subject "Ringpost Test message")
  xdotool click 1
  e2e_wait 30 "a test message after a click on the toolbar button" \
    eval '[ "$(e2e_count_subject "Ringpost Test message")" -gt "$before" ]' ||
    e2e_abort "the test-message button sent nothing"
}

# Moves the pointer over the test button without ever coming back to a place it
# has been (for some 20 s), so every wait of the engine sees it move.
start_mouse_mover() {
  (
    for dy in $(seq -10 10); do
      for dx in $(seq -14 14); do
        xdotool mousemove $((TEST_X + dx)) $((TEST_Y + dy))
        sleep 0.03
      done
    done
  ) &
  MOVER_PID=$!
  e2e_background $MOVER_PID
}

stop_mouse_mover() {
  kill "$MOVER_PID" 2>/dev/null
  wait "$MOVER_PID" 2>/dev/null
}

notify_flag() { e2e_notify_records | awk -v key="$1" 'substr($0, 3) == key { print $1 }'; }

# Sends test messages until DEBUG.LOG has a line matching $1 (three tries): each
# one wakes the engine for a cycle, and a cycle with the pointer still runs a
# notice pass.
nudge_until_log_has() {
  local cycles
  for _ in 1 2 3; do
    cycles=$(e2e_debug_count ProcessCheckes-End)
    click_test_button
    e2e_wait 20 "the cycle after the test message" \
      eval '[ "$(e2e_debug_count ProcessCheckes-End)" -gt "$cycles" ]' || return 0
    e2e_poll 3 e2e_debug_has "$1" && return 0
  done
  return 0
}

# ---- 3a. While the mouse keeps moving nothing is sent ----------------------------------
start_and_show ringpost
e2e_group
records=$(e2e_notify_records)
[ "$(notify_flag "$DUE_KEY")" = 0 ] || e2e_fail "NOTIFY.CLD does not track the due meeting as not yet notified: $records"
[ "$(notify_flag "$LATER_KEY")" = 0 ] || e2e_fail "NOTIFY.CLD does not track the later meeting: $records"
e2e_group_ok "the first cycle tracks both meetings in NOTIFY.CLD"

e2e_group
xdotool mousemove "$TEST_X" "$TEST_Y"
start_mouse_mover
# Two wakes, each after the pointer has moved: the second also proves that the
# cycle after the first one has passed its notice pass (or skipped it).
for _ in 1 2; do
  e2e_wait_pointer_moves
  e2e_wait_pointer_moves
  click_test_button
done
stop_mouse_mover
[ "$(e2e_count_subject "$DUE_KEY")" = 0 ] || e2e_fail "the reminder went out while the mouse was moving"
e2e_debug_has '^HandleNotify$' && e2e_fail "a notice pass ran while the mouse was moving"
e2e_group_ok "while the mouse moves only the requested test messages go out"

# ---- 3b. With the mouse still the reminder arrives -------------------------------------
e2e_group
xdotool mousemove "$TEST_X" "$TEST_Y"
sleep 0.3
# The first wake still compares with a place the moving pointer had; from the
# second on the pointer has not moved during the wait.
nudge_until_log_has '^HandleNotify$'
e2e_debug_has '^HandleNotify$' || e2e_abort "no notice pass ran with the mouse still"
pass_seen=$(date +%s.%N)
e2e_wait 120 "the meeting reminder at the SMTP server" eval '[ "$(e2e_count_subject "$DUE_KEY")" -ge 1 ]'
arrived=$(date +%s.%N)
e2e_log "the reminder arrived $(printf '%.2f' "$(echo "$arrived - $pass_seen" | bc)")s after the notice pass began (the idle wait of 30 000 input polls and the SMTP exchange)"
reminder=$(e2e_mail_with_subject "$DUE_KEY")
if [ -n "$reminder" ]; then
  grep -qx "Rcpt-To: $ADDRESS" "$reminder" || e2e_fail "the reminder went to $(sed -n 's/^Rcpt-To: //p' "$reminder"), expected $ADDRESS"
  [ -z "$(sed '1,/^$/d' "$reminder")" ] || e2e_fail "the reminder has a body: $(sed '1,/^$/d' "$reminder")"
fi
e2e_wait 10 "the pass to end" e2e_debug_has '^HandleNotify - Exit$'
[ "$(e2e_count_subject "$DUE_KEY")" = 1 ] || e2e_fail "the reminder went out $(e2e_count_subject "$DUE_KEY") times"
[ "$(e2e_count_subject "$LATER_KEY")" = 0 ] || e2e_fail "the meeting three hours ahead was reminded already"
e2e_wait 10 "NOTIFY.CLD to mark the reminder notified" eval '[ "$(notify_flag "$DUE_KEY")" = 1 ]' ||
  e2e_fail "NOTIFY.CLD: $(e2e_notify_records | tr '\n' ';')"
[ "$(notify_flag "$LATER_KEY")" = 0 ] || e2e_fail "NOTIFY.CLD marks the later meeting notified"
e2e_group_ok "with the mouse still the reminder \"$DUE_KEY\" arrived once, to $ADDRESS, and NOTIFY.CLD marks it notified"

# ---- 5. Close through the close query ----------------------------------------------------
close_and_check() {
  e2e_group
  # Taken away so that only the engine's shut-down can bring them back.
  rm -f "$E2E_DATA/TASK.CLD" "$E2E_DATA/NOTIFY.CLD" "$E2E_DATA/EMAIL.CLD"
  # The close waits at most 501 sleeps of 5 ms for the engine, then tears down.
  e2e_exit_program "$MAIN" 15 || e2e_abort "the program did not end through the close query"
  [ "$(echo "$E2E_CLOSE_SECONDS < 6" | bc)" = 1 ] ||
    e2e_fail "the close took ${E2E_CLOSE_SECONDS}s (the engine wait is 2.5 s at most)"
  [ "$E2E_EXIT_STATUS" = 0 ] || e2e_fail "the program ended with status $E2E_EXIT_STATUS"
  e2e_debug_has '^Shutting Down$' || e2e_fail "DEBUG.LOG has no \"Shutting Down\""
  e2e_debug_has '^Completed$' || e2e_fail "DEBUG.LOG has no \"Completed\": the engine did not finish"
  for file in TASK.CLD NOTIFY.CLD EMAIL.CLD; do
    [ -f "$E2E_DATA/$file" ] || e2e_fail "the close did not save $file"
  done
  [ "$(stat -c %s "$E2E_DATA/NOTIFY.CLD" 2>/dev/null)" = $((4 + 2 * 273)) ] ||
    e2e_fail "NOTIFY.CLD holds $(stat -c %s "$E2E_DATA/NOTIFY.CLD" 2>/dev/null) bytes, not the 2 meetings' $((4 + 2 * 273))"
  [ "$(notify_flag "$DUE_KEY")" = 1 ] || e2e_fail "after the close NOTIFY.CLD: $(e2e_notify_records | tr '\n' ';')"
  [ "$(e2e_tray_icon_count)" = 0 ] || e2e_fail "the tray icon is still there after the program ended"
  [ "$(xwininfo -root -tree | grep -c '"Ringpost"')" = 0 ] || e2e_fail "windows named Ringpost are left on the screen"
  e2e_group_ok "$1: ended ${E2E_CLOSE_SECONDS}s after Yes, state files saved, tray icon gone"
}
close_and_check "Exit Program and Yes"

# ---- 4. After a restart the reminder is not sent again --------------------------------
e2e_group
mv "$E2E_DATA/DEBUG.LOG" "$E2E_WORK/DEBUG-first.LOG"
tests_before=$(e2e_count_subject "Ringpost Test message")
start_and_show ringpost-restart
xdotool mousemove "$TEST_X" "$TEST_Y"
sleep 0.3
nudge_until_log_has '^HandleNotify - Exit$'
e2e_debug_has '^HandleNotify - Exit$' || e2e_abort "no notice pass ran after the restart"
[ "$(e2e_count_subject "$DUE_KEY")" = 1 ] || e2e_fail "after the restart the reminder went out again"
# Every send since the restart was a test message.
sends=$(e2e_debug_count "SendNewemail to $ADDRESS")
tests_since=$(($(e2e_count_subject "Ringpost Test message") - tests_before))
[ "$sends" = "$tests_since" ] || e2e_fail "after the restart $sends sends for $tests_since test messages"
[ "$(e2e_notify_records | grep -c "Room 12")" = 1 ] || e2e_fail "the due meeting is tracked twice: $(e2e_notify_records | tr '\n' ';')"
e2e_group_ok "after a restart the notice pass leaves the notified reminder alone"

close_and_check "the restarted program, Exit Program and Yes"

e2e_finish
