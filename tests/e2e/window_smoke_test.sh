#!/usr/bin/env bash
# The real program on a virtual display: it starts from a configured settings file,
# shows its main window, and ends cleanly through Exit and "Do you really want to
# stop Ringpost?" answered Yes.
# Usage: window_smoke_test.sh <ringpost binary> [screenshot.png]
set -euo pipefail

binary="$(readlink -f "$1")"
screenshot="${2:+$(realpath -m "$2")}"

for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "FAIL: $tool is needed (scripts/setup installs it)" >&2
    exit 1
  fi
done

work="$(mktemp -d)"
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -f "$work/ringpost.log" ]; then
    echo "--- program output ---" >&2
    cat "$work/ringpost.log" >&2
  fi
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

# A private home with a settings file as a finished wizard leaves it, so the program
# starts without the welcome box.
make_home() {
  export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
  export XDG_RUNTIME_DIR="$work/run"
  mkdir -p "$HOME" "$XDG_CONFIG_HOME/Amberfold" "$XDG_DATA_HOME/Amberfold/Ringpost" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
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

main_window() {
  { xdotool search --pid "$app_pid" --name '^Ringpost$' 2>/dev/null || true; } | head -n 1
}

start_display
make_home
cd "$XDG_DATA_HOME/Amberfold/Ringpost"
QT_QPA_PLATFORM=xcb "$binary" >"$work/ringpost.log" 2>&1 &
app_pid=$!

for _ in $(seq 150); do
  window="$(main_window)"
  [ -n "$window" ] && break
  kill -0 "$app_pid" 2>/dev/null || fail "the program ended before showing its window"
  sleep 0.1
done
[ -n "${window:-}" ] || fail "the main window did not appear"
geometry="$(xdotool getwindowgeometry "$window")"
echo "main window $window: $geometry"
grep -q "Geometry: [0-9]*x[0-9]*" <<<"$geometry" || fail "no geometry for the main window"
sleep 1 # let the first paint and the engine's first status text land

if [ -n "$screenshot" ]; then
  command -v import >/dev/null 2>&1 || fail "import (imagemagick) is needed for the screenshot"
  import -window "$window" "$screenshot" || fail "the screenshot could not be written to $screenshot"
  echo "screenshot: $screenshot"
fi

# Exit Program through the menu bar from the keyboard: Alt, to the Quit menu, its
# last item.
xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
sleep 0.3
xdotool key --delay 150 alt Right Right Down Up Return
# The close query is a box of its own; Return takes its default button, Yes.
for _ in $(seq 50); do
  boxes="$(xdotool search --pid "$app_pid" --onlyvisible --name '^Ringpost$' 2>/dev/null | grep -v "^$window\$" || true)"
  [ -n "$boxes" ] && break
  sleep 0.1
done
[ -n "${boxes:-}" ] || fail "Exit did not ask \"Do you really want to stop Ringpost?\""
box="$(head -n 1 <<<"$boxes")"
xdotool windowfocus "$box" 2>/dev/null || true
sleep 0.3
xdotool key Return

for _ in $(seq 100); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$app_pid" 2>/dev/null; then
  fail "the program did not end within 10 seconds of the close"
fi
status=0
wait "$app_pid" || status=$?
app_pid=""
[ "$status" -eq 0 ] || fail "the program ended with status $status"
echo "PASS: started, showed its window and ended cleanly through the close query"
