#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real program pointed at displays it cannot use: no X server there at all,
# and an X server that has stopped answering. Each time it says in one line
# which display it could not open and what to do, and ends with status 1, the
# status of a start without any display; Qt's abort (status 134) never comes.
# The offscreen platform does not need the display and still starts.
# Usage: bad_display_test.sh <ringpost binary>

# shellcheck source=lib/e2e.sh disable=SC2016,SC2034
source "$(dirname "$0")/lib/e2e.sh"
e2e_init "${1:-}"
e2e_write_configured_settings
unset QT_QPA_PLATFORM

# A display number with no server behind it.
free_display() {
  local number
  for number in $(seq 4900 4999); do
    [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ] || { echo ":$number"; return 0; }
  done
  return 1
}

# Runs the program to its end (at most $1 seconds) with the rest as `env` words;
# leaves its status in $status and its output in $E2E_WORK/$2.out.
run_to_end() {
  local limit=$1 name=$2
  shift 2
  (cd "$E2E_DATA" && exec timeout -s KILL "$((limit * E2E_SCALE))" \
    env LANG="$E2E_LANG" LC_ALL="$E2E_LANG" "$@" "$E2E_PROGRAM") >"$E2E_WORK/$name.out" 2>&1
  status=$?
  e2e_log "$name: status $status: $(head -c 400 "$E2E_WORK/$name.out" | tr '\n' '|')"
}

# The one line for display $2 in the output of run $1.
says_display_problem() {
  local out="$E2E_WORK/$1.out"
  [ "$(grep -c . "$out")" -eq 1 ] || { e2e_fail "$1 said more than one line"; return; }
  grep -qF "the X display \"$2\"" "$out" || e2e_fail "$1 did not name the display $2"
  grep -qF "DISPLAY" "$out" || e2e_fail "$1 did not say what to do"
  grep -q "Reinstalling" "$out" && e2e_fail "$1 let Qt abort"
  return 0
}

e2e_group
run_to_end 30 no-display env -u DISPLAY -u WAYLAND_DISPLAY
no_display_status=$status
[ "$no_display_status" -eq 1 ] || e2e_fail "without a display the status was $no_display_status, not 1"
e2e_group_ok "no display: status 1"

e2e_group
dead=$(free_display) || e2e_abort "no free display number"
run_to_end 30 dead-display env -u WAYLAND_DISPLAY DISPLAY="$dead"
[ "$status" -eq "$no_display_status" ] || e2e_fail "on $dead the status was $status, not $no_display_status"
says_display_problem dead-display "$dead"
grep -qF "no X server answers" "$E2E_WORK/dead-display.out" ||
  e2e_fail "the line does not say why the display could not be opened"
e2e_group_ok "a display with no server: one line, status $status"

# A server that has stopped: it accepts the connection but never answers.
e2e_group
e2e_start_x
stopped=$DISPLAY
xvfb=${E2E_PIDS[-1]}
kill -STOP "$xvfb"
began=$(date +%s)
run_to_end 60 stopped-display env -u WAYLAND_DISPLAY DISPLAY="$stopped"
kill -CONT "$xvfb"
e2e_log "the stopped display took $(($(date +%s) - began))s"
[ "$status" -eq "$no_display_status" ] || e2e_fail "on a stopped $stopped the status was $status"
says_display_problem stopped-display "$stopped"
grep -qF "does not answer" "$E2E_WORK/stopped-display.out" ||
  e2e_fail "the line does not say the server does not answer"
e2e_group_ok "a display that does not answer: one line, status $status, no hang"

# The offscreen platform needs no display: a dead DISPLAY does not stop it.
e2e_group
(cd "$E2E_DATA" && exec env LANG="$E2E_LANG" LC_ALL="$E2E_LANG" QT_QPA_PLATFORM=offscreen \
  DISPLAY="$dead" "$E2E_PROGRAM") >"$E2E_WORK/offscreen.out" 2>&1 &
E2E_APP_PID=$!
e2e_background "$E2E_APP_PID"
e2e_wait 30 "the offscreen copy's engine" test -e "$E2E_DATA/NOTIFY.CLD" ||
  e2e_fail "with QT_QPA_PLATFORM=offscreen and a dead DISPLAY the program did not start"
grep -qF "cannot open the X display" "$E2E_WORK/offscreen.out" &&
  e2e_fail "the offscreen start complained about the X display"
kill -TERM "$E2E_APP_PID"
e2e_wait 10 "the offscreen copy to end" eval '! e2e_program_alive' || e2e_fail "it did not end on SIGTERM"
e2e_group_ok "the offscreen platform starts whatever DISPLAY says"
e2e_finish
