#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# First run of the real program, as a new user meets it: no settings file, the
# welcome box, the wizard filled in from the keyboard, Done; the settings file
# then holds what was typed and the main window stays up. A test message from the
# Settings menu reaches a real SMTP server on loopback, addressed by the carrier
# rule; Quit > Exit Program and Yes end the program and take the tray icon away.
# Usage: first_run_test.sh <path-to-ringpost>
# E2E_SHOTS=<folder> also saves pictures there: the number page as typed in
# (wizard-first-run.png) and the main window after the first run (main-window.png).

# shellcheck source=lib/e2e.sh disable=SC2016,SC2034
source "$(dirname "$0")/lib/e2e.sh"
e2e_init "${1:-}"
e2e_start_x
e2e_start_tray
e2e_start_smtp
e2e_write_store </dev/null

WIZARD_TITLE="Ringpost Configuration Wizard"
PIN=5125550147
# Verizon Wireless is the sixth carrier: index 5, gateway vtext.com.
ADDRESS="$PIN@vtext.com"

e2e_start_program ringpost debug

# ---- Welcome box, before the main window ---------------------------------------
e2e_group
e2e_wait_window Ringpost DIALOG 60 || e2e_abort "no welcome box on a first run"
welcome=$E2E_WINDOW
if e2e_find_window Ringpost NORMAL >/dev/null; then
  e2e_fail "the main window was shown before the welcome box was answered"
fi
[ -e "$E2E_SETTINGS" ] && e2e_fail "a settings file exists before the wizard has run"
e2e_focus "$welcome"
e2e_keys Return
e2e_wait 10 "the welcome box to close" e2e_window_gone "$welcome"
e2e_group_ok "welcome box shown first and answered"

# ---- The wizard, from the keyboard ----------------------------------------------
e2e_wait_window "$WIZARD_TITLE" DIALOG || e2e_abort "the wizard did not open after the welcome box"
wizard=$E2E_WINDOW
e2e_find_window Ringpost NORMAL >/dev/null || e2e_fail "the main window is not up behind the wizard"
e2e_focus "$wizard"
# Introduction: Next. Carrier: Alt+V picks "&Verizon Wireless" (Alt+N would be
# taken by "&Nextel" as much as by "&Next >"), Return is Next.
e2e_keys alt+n
e2e_keys alt+v Return
# Number page: the field has the focus with its text selected; then the two
# time pickers. The day window 00:01-23:59 holds every moment of this run.
e2e_type "$PIN"
e2e_keys Tab
e2e_type "12:01AM"
e2e_keys Tab
e2e_type "11:59PM"
if [ -n "${E2E_SHOTS:-}" ]; then
  e2e_screenshot "$wizard" "$E2E_SHOTS/wizard-first-run.png" && e2e_log "picture: $E2E_SHOTS/wizard-first-run.png"
fi
e2e_keys Return
# Meeting page: the focus is on Next; two Tabs reach the meeting box, three more
# the urgent e-mail box.
e2e_keys Tab Tab space Tab Tab Tab space Return
# Task page: the task reminder box and the past-due box (which selects "Daily").
e2e_keys Tab Tab space Tab Tab space Return
e2e_wait 10 "the wizard to close after Done" e2e_window_gone "$wizard" ||
  e2e_abort "the wizard stayed open after Done"
e2e_wait 10 "the settings file" test -s "$E2E_SETTINGS" || e2e_abort "Done saved no settings"

