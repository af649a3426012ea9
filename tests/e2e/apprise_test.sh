#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A new user whose phone runs Gotify: the wizard, from the keyboard alone, gets
# "Other" and a gotify://127.0.0.1:PORT/TOKEN address, whose Next the "@" rule
# alone would keep off. The window says where notices go, a test message and a
# due meeting reminder each reach the Gotify endpoint once with their exact text,
# through Debian's real apprise. The token never shows in DEBUG.LOG or the status
# texts, and nothing goes to the SMTP server the profile names.
# Debian packages no Gotify server: lib/ntfy_server.py takes apprise's posts and
# keeps each request it got.
# Usage: apprise_test.sh <path-to-ringpost>

# shellcheck source=lib/e2e.sh disable=SC2016,SC2034
source "$(dirname "$0")/lib/e2e.sh"
e2e_init "${1:-}"
e2e_require apprise
e2e_start_x
e2e_start_tray
e2e_start_smtp
e2e_start_post_recorder

TOKEN=AGotifyAppToken7q
ADDRESS="gotify://127.0.0.1:$E2E_RECORDER_PORT/$TOKEN"

e2e_write_due_meeting "Room 12" "Budget review"

# The messages Gotify got with the right token, one a line, oldest first.
gotify_messages() {
  /usr/bin/python3 - "$E2E_RECORDER_OUT" "$TOKEN" <<'EOF'
import glob, json, sys
for name in sorted(glob.glob(sys.argv[1] + "/*.json")):
    record = json.load(open(name, encoding="utf-8"))
    if record["path"] == "/message" and record["headers"].get("X-Gotify-Key") == sys.argv[2]:
        print(json.loads(record["body"])["message"].replace("\n", "\\n"))
EOF
}
gotify_count() { gotify_messages | grep -cxF -- "$1"; }

e2e_start_program ringpost debug

# ---- First run: the wizard by keyboard, "Other" and the Gotify address ----------------
e2e_first_run_with_address "$ADDRESS"

e2e_group
grep -qF "\"CustomEmail\"=\"$ADDRESS\"" "$E2E_SETTINGS" ||
  e2e_fail "the settings file does not hold the address: $(grep -c CustomEmail "$E2E_SETTINGS")"
e2e_wait 10 "the line saying where notices go" \
  e2e_program_said "Notices will be sent through Apprise to Gotify at 127.0.0.1." ||
  e2e_fail "after the wizard the window did not say where notices go"
e2e_group_ok "the wizard took the Gotify address and the window says where notices go"

e2e_wait_window Ringpost NORMAL 10 || e2e_abort "no main window after the wizard"
MAIN=$E2E_WINDOW
e2e_point_at_test_button "$MAIN"

# ---- The test message, then the due reminder, each once -------------------------------
e2e_group
e2e_click_test_button 'gotify_count "$E2E_TEST_TEXT"'
e2e_wait 10 "the status after the test message" \
  e2e_program_said "Ringpost Test message sent through Apprise to Gotify at 127.0.0.1." ||
  e2e_fail "the status line did not say where the test message went"
e2e_group_ok "the test message reached Gotify and the status line says so"

e2e_group
e2e_run_notice_pass 'gotify_count "$E2E_TEST_TEXT"'
e2e_wait 60 "the meeting reminder at Gotify" eval '[ "$(gotify_count "$DUE_KEY")" -ge 1 ]' ||
  e2e_fail "the reminder \"$DUE_KEY\" did not arrive: $(gotify_messages)"
e2e_click_test_button 'gotify_count "$E2E_TEST_TEXT"'
[ "$(gotify_count "$DUE_KEY")" = 1 ] || e2e_fail "the reminder arrived $(gotify_count "$DUE_KEY") times"
[ "$(gotify_count "$E2E_TEST_TEXT")" -ge 1 ] || e2e_fail "no test message with its exact text"
[ "$(e2e_mail_count)" = 0 ] || e2e_fail "$(e2e_mail_count) message(s) went to the SMTP server"
e2e_group_ok "the reminder \"$DUE_KEY\" arrived once at Gotify; nothing went to SMTP"

e2e_group
e2e_debug_has "^SendNewemail to gotify://127.0.0.1/...$" ||
  e2e_fail "DEBUG.LOG does not name the masked address"
if grep -qF "$TOKEN" "$E2E_DATA/DEBUG.LOG" "$E2E_WORK/ringpost.out"; then
  e2e_fail "the token shows in DEBUG.LOG or the program's output"
fi
e2e_group_ok "the token never shows in DEBUG.LOG or the status texts"

e2e_group
e2e_exit_program "$MAIN" 15 || e2e_abort "the program did not end through the close query"
[ "$E2E_EXIT_STATUS" = 0 ] || e2e_fail "the program ended with status $E2E_EXIT_STATUS"
e2e_group_ok "Exit Program and Yes ended the program"

e2e_finish
