#!/usr/bin/env bash
# Two copies of the real program in one data folder: the second says that Ringpost
# is already running there, starts no engine and ends when its box is closed. A
# first copy killed outright leaves no stale lock: the next start runs its engine.
# Usage: second_copy_test.sh <ringpost binary>

# shellcheck source=lib/e2e.sh disable=SC2016,SC2034
source "$(dirname "$0")/lib/e2e.sh"
e2e_init "${1:-}"
e2e_start_x
e2e_write_configured_settings
export QT_QPA_PLATFORM=xcb

# xdotool's --pid also lists the other copy's windows; ask each window for its pid.
window_of() {
  local window
  for window in $(xdotool search --onlyvisible --name '^Ringpost$' 2>/dev/null); do
    if [ "$(xdotool getwindowpid "$window" 2>/dev/null)" = "$1" ]; then
      echo "$window"
      return 0
    fi
  done
  return 1
}

lock_holder() { head -n 1 "$E2E_DATA/Ringpost.lock" 2>/dev/null; }

# The first copy: its engine's first cycle writes the state files.
e2e_start_program ringpost-copy1
first=$E2E_APP_PID
e2e_wait 30 "the first copy's engine" test -e "$E2E_DATA/NOTIFY.CLD" ||
  e2e_abort "the first copy's engine did not start"
[ "$(lock_holder)" = "$first" ] || e2e_abort "the lock file does not name the first copy"

# The second copy, with "debug": an engine of its own would write DEBUG.LOG at once.
e2e_group
e2e_start_program ringpost-copy2 debug
second=$E2E_APP_PID
e2e_wait 30 "the second copy to say that Ringpost is already running" \
  grep -qF "Ringpost is already running in $E2E_DATA." "$E2E_WORK/ringpost-copy2.out" ||
  e2e_abort "the second copy did not say that Ringpost is already running in $E2E_DATA"
e2e_wait 30 "the second copy's box" window_of "$second" >/dev/null ||
  e2e_abort "the second copy showed no box"
sleep 2
[ ! -e "$E2E_DATA/DEBUG.LOG" ] || e2e_fail "the second copy started an engine (DEBUG.LOG was written)"
kill -0 "$first" 2>/dev/null || e2e_fail "the first copy ended"
[ "$(lock_holder)" = "$first" ] || e2e_fail "the second copy took over the lock file"

e2e_focus "$(window_of "$second")"
xdotool key Return
e2e_wait 10 "the second copy to end after its box" eval '! kill -0 "$second" 2>/dev/null' ||
  e2e_abort "the second copy did not end after its box"
wait "$second"
status=$?
[ "$status" -eq 1 ] || e2e_fail "the second copy ended with status $status, not 1"
e2e_group_ok "the second copy refused to start and ended"

# A crash of the first copy releases the folder at once.
e2e_group
kill -KILL "$first"
wait "$first" 2>/dev/null
e2e_start_program ringpost-copy3 debug
third=$E2E_APP_PID
e2e_wait 30 "the new copy's engine" e2e_debug_has "Start Loop" ||
  e2e_abort "after the first copy was killed, a new copy did not start its engine"
e2e_group_ok "after a crash of the holder the next copy starts its engine"
e2e_group
kill -TERM "$third"
e2e_wait 10 "the third copy to end on SIGTERM" eval '! e2e_program_alive' ||
  e2e_fail "the third copy did not end on SIGTERM"
e2e_group_ok "one engine per data folder"
e2e_finish
