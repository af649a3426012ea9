#!/usr/bin/env bash
# Two copies of the real program in one data folder: the second says that Ringpost
# is already running there, starts no engine and ends when its box is closed. A
# first copy killed outright leaves no stale lock: the next start runs its engine.
# Usage: second_copy_test.sh <ringpost binary>
set -euo pipefail

binary="$(readlink -f "$1")"

for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/setup installs it)" >&2
    exit 77
  fi
done

work="$(mktemp -d)"
xvfb_pid=""
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  for log in "$work"/copy*.log; do
    [ -f "$log" ] && { echo "--- $log ---"; cat "$log"; } >&2
  done
  exit 1
}

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_for() {
  local tries="$1"
  shift
  for _ in $(seq "$tries"); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  return 1
}

start_display() {
  local n
  for n in $(seq 91 190); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
      xvfb_pid=$!
      if wait_for 50 test -e "/tmp/.X11-unix/X$n"; then
        export DISPLAY=":$n"
        return 0
      fi
      kill "$xvfb_pid" 2>/dev/null || true
    fi
  done
  fail "no free display for Xvfb"
}

# A settings file as a finished wizard leaves it: no welcome box, no wizard.
make_home() {
  export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
  export XDG_RUNTIME_DIR="$work/run"
  mkdir -p "$HOME" "$XDG_CONFIG_HOME/Amberfold" "$XDG_DATA_HOME/Amberfold/Ringpost" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY SESSION_MANAGER
  export NO_AT_BRIDGE=1 QT_ACCESSIBILITY=0 QT_QPA_PLATFORM=xcb
  cat >"$XDG_CONFIG_HOME/Amberfold/Ringpost.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Amberfold\Ringpost]
"Version"="01.01.00.001"
"MeetingNotify"=dword:00000001
"MorningNotify"=dword:00000000
"EveningNotify"=dword:00000000
"TaskNotify"=dword:00000001
"TaskPreNotify"=dword:00000000
"TaskReminder"=dword:00000000
"UrgentEmail"=dword:00000001
"Top"=dword:00000028
"Left"=dword:0000003c
"TaskRemindPeriod"=dword:00000002
"Pin"="5551234567"
"EarlyTime"=hex:ab,aa,aa,aa,aa,aa,d2,3f
"LateTime"=hex:55,55,55,55,55,55,e9,3f
"Service"=dword:00000004
"CustomAddr"=""
"CustomEmail"=""
REG
}

# Starts a copy in the data folder; its pid in $started.
start_copy() {
  local name="$1"
  shift
  "$binary" "$@" >"$work/$name.log" 2>&1 &
  started=$!
  pids+=("$started")
}

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

start_display
make_home
data="$XDG_DATA_HOME/Amberfold/Ringpost"
cd "$data"

# The first copy: its engine's first cycle writes the state files.
start_copy copy1
first=$started
wait_for 300 test -e "$data/NOTIFY.CLD" || fail "the first copy's engine did not start"
[ "$(head -n 1 "$data/Ringpost.lock")" = "$first" ] || fail "the lock file does not name the first copy"

# The second copy, with "debug": an engine of its own would write DEBUG.LOG at once.
start_copy copy2 debug
second=$started
wait_for 300 grep -qF "Ringpost is already running in $data." "$work/copy2.log" ||
  fail "the second copy did not say that Ringpost is already running in $data"
wait_for 300 window_of "$second" || fail "the second copy showed no box"
sleep 2
[ ! -e "$data/DEBUG.LOG" ] || fail "the second copy started an engine (DEBUG.LOG was written)"
kill -0 "$first" 2>/dev/null || fail "the first copy ended"
[ "$(head -n 1 "$data/Ringpost.lock")" = "$first" ] || fail "the second copy took over the lock file"

box="$(window_of "$second")"
xdotool windowfocus "$box" 2>/dev/null || true
sleep 0.3
xdotool key Return
wait_for 100 bash -c "! kill -0 $second 2>/dev/null" || fail "the second copy did not end after its box"
status=0
wait "$second" || status=$?
[ "$status" -eq 1 ] || fail "the second copy ended with status $status, not 1"
echo "ok: the second copy refused to start and ended"

# A crash of the first copy releases the folder at once.
kill -KILL "$first"
wait "$first" 2>/dev/null || true
start_copy copy3 debug
third=$started
wait_for 300 grep -q "Start Loop" "$data/DEBUG.LOG" ||
  fail "after the first copy was killed, a new copy did not start its engine"
echo "ok: after a crash of the holder the next copy starts its engine"
kill -TERM "$third"
wait_for 100 bash -c "! kill -0 $third 2>/dev/null" || fail "the third copy did not end on SIGTERM"
echo "PASS: one engine per data folder"
