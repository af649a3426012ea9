#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A new user with no mail account: the wizard, filled in from the keyboard, gets
# "Other" and an ntfy-TOPIC@127.0.0.1 address; the profile names the ntfy server
# on loopback. The window then says where notices go, a test message arrives at
# the ntfy server and the status line says so, and a due meeting reminder arrives
# there once with its exact text. An SMTP server runs all along (the profile's
# [Send] points at it) and receives nothing.
# Debian packages no ntfy server: lib/ntfy_server.py answers publishes as ntfy's
# endpoint does and keeps each request it got.
# Usage: push_test.sh <path-to-ringpost>

# shellcheck source=lib/e2e.sh disable=SC2016,SC2034
source "$(dirname "$0")/lib/e2e.sh"
e2e_init "${1:-}"
e2e_start_x
e2e_start_tray
e2e_start_smtp

e2e_start_post_recorder
NTFY_OUT=$E2E_RECORDER_OUT
NTFY_PORT=$E2E_RECORDER_PORT

TOPIC=ringpost_e2e_7q
ADDRESS="ntfy-$TOPIC@127.0.0.1"

# A meeting whose reminder is due now, and the profile with [Push] added.
e2e_write_due_meeting "Room 12" "Budget review"
printf '\n[Push]\nServer=http://127.0.0.1:%s\n' "$NTFY_PORT" >>"$E2E_CONFIG/MailStore.ini"

# The bodies of the publishes received, one a line, oldest first.
ntfy_bodies() {
  /usr/bin/python3 - "$NTFY_OUT" <<'EOF'
import glob, json, sys
for name in sorted(glob.glob(sys.argv[1] + "/*.json")):
    record = json.load(open(name, encoding="utf-8"))
    print(record["method"], record["path"], record["body"].replace("\n", "\\n"))
EOF
}
ntfy_count() { ntfy_bodies | grep -cxF -- "POST /$TOPIC $1"; }

e2e_start_program ringpost debug

# ---- First run: the wizard from the keyboard, "Other" and the push address -------------
e2e_first_run_with_address "$ADDRESS"

e2e_group
grep -qF "\"CustomEmail\"=\"$ADDRESS\"" "$E2E_SETTINGS" ||
  e2e_fail "the settings file does not hold the push address: $(grep CustomEmail "$E2E_SETTINGS")"
e2e_wait 10 "the line saying where notices go" \
  e2e_program_said "Notices will be sent to ntfy topic $TOPIC on 127.0.0.1:$NTFY_PORT." ||
  e2e_fail "after the wizard the window did not say where notices go"
e2e_group_ok "the wizard took the push address and the window says where notices go"

e2e_wait_window Ringpost NORMAL 10 || e2e_abort "no main window after the wizard"
MAIN=$E2E_WINDOW
e2e_point_at_test_button "$MAIN"

# ---- A test message goes to the topic, and the status line says so ---------------------
e2e_group
e2e_click_test_button 'ntfy_count "$E2E_TEST_TEXT"'
e2e_wait 10 "the status after the test message" \
  e2e_program_said "Ringpost Test message sent to ntfy topic $TOPIC on 127.0.0.1:$NTFY_PORT." ||
  e2e_fail "the status line did not say where the test message went"
e2e_group_ok "the test message reached topic $TOPIC and the status line says so"

# ---- The due reminder arrives once, with its exact text ---------------------------------
e2e_group
e2e_run_notice_pass 'ntfy_count "$E2E_TEST_TEXT"'
e2e_wait 60 "the meeting reminder at the ntfy server" eval '[ "$(ntfy_count "$DUE_KEY")" -ge 1 ]' ||
  e2e_fail "the reminder \"$DUE_KEY\" did not arrive: $(ntfy_bodies)"
# One more pass: the reminder is not published again.
e2e_click_test_button 'ntfy_count "$E2E_TEST_TEXT"'
[ "$(ntfy_count "$DUE_KEY")" = 1 ] || e2e_fail "the reminder arrived $(ntfy_count "$DUE_KEY") times"
[ "$(e2e_mail_count)" = 0 ] || e2e_fail "$(e2e_mail_count) message(s) went to the SMTP server"
e2e_group_ok "the reminder \"$DUE_KEY\" arrived once at topic $TOPIC; nothing went to SMTP"

e2e_group
e2e_exit_program "$MAIN" 15 || e2e_abort "the program did not end through the close query"
[ "$E2E_EXIT_STATUS" = 0 ] || e2e_fail "the program ended with status $E2E_EXIT_STATUS"
e2e_group_ok "Exit Program and Yes ended the program"

e2e_finish