# ---- The settings file holds what was typed --------------------------------------
e2e_group
reg_value() { tr -d '\r' <"$E2E_SETTINGS" | sed -n "s/^\"$1\"=//p"; }
expect_value() {
  local actual
  actual=$(reg_value "$1")
  [ "$actual" = "$2" ] || e2e_fail "settings file: $1 is '$actual', expected '$2'"
}
# A time is the raw 8 bytes of its day fraction; prints it as HH:MM.
reg_time() {
  reg_value "$1" | /usr/bin/python3 -c '
import struct, sys
text = sys.stdin.read().strip()
if not text.startswith("hex:"):
    sys.exit("not a hex value: " + text)
day = struct.unpack("<d", bytes(int(b, 16) for b in text[4:].split(",")))[0]
minutes = round((day - int(day)) * 1440)
print("%02d:%02d" % (minutes // 60, minutes % 60))'
}
expect_value Version '"01.01.00.001"'
expect_value Pin "\"$PIN\""
expect_value Service dword:00000005
expect_value MeetingNotify dword:00000001
expect_value MorningNotify dword:00000000
expect_value EveningNotify dword:00000000
expect_value UrgentEmail dword:00000001
expect_value TaskNotify dword:00000001
expect_value TaskPreNotify dword:00000000
expect_value TaskReminder dword:00000001
expect_value TaskRemindPeriod dword:00000002
expect_value CustomEmail '""'
[ "$(reg_time EarlyTime)" = "00:01" ] || e2e_fail "settings file: EarlyTime is $(reg_time EarlyTime), typed 12:01AM"
[ "$(reg_time LateTime)" = "23:59" ] || e2e_fail "settings file: LateTime is $(reg_time LateTime), typed 11:59PM"
# It holds the phone number: readable by its owner alone.
mode=$(stat -c %a "$E2E_SETTINGS")
[ "$mode" = 600 ] || e2e_fail "the settings file has mode $mode, not 600"
e2e_group_ok "the settings file holds what was typed"

# ---- The main window stays visible ------------------------------------------------
e2e_wait_window Ringpost NORMAL 10 || e2e_abort "no main window after the wizard"
main=$E2E_WINDOW
sleep 1
e2e_group
e2e_window_gone "$main" && e2e_fail "the main window hid itself after the first run"
[ "$(e2e_tray_icon_count)" = 1 ] || e2e_fail "expected one Ringpost icon in the tray, found $(e2e_tray_icon_count)"
e2e_group_ok "the main window stays visible, the tray icon is there"
if [ -n "${E2E_SHOTS:-}" ]; then
  e2e_screenshot "$main" "$E2E_SHOTS/main-window.png" && e2e_log "picture: $E2E_SHOTS/main-window.png"
fi

# ---- A test message from the Settings menu -----------------------------------------
e2e_open_menu "$main" "${E2E_MENU_SETTINGS[@]}" || e2e_abort "the Settings menu did not open"
# "Send a Test Message" follows the seven notice toggles.
e2e_keys Down Down Down Down Down Down Down Down Return
e2e_wait 30 "the test message at the SMTP server" eval '[ "$(e2e_mail_count)" -ge 1 ]' ||
  e2e_abort "the test message did not reach the SMTP server"
mail=$(e2e_mail_with_subject "Ringpost Test message") ||
  e2e_fail "no message with the subject \"Ringpost Test message\""
if [ -n "${mail:-}" ]; then
  e2e_group
  grep -qx "Rcpt-To: $ADDRESS" "$mail" || e2e_fail "test message sent to $(sed -n 's/^Rcpt-To: //p' "$mail"), expected $ADDRESS"
  grep -qx "To: $ADDRESS" "$mail" || e2e_fail "test message header To: is not $ADDRESS"
  body=$(sed '1,/^$/d' "$mail")
  [ "$body" = "If you got this message Ringpost Notification is working." ] ||
    e2e_fail "test message body is '$body'"
  e2e_group_ok "test message reached the SMTP server, to $ADDRESS"
fi

# ---- Ctrl+Alt+S repeats the test message; a refused close stops it ----------------------
e2e_group
before=$(e2e_count_subject "Ringpost Test message")
e2e_focus "$main"
started=$(date +%s.%N)
xdotool key --clearmodifiers ctrl+alt+s
e2e_wait 30 "two repeated test messages" \
  eval '[ "$(e2e_count_subject "Ringpost Test message")" -ge $((before + 2)) ]' ||
  e2e_fail "Ctrl+Alt+S did not repeat the test message"
e2e_log "two repeated test messages $(printf '%.1f' "$(echo "$(date +%s.%N) - $started" | bc)")s after Ctrl+Alt+S (one every 5 s)"
# Exit answered No: the window hides to the tray, the engine runs on, and the
# repetition has stopped.
e2e_open_menu "$main" "${E2E_MENU_QUIT[@]}" || e2e_abort "the Quit menu did not open"
e2e_keys Up Return
e2e_wait_window Ringpost DIALOG 10 || e2e_abort "Exit Program did not ask to confirm"
e2e_focus "$E2E_WINDOW"
xdotool key alt+n
e2e_wait 10 "the window to hide after No" e2e_window_gone "$main" ||
  e2e_fail "the window stayed up after the close was refused"
e2e_program_alive || e2e_abort "the program ended although the close was refused"
stopped=$(e2e_count_subject "Ringpost Test message")
# Longer than the repetition's 5 s: nothing more may come.
sleep 6
[ "$(e2e_count_subject "Ringpost Test message")" = "$stopped" ] ||
  e2e_fail "test messages kept coming after the refused close"
e2e_group_ok "Ctrl+Alt+S repeats the test message; a refused close hides to the tray and stops it"

# Back from the tray for the real close.
read -r icon_x icon_y < <(e2e_window_origin "$(e2e_tray_icon)")
xdotool mousemove $((icon_x + 8)) $((icon_y + 8)) click 1
e2e_wait 10 "the window back from the tray" eval '! e2e_window_gone "$main"' ||
  e2e_abort "a click on the tray icon did not show the window"

# ---- Exit through the close query ----------------------------------------------------
e2e_group
e2e_exit_program "$main" || e2e_abort "the program did not end through the close query"
[ "$E2E_EXIT_STATUS" = 0 ] || e2e_fail "the program ended with status $E2E_EXIT_STATUS"
[ "$(e2e_tray_icon_count)" = 0 ] || e2e_fail "the tray icon is still there after the program ended"
e2e_debug_has '^Completed$' || e2e_fail "DEBUG.LOG has no \"Completed\": the engine did not shut down"
e2e_group_ok "Exit Program and Yes ended the program"

e2e_finish
