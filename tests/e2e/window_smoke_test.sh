#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real program on a virtual display: it starts from a configured settings file,
# shows its main window, and ends cleanly through Exit and "Do you really want to
# stop Ringpost?" answered Yes.
# Usage: window_smoke_test.sh <ringpost binary> [screenshot.png]

# shellcheck source=lib/e2e.sh disable=SC2016,SC2034
source "$(dirname "$0")/lib/e2e.sh"
screenshot="${2:+$(realpath -m "$2")}"
e2e_init "${1:-}"
e2e_start_x
e2e_write_configured_settings
export QT_QPA_PLATFORM=xcb

e2e_group
e2e_start_program ringpost

# Stops waiting as soon as the program has ended: no window will come then.
main_window_or_end() { e2e_find_window Ringpost NORMAL || ! e2e_program_alive; }
e2e_wait 30 "the main window" main_window_or_end >/dev/null
e2e_program_alive || e2e_abort "the program ended before showing its window"
main=$(e2e_find_window Ringpost NORMAL) || e2e_abort "the main window did not appear"
geometry="$(xdotool getwindowgeometry "$main")"
e2e_log "main window $main: $(tr '\n' ' ' <<<"$geometry")"
grep -q "Geometry: [0-9]*x[0-9]*" <<<"$geometry" || e2e_fail "no geometry for the main window"
sleep 1 # let the first paint and the engine's first status text land

if [ -n "$screenshot" ]; then
  e2e_screenshot "$main" "$screenshot" || e2e_fail "the screenshot could not be written to $screenshot"
  e2e_log "screenshot: $screenshot"
fi

# Exit Program through the menu bar from the keyboard: Alt, to the Quit menu, its
# last item.
e2e_focus "$main"
e2e_keys alt Right Right Down Up Return
# The close query is a box of its own; Return takes its default button, Yes.
e2e_wait_window Ringpost DIALOG 10 ||
  e2e_abort "Exit did not ask \"Do you really want to stop Ringpost?\""
e2e_focus "$E2E_WINDOW"
xdotool key Return

e2e_wait 10 "the program to end after the close" eval '! e2e_program_alive' ||
  e2e_abort "the program did not end within 10 seconds of the close"
wait "$E2E_APP_PID"
status=$?
[ "$status" -eq 0 ] || e2e_fail "the program ended with status $status"
e2e_group_ok "started, showed its window and ended cleanly through the close query"
e2e_finish
