#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Two copies of the real program in one data folder. The first hides to the tray;
# starting the program again brings its window forward and the second start ends
# at once, quietly, with status 0. A holder that does not answer (here flock(1)
# holding the lock, as a stuck copy would) gets the old box "Ringpost is already
# running in <folder>." and status 1. A first copy killed outright leaves neither
# a stale lock nor a socket that blocks the next start.
# Usage: second_copy_test.sh <ringpost binary>

# shellcheck source=lib/e2e.sh disable=SC2016,SC2034
source "$(dirname "$0")/lib/e2e.sh"
e2e_init "${1:-}"
e2e_require flock stat
e2e_start_x
e2e_start_tray
e2e_write_configured_settings
export QT_QPA_PLATFORM=xcb
socket="$E2E_DATA/Ringpost.socket"

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

# The main window of copy $1 is mapped and viewable (not just existing, unmapped).
main_window_shown() {
  local window
  window=$(window_of "$1") || return 1
  xwininfo -id "$window" 2>/dev/null | grep -q 'Map State: IsViewable'
}

# The main window of copy $1 exists but is not mapped: hidden to the tray.
main_window_hidden() {
  local window
  for window in $(xdotool search --name '^Ringpost$' 2>/dev/null); do
    [ "$(xdotool getwindowpid "$window" 2>/dev/null)" = "$1" ] || continue
    [ "$(e2e_window_type "$window")" = NORMAL ] || continue
    xwininfo -id "$window" 2>/dev/null | grep -q 'Map State: IsUnMapped' && return 0
  done
  return 1
}

lock_holder() { head -n 1 "$E2E_DATA/Ringpost.lock" 2>/dev/null; }
gone() { ! kill -0 "$1" 2>/dev/null; }

# Starts a copy that must hide to the tray once its engine runs; leaves its pid in
# $copy.
start_hidden_copy() {
  e2e_start_program "$1" "${@:2}"
  copy=$E2E_APP_PID
  e2e_wait 30 "the socket of $1" test -S "$socket" ||
    e2e_abort "$1 opened no socket beside the lock file"
  e2e_wait 30 "$1's engine" test -e "$E2E_DATA/NOTIFY.CLD" || e2e_abort "$1's engine did not start"
  e2e_wait 20 "$1 to hide to the tray" eval 'main_window_hidden "$copy" && ! main_window_shown "$copy"' ||
    e2e_abort "$1 did not hide to the tray"
}

# Starts the program again and checks that it ends promptly with status 0 and
# says nothing; leaves the seconds it took in $again_seconds.
start_again() {
  local name=$1 began pid status
  began=$(date +%s.%N)
  e2e_start_program "$name" debug
  pid=$E2E_APP_PID
  e2e_wait 15 "$name to end" gone "$pid" || { e2e_fail "$name did not end"; return 1; }
  wait "$pid"
  status=$?
  again_seconds=$(printf '%.2f' "$(echo "$(date +%s.%N) - $began" | bc)")
  e2e_log "$name ended after ${again_seconds}s with status $status"
  [ "$status" -eq 0 ] || e2e_fail "$name ended with status $status, not 0"
  [ ! -s "$E2E_WORK/$name.out" ] || e2e_fail "$name said: $(head -c 300 "$E2E_WORK/$name.out")"
}

e2e_group
start_hidden_copy ringpost-copy1
first=$copy
[ "$(lock_holder)" = "$first" ] || e2e_abort "the lock file does not name the first copy"
mode=$(stat -c %a "$socket")
[ $((8#$mode & 8#077)) -eq 0 ] || e2e_fail "the socket is open to others (mode $mode)"
e2e_group_ok "the first copy hid to the tray and listens on a socket of its own"

# The second start, with "debug": an engine of its own would write DEBUG.LOG at once.
e2e_group
start_again ringpost-copy2
e2e_wait 10 "the first copy's window to come forward" main_window_shown "$first" ||
  e2e_fail "the first copy's window stayed hidden"
sleep 1
[ ! -e "$E2E_DATA/DEBUG.LOG" ] || e2e_fail "the second start ran an engine (DEBUG.LOG was written)"
kill -0 "$first" 2>/dev/null || e2e_fail "the first copy ended"
[ "$(lock_holder)" = "$first" ] || e2e_fail "the second start took over the lock file"
[ -S "$socket" ] || e2e_fail "the second start removed the first copy's socket"
e2e_group_ok "a second start brought the hidden window forward and ended quietly (${again_seconds}s)"

# Once more while the window is shown: it stays, and the start still ends at once.
e2e_group
start_again ringpost-copy2b
main_window_shown "$first" || e2e_fail "the window went away on a start while it was shown"
e2e_group_ok "a start while the window is shown changes nothing"

# A crash of the first copy leaves its socket file behind; a holder of the lock
# that does not answer on it (an older or stuck copy) gets the box.
e2e_group
kill -KILL "$first"
wait "$first" 2>/dev/null
[ -S "$socket" ] || e2e_log "note: the killed copy left no socket file"
flock -o "$E2E_DATA/Ringpost.lock" -c 'echo locked; exec sleep 300' >"$E2E_WORK/flock.out" 2>&1 &
holder=$!
e2e_background "$holder"
e2e_wait 10 "flock to hold the lock" grep -q locked "$E2E_WORK/flock.out" || e2e_abort "flock did not lock"
e2e_start_program ringpost-copy3 debug
third=$E2E_APP_PID
e2e_wait 30 "the box saying that Ringpost is already running" \
  grep -qF "Ringpost is already running in $E2E_DATA." "$E2E_WORK/ringpost-copy3.out" ||
  e2e_abort "a start beside a mute holder did not say that Ringpost is already running in $E2E_DATA"
e2e_wait 30 "the box" window_of "$third" >/dev/null || e2e_abort "no box was shown"
e2e_focus "$(window_of "$third")"
xdotool key Return
e2e_wait 10 "the refused start to end after its box" gone "$third" ||
  e2e_abort "the refused start did not end after its box"
wait "$third"
status=$?
[ "$status" -eq 1 ] || e2e_fail "the refused start ended with status $status, not 1"
[ ! -e "$E2E_DATA/DEBUG.LOG" ] || e2e_fail "the refused start ran an engine"
kill "$holder"
wait "$holder" 2>/dev/null
e2e_group_ok "a holder that does not answer: the box, status 1"

# The next start runs its engine over the dead copy's socket, and is reachable.
e2e_group
rm -f "$E2E_DATA/NOTIFY.CLD"
start_hidden_copy ringpost-copy4 debug
fourth=$copy
e2e_wait 30 "the new copy's engine" e2e_debug_has "Start Loop" ||
  e2e_fail "after the first copy was killed, a new copy did not start its engine"
start_again ringpost-copy5
e2e_wait 10 "the new copy's window to come forward" main_window_shown "$fourth" ||
  e2e_fail "the new copy's window stayed hidden"
e2e_group_ok "after a crash the next copy starts its engine and comes forward on a second start"

e2e_group
E2E_APP_PID=$fourth
kill -TERM "$fourth"
e2e_wait 10 "the copy to end on SIGTERM" eval '! e2e_program_alive' ||
  e2e_fail "the copy did not end on SIGTERM"
[ ! -e "$socket" ] || e2e_fail "a copy that ended cleanly left its socket behind"
e2e_group_ok "one engine per data folder"
e2e_finish
