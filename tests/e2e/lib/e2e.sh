# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash disable=SC2016,SC2034
# (Conditions for eval are single-quoted on purpose; the scripts use the settings.)
# Shared helpers for the end-to-end tests of the ringpost program.
# Source it from a *_test.sh script, then call e2e_init "$1" (the program's path).
#
# What a test gets:
#   $E2E_WORK           a temporary folder, removed at exit (kept with E2E_KEEP=1)
#   $HOME, $XDG_*       fresh folders inside it; the program's current directory
#                       is $E2E_DATA (the data folder, where its state files go)
#   Xvfb on a free display with trayer as the notification area
#   an SMTP server on a free loopback port that keeps what it receives in $E2E_MAIL
# Every wait polls with a time-out; a time-out fails the test with its reason.

set -uo pipefail

E2E_LIB=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_PIDS=()
E2E_FAILURES=0
E2E_STARTED=$(date +%s.%N)

# A loaded CI machine is slow to map windows and to start Qt; the waits are long
# but each ends as soon as its condition holds.
E2E_SCALE=${E2E_SCALE:-1}

e2e_log() { printf '[%6.1fs] %s\n' "$(e2e_elapsed)" "$*"; }
e2e_elapsed() { echo "$(date +%s.%N) - $E2E_STARTED" | bc; }

e2e_fail() {
  printf '[%6.1fs] FAIL: %s\n' "$(e2e_elapsed)" "$*" >&2
  E2E_FAILURES=$((E2E_FAILURES + 1))
}

e2e_pass() { e2e_log "ok: $*"; }

# A group of checks says "ok" only when it added no failure of its own.
e2e_group() { E2E_GROUP_START=$E2E_FAILURES; }
e2e_group_ok() { [ "$E2E_FAILURES" -eq "$E2E_GROUP_START" ] && e2e_pass "$@"; return 0; }

# Ends the test at once: later steps make no sense after this failure.
e2e_abort() {
  e2e_fail "$@"
  e2e_dump
  exit 1
}

# What a reader of a failed CI log needs: the program's own output, its debug
# log and what the SMTP server got.
e2e_dump() {
  [ "${E2E_DUMPED:-0}" = 1 ] && return
  E2E_DUMPED=1
  {
    echo "---- program output ($E2E_WORK/ringpost.out) ----"
    tail -n 60 "$E2E_WORK"/ringpost*.out 2>/dev/null
    echo "---- DEBUG.LOG ----"
    tail -n 60 "$E2E_DATA/DEBUG.LOG" 2>/dev/null | tr -d '\r'
    echo "---- messages received ----"
    for f in "$E2E_MAIL"/*.txt; do [ -e "$f" ] && { echo "== $f"; cat "$f"; echo; }; done
    # Kept with E2E_KEEP=1 for a look at what the screen showed.
    import -window root "$E2E_WORK/failure.png" 2>/dev/null && echo "---- screen: $E2E_WORK/failure.png"
    echo "---- windows ----"
    xwininfo -root -tree 2>/dev/null | grep -v '"Qt ' | head -40
  } >&2
}

e2e_finish() {
  if [ "$E2E_FAILURES" -gt 0 ]; then
    e2e_dump
    e2e_log "$E2E_FAILURES failure(s)"
    exit 1
  fi
  e2e_log "all checks passed"
  exit 0
}

e2e_cleanup() {
  local pid
  for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do
    pid=${E2E_PIDS[$i]}
    kill "$pid" 2>/dev/null
  done
  for pid in "${E2E_PIDS[@]}"; do
    # A process that ignores TERM gets a second, final signal.
    for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  if [ "${E2E_KEEP:-0}" = 1 ]; then
    echo "kept: $E2E_WORK" >&2
  else
    rm -rf "$E2E_WORK"
  fi
}

# Polls a command until it succeeds or the seconds (times $E2E_SCALE) run out.
# Usage: e2e_poll <seconds> <command...>; the status says which happened.
e2e_poll() {
  local seconds=$1
  shift
  local deadline
  deadline=$(echo "$(date +%s.%N) + $seconds * $E2E_SCALE" | bc)
  while :; do
    "$@" && return 0
    [ "$(echo "$(date +%s.%N) > $deadline" | bc)" = 1 ] && return 1
    sleep 0.1
  done
}

# As e2e_poll, but running out of time is a failure that names what did not happen.
# Usage: e2e_wait <seconds> <what> <command...>. Arguments are expanded once, so
# a condition on changing output goes in single quotes after eval.
e2e_wait() {
  local seconds=$1 what=$2
  shift 2
  e2e_poll "$seconds" "$@" && return 0
  e2e_fail "timed out after ${seconds}s waiting for: $what"
  return 1
}

e2e_require() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || {
      echo "SKIP: $tool is not installed (scripts/setup installs it)" >&2
      exit 77
    }
  done
}

e2e_init() {
  E2E_PROGRAM=$(realpath "$1")
  [ -x "$E2E_PROGRAM" ] || { echo "usage: $0 <path-to-ringpost>" >&2; exit 2; }
  e2e_require Xvfb trayer xdotool xwininfo xprop import bc
  /usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null || {
    echo "SKIP: python3-aiosmtpd is not installed (scripts/setup installs it)" >&2
    exit 77
  }
  E2E_WORK=$(mktemp -d "${TMPDIR:-/tmp}/ringpost-e2e.XXXXXX")
  trap e2e_cleanup EXIT
  trap 'exit 130' INT TERM
  export HOME="$E2E_WORK/home"
  export XDG_CONFIG_HOME="$HOME/.config"
  export XDG_DATA_HOME="$HOME/.local/share"
  export XDG_CACHE_HOME="$HOME/.cache"
  export XDG_STATE_HOME="$HOME/.local/state"
  export XDG_RUNTIME_DIR="$E2E_WORK/runtime"
  mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME"
  mkdir -m 0700 -p "$XDG_RUNTIME_DIR"
  E2E_CONFIG="$XDG_CONFIG_HOME/Amberfold"
  E2E_SETTINGS="$E2E_CONFIG/Ringpost.reg"
  E2E_DATA="$XDG_DATA_HOME/Amberfold/Ringpost"
  E2E_MAIL="$E2E_WORK/mail"
  E2E_STORE="$E2E_WORK/store"
  mkdir -p "$E2E_CONFIG" "$E2E_DATA" "$E2E_MAIL" "$E2E_STORE"
  # No desktop session: no keyring, no session bus, no accessibility bridge.
  unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY SESSION_MANAGER
  export NO_AT_BRIDGE=1 QT_ACCESSIBILITY=0
  e2e_clock
}

# A fixed zone and language make the meeting key's time text predictable. The
# zone is the second one when the first is within half an hour of midnight, so
# a day window from 00:01 to 23:59 always holds the whole run. The language is
# the program's alone (E2E_LANG): the system may have no such C library locale,
# which Qt does not need but the X tools would complain about.
E2E_LANG=en_US.UTF-8
e2e_clock() {
  E2E_TZ=America/Chicago
  local minutes
  minutes=$(TZ=$E2E_TZ date +'%-H * 60 + %-M' | bc)
  if [ "$minutes" -lt 30 ] || [ "$minutes" -gt $((23 * 60 + 30)) ]; then
    E2E_TZ=Asia/Tokyo
  fi
  export TZ=$E2E_TZ
}

# Remembers a process to end at exit (never 0 or empty: "kill 0" would end us all).
e2e_background() { [ "${1:-0}" -gt 0 ] && E2E_PIDS+=("$1"); }

# ---- X server and notification area -----------------------------------------

e2e_start_x() {
  local fifo="$E2E_WORK/displayfd"
  mkfifo "$fifo"
  # -displayfd lets the server pick a free display number and report it.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
    3>"$fifo" >"$E2E_WORK/xvfb.out" 2>&1 &
  e2e_background $!
  local number
  if ! read -r -t "$((20 * E2E_SCALE))" number <"$fifo"; then
    cat "$E2E_WORK/xvfb.out" >&2
    e2e_abort "Xvfb did not report a display"
  fi
  export DISPLAY=":$number"
  unset XAUTHORITY
  e2e_wait 20 "the X server on $DISPLAY to answer" xwininfo -root >/dev/null 2>&1 ||
    e2e_abort "no X server"
  e2e_log "Xvfb on $DISPLAY"
}

e2e_start_tray() {
  trayer --edge bottom --align right --widthtype request --height 32 \
    --SetDockType true --SetPartialStrut false --transparent false --tint 0xd0d0d0 \
    --expand true --monitor primary >"$E2E_WORK/trayer.out" 2>&1 &
  E2E_TRAYER_PID=$!
  e2e_background $E2E_TRAYER_PID
  e2e_wait 20 "trayer to own the notification area" e2e_tray_owned ||
    e2e_abort "no notification area"
  e2e_wait 20 "trayer's panel" e2e_tray_panel >/dev/null || e2e_abort "no tray panel"
  E2E_TRAYER_WINDOW=$(e2e_tray_panel)
  e2e_log "trayer running (window $E2E_TRAYER_WINDOW)"
}

# Anywhere in the tree: a window manager such as openbox reparents it into a frame.
e2e_tray_panel() {
  xwininfo -root -tree 2>/dev/null |
    sed -n 's/^ *\(0x[0-9a-f]*\) "panel": ("panel" "trayer").*/\1/p' | grep -m 1 .
}

# The selection _NET_SYSTEM_TRAY_S0 has an owner once the tray host is ready.
e2e_tray_owned() {
  /usr/bin/python3 - <<'EOF' 2>/dev/null
import ctypes, ctypes.util, os, sys
x = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XInternAtom.restype = ctypes.c_ulong
x.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XGetSelectionOwner.restype = ctypes.c_ulong
d = x.XOpenDisplay(None)
if not d:
    sys.exit(1)
sys.exit(0 if x.XGetSelectionOwner(d, x.XInternAtom(d, b"_NET_SYSTEM_TRAY_S0", 0)) else 1)
EOF
}

# The icons in trayer's panel: trayer wraps each embedded icon window in a socket
# window of its own, so the icons are the panel's grandchildren, the lines that
# xwininfo indents deeper than the panel's own children. Prints "id name" lines.
e2e_tray_icons() {
  [ -n "${E2E_TRAYER_WINDOW:-}" ] || return 0
  xwininfo -tree -id "$E2E_TRAYER_WINDOW" 2>/dev/null | awk '
    /^ *0x[0-9a-f]+ / {
      depth = match($0, /[^ ]/)
      if (children == 0) children = depth
      if (depth > children) { id = $1; $1 = ""; sub(/: \(.*/, ""); print id $0 }
    }'
}

# The program's icon window has no title of its own, so Qt names it after the
# application: "ringpost".
e2e_tray_icon_count() { e2e_tray_icons | grep -c '"ringpost"'; }
e2e_tray_icon() { e2e_tray_icons | awk '/"ringpost"/ { print $1; exit }'; }

# ---- SMTP server ----------------------------------------------------------------

e2e_start_smtp() {
  /usr/bin/python3 "$E2E_LIB/smtp_sink.py" "$E2E_MAIL" "$E2E_WORK/smtp.port" \
    >"$E2E_WORK/smtp.out" 2>&1 &
  e2e_background $!
  e2e_wait 20 "the SMTP server to listen" test -s "$E2E_WORK/smtp.port" ||
    { cat "$E2E_WORK/smtp.out" >&2; e2e_abort "no SMTP server"; }
  E2E_SMTP_PORT=$(cat "$E2E_WORK/smtp.port")
  e2e_log "SMTP server on 127.0.0.1:$E2E_SMTP_PORT"
}

e2e_mail_count() { find "$E2E_MAIL" -maxdepth 1 -name '*.txt' | wc -l; }

# The summaries of the messages received, oldest first.
e2e_mails() { find "$E2E_MAIL" -maxdepth 1 -name '*.txt' | sort; }

# The first received message (from number $2 on, default 1) whose Subject line
# is exactly $1; prints its summary file.
e2e_mail_with_subject() {
  local subject=$1 from=${2:-1} file number
  for file in $(e2e_mails); do
    number=$((10#$(basename "$file" .txt)))
    [ "$number" -ge "$from" ] || continue
    if [ "$(sed -n 's/^Subject: //p' "$file" | head -n 1)" = "$subject" ]; then
      echo "$file"
      return 0
    fi
  done
  return 1
}

e2e_count_subject() {
  local subject=$1 count=0 file
  for file in $(e2e_mails); do
    [ "$(sed -n 's/^Subject: //p' "$file" | head -n 1)" = "$subject" ] && count=$((count + 1))
  done
  echo "$count"
}

# ---- Settings ------------------------------------------------------------------------

# The settings file as a finished wizard leaves it, so the program starts with
# neither the welcome box nor the wizard: meeting, task and urgent e-mail notices
# on, the window at 60,40.
e2e_write_configured_settings() {
  cat >"$E2E_SETTINGS" <<'REG'
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

# ---- The local mail store ------------------------------------------------------

# An iCalendar time in UTC from seconds since the epoch.
e2e_ics_time() { date -u -d "@$1" +%Y%m%dT%H%M%SZ; }

# An iCalendar TEXT value: backslash, semicolon and comma escaped.
e2e_ics_text() { printf '%s' "$1" | sed -e 's/\\/\\\\/g' -e 's/;/\\;/g' -e 's/,/\\,/g'; }

# Writes the profile and a calendar holding the meetings given as
# "start-epoch|lead-minutes|location|subject" lines on standard input.
e2e_write_store() {
  local calendar="$E2E_STORE/calendar.ics" start lead location subject uid=0
  {
    printf 'BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Amberfold//Ringpost e2e//EN\r\n'
    while IFS='|' read -r start lead location subject; do
      uid=$((uid + 1))
      printf 'BEGIN:VEVENT\r\nUID:e2e-%d@ringpost.test\r\nDTSTAMP:%s\r\n' "$uid" "$(e2e_ics_time "$start")"
      printf 'DTSTART:%s\r\nDTEND:%s\r\n' "$(e2e_ics_time "$start")" "$(e2e_ics_time $((start + 1800)))"
      printf 'SUMMARY:%s\r\nLOCATION:%s\r\n' "$(e2e_ics_text "$subject")" "$(e2e_ics_text "$location")"
      printf 'BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Reminder\r\nTRIGGER:-PT%dM\r\nEND:VALARM\r\n' "$lead"
      printf 'END:VEVENT\r\n'
    done
    printf 'END:VCALENDAR\r\n'
  } >"$calendar"
  printf 'BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Amberfold//Ringpost e2e//EN\r\nEND:VCALENDAR\r\n' \
    >"$E2E_STORE/tasks.ics"
  mkdir -p "$E2E_STORE/Inbox/cur" "$E2E_STORE/Inbox/new" "$E2E_STORE/Inbox/tmp"
  cat >"$E2E_CONFIG/MailStore.ini" <<EOF
[Calendar]
Path=$calendar

[Tasks]
Path=$E2E_STORE/tasks.ics

[Inbox]
Path=$E2E_STORE/Inbox

[Send]
Transport=smtp
Url=smtp://127.0.0.1:$E2E_SMTP_PORT
StartTLS=false
TimeoutSeconds=20
From=Ringpost e2e <ringpost@e2e.test>
EOF
}

# The long time text of an epoch second under the program's zone and language
# (en_US: 9:30:00 AM), as the meeting key starts with it.
e2e_long_time() { date -d "@$1" +'%-I:%M:%S %p'; }

# A meeting in 10 minutes with a 15-minute reminder, so due now, as the only one
# in the store; its reminder's text in DUE_KEY. Usage: e2e_write_due_meeting PLACE SUBJECT
e2e_write_due_meeting() {
  local start=$(($(date +%s) + 600))
  e2e_write_store <<EOF
$start|15|$1|$2
EOF
  DUE_KEY="$(e2e_long_time "$start")@loc:$1$2"
}

# The test message as a push service shows it, its line break written \n.
E2E_TEST_TEXT='Ringpost Test message\nIf you got this message Ringpost Notification is working.'

# ---- The program -------------------------------------------------------------------

# Whether the program's output holds the text.
e2e_program_said() { grep -qF -- "$1" "$E2E_WORK"/ringpost.out; }

# Starts ringpost in the data folder; extra words go on its command line.
# Usage: e2e_start_program <output-name> [words...]
e2e_start_program() {
  local name=$1
  shift
  (cd "$E2E_DATA" && exec env LANG="$E2E_LANG" LC_ALL="$E2E_LANG" "$E2E_PROGRAM" "$@") \
    >"$E2E_WORK/$name.out" 2>&1 &
  E2E_APP_PID=$!
  e2e_background $E2E_APP_PID
  e2e_log "started ringpost (pid $E2E_APP_PID) $*"
}

e2e_program_alive() { kill -0 "$E2E_APP_PID" 2>/dev/null; }

# Top-level windows of the program that are mapped, one id a line.
e2e_visible_windows() {
  xdotool search --all --onlyvisible --pid "$E2E_APP_PID" --name '' 2>/dev/null
}

e2e_window_type() {
  xprop -id "$1" _NET_WM_WINDOW_TYPE 2>/dev/null | sed -n 's/.*= _NET_WM_WINDOW_TYPE_\([A-Z_]*\).*/\1/p'
}

e2e_window_title() {
  xprop -id "$1" _NET_WM_NAME 2>/dev/null | sed -n 's/^[^=]*= "\(.*\)"$/\1/p'
}

e2e_transient_for() {
  xprop -id "$1" WM_TRANSIENT_FOR 2>/dev/null | sed -n 's/.*window id # \(0x[0-9a-f]*\).*/\1/p'
}

# A visible window of the program whose title is $1 and whose kind is $2
# (NORMAL or DIALOG); prints its id. A NORMAL window belongs to no other window,
# which tells the main window from a menu that Qt marks NORMAL after the main
# window has been hidden and shown again.
e2e_find_window() {
  local title=$1 kind=$2 id
  for id in $(e2e_visible_windows); do
    [ "$(e2e_window_title "$id")" = "$title" ] || continue
    [ "$(e2e_window_type "$id")" = "$kind" ] || continue
    [ "$kind" = NORMAL ] && [ -n "$(e2e_transient_for "$id")" ] && continue
    echo "$id"
    return 0
  done
  return 1
}

# An open menu of the main window $1: a visible window that belongs to it and is
# no dialog box.
e2e_find_menu() {
  local id owner
  for id in $(e2e_visible_windows); do
    owner=$(e2e_transient_for "$id")
    [ -n "$owner" ] && [ "$((owner))" = "$(($1))" ] || continue
    [ "$(e2e_window_type "$id")" = DIALOG ] && continue
    echo "$id"
    return 0
  done
  return 1
}

# Waits for such a window and leaves its id in $E2E_WINDOW.
e2e_wait_window() {
  local title=$1 kind=$2 seconds=${3:-30}
  e2e_wait "$seconds" "a $kind window \"$title\"" e2e_find_window "$title" "$kind" >/dev/null ||
    return 1
  E2E_WINDOW=$(e2e_find_window "$title" "$kind")
}

e2e_window_gone() { ! xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }

# Gives a window the keyboard focus (there is no window manager to do it).
e2e_focus() {
  # --sync waits for the focus without a limit of its own.
  timeout 5 xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
  sleep 0.2
}

# Keys for the focused window, with a pause after each so a loaded machine keeps up.
e2e_keys() {
  local key
  for key in "$@"; do
    xdotool key --clearmodifiers "$key"
    sleep 0.15
  done
}

e2e_type() { xdotool type --delay 60 "$1"; sleep 0.2; }

e2e_pointer() { xdotool getmouselocation 2>/dev/null | cut -d' ' -f1-2; }

# Waits until the pointer is somewhere else than it is now.
e2e_wait_pointer_moves() {
  local here
  here=$(e2e_pointer)
  e2e_wait 10 "the pointer to move" eval '[ "$(e2e_pointer)" != "$here" ]'
}

# Left and top of a window on the screen. An empty id fails at once: xwininfo
# would wait for a click to pick a window.
e2e_window_origin() {
  [ -n "$1" ] || return 1
  xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 } END { print x, y }'
}

e2e_window_size() {
  xwininfo -id "$1" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w, h }'
}

# Shows one screenshot of a window (or "root") in $2.
e2e_screenshot() {
  import -window "$1" "$2" 2>/dev/null
}

# Lines of DEBUG.LOG (the program writes it with CR LF).
e2e_debug_lines() { { tr -d '\r' <"$E2E_DATA/DEBUG.LOG"; } 2>/dev/null; }
e2e_debug_count() { e2e_debug_lines | grep -cx -- "$1"; }
e2e_debug_has() { e2e_debug_lines | grep -q -- "$1"; }

# ---- The push server stand-in ---------------------------------------------------

# lib/ntfy_server.py on a free loopback port: it answers publishes as ntfy does
# and takes the posts Apprise makes, keeping each request in $E2E_RECORDER_OUT.
e2e_start_post_recorder() {
  E2E_RECORDER_OUT="$E2E_WORK/posts"
  /usr/bin/python3 "$E2E_LIB/ntfy_server.py" --out "$E2E_RECORDER_OUT" \
    --port-file "$E2E_WORK/posts.port" >"$E2E_WORK/posts.out" 2>&1 &
  e2e_background $!
  e2e_wait 20 "the push server stand-in to listen" test -s "$E2E_WORK/posts.port" ||
    { cat "$E2E_WORK/posts.out" >&2; e2e_abort "no push server stand-in"; }
  E2E_RECORDER_PORT=$(cat "$E2E_WORK/posts.port")
  e2e_log "push server stand-in on 127.0.0.1:$E2E_RECORDER_PORT"
}

# ---- The main window's controls ----------------------------------------------------
# Places inside the main window, from its top left corner: the menu titles and
# the toolbar's test-message button (the eighth button, after three separators).
E2E_MENU_SETTINGS=(30 8)
E2E_MENU_QUIT=(128 8)
E2E_BUTTON_TEST=(338 42)

# A first run's wizard from the keyboard alone: the welcome box, "Other (including
# Text Pagers)", the device address $1 and the hours 00:01 to 23:59, the meeting
# reminder box on, Done; then waits for the settings file.
e2e_first_run_with_address() {
  local wizard
  e2e_wait_window Ringpost DIALOG 60 || e2e_abort "no welcome box on a first run"
  e2e_focus "$E2E_WINDOW"
  e2e_keys Return
  e2e_wait_window "Ringpost Configuration Wizard" DIALOG || e2e_abort "the wizard did not open"
  wizard=$E2E_WINDOW
  e2e_focus "$wizard"
  # Introduction: Next. Carrier: Alt+O picks "&Other (including Text Pagers)". The
  # address page opens with the focus in the address field; Tab reaches the pickers.
  e2e_keys alt+n
  e2e_keys alt+o Return
  sleep 0.5
  e2e_type "$1"
  e2e_keys Tab
  e2e_type "12:01AM"
  e2e_keys Tab
  e2e_type "11:59PM"
  e2e_keys Return
  # Meetings: the meeting reminder box on; tasks: nothing more.
  e2e_keys Tab Tab space Return
  e2e_keys Return
  e2e_wait 10 "the wizard to close after Done" e2e_window_gone "$wizard" ||
    e2e_abort "the wizard stayed open after Done (was Next enabled for the address?)"
  e2e_wait 10 "the settings file" test -s "$E2E_SETTINGS" || e2e_abort "Done saved no settings"
}

# Where the test-message button of the main window $1 is: $E2E_TEST_X $E2E_TEST_Y.
e2e_point_at_test_button() {
  local left top
  read -r left top < <(e2e_window_origin "$1")
  E2E_TEST_X=$((left + E2E_BUTTON_TEST[0]))
  E2E_TEST_Y=$((top + E2E_BUTTON_TEST[1]))
}

# Clicks the test-message button and waits until the count that `eval "$1"`
# prints grows, that is until the test message arrived where it goes.
e2e_click_test_button() {
  local count=$1 before
  before=$(eval "$count")
  xdotool mousemove "$E2E_TEST_X" "$E2E_TEST_Y" click 1
  e2e_wait 30 "a test message after a click on the toolbar button" \
    eval '[ "$(eval "$count")" -gt "$before" ]' ||
    e2e_abort "the test message did not arrive"
}

# Runs the engine through a notice pass: each test message wakes it for a cycle,
# and with the pointer resting on the button the cycle's notice pass runs.
e2e_run_notice_pass() {
  local cycles
  for _ in 1 2 3 4; do
    cycles=$(e2e_debug_count ProcessCheckes-End)
    e2e_click_test_button "$1"
    e2e_wait 20 "the cycle after the test message" \
      eval '[ "$(e2e_debug_count ProcessCheckes-End)" -gt "$cycles" ]'
    e2e_poll 3 e2e_debug_has '^HandleNotify - Exit$' && break
  done
}

# Opens a menu of the main window $1 by a click on its title ($2 $3).
e2e_open_menu() {
  local left top
  read -r left top < <(e2e_window_origin "$1")
  e2e_focus "$1"
  xdotool mousemove $((left + $2)) $((top + $3)) click 1
  e2e_wait 10 "a menu to open" e2e_find_menu "$1" >/dev/null
}

# Quit > Exit Program, then Yes to "Do you really want to stop Ringpost?".
# Leaves the seconds from Yes to the end of the process in $E2E_CLOSE_SECONDS and
# the exit status in $E2E_EXIT_STATUS; fails (returns 1) when either step is missing
# or the process is still there after $2 seconds (default 10).
e2e_exit_program() {
  local main=$1 limit=${2:-10} box yes_at
  e2e_open_menu "$main" "${E2E_MENU_QUIT[@]}" || return 1
  e2e_keys Up Return # the last item, "Exit Program"
  e2e_wait_window Ringpost DIALOG 10 || { e2e_fail "Exit Program did not ask to confirm"; return 1; }
  box=$E2E_WINDOW
  e2e_focus "$box"
  yes_at=$(date +%s.%N)
  xdotool key alt+y
  e2e_wait "$limit" "the program to end after Yes" eval '! e2e_program_alive' || return 1
  E2E_CLOSE_SECONDS=$(printf '%.2f' "$(echo "$(date +%s.%N) - $yes_at" | bc)")
  wait "$E2E_APP_PID"
  E2E_EXIT_STATUS=$?
  e2e_log "the program ended ${E2E_CLOSE_SECONDS}s after Yes, status $E2E_EXIT_STATUS"
}

# ---- State files ----------------------------------------------------------------

# NOTIFY.CLD: a 4-byte version, then 273-byte records: the key as a short string
# (a length byte and room for 255 bytes of UTF-8 text), StartTime and ReminderTime
# (8 bytes each), and the Notified byte last. Prints "version N", then
# "notified-flag key" for each record.
e2e_notify_records() {
  /usr/bin/python3 - "$E2E_DATA/NOTIFY.CLD" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
if len(data) < 4 or (len(data) - 4) % 273:
    print("bad-size %d" % len(data))
    sys.exit(1)
print("version %d" % struct.unpack("<i", data[:4])[0])
for offset in range(4, len(data), 273):
    record = data[offset:offset + 273]
    key = record[1:1 + record[0]].decode("utf-8", "backslashreplace")
    print("%d %s" % (record[272], key))
EOF
}

# ---- Wayland compositors ---------------------------------------------------------
# A compositor of the test's own, headless, on the runtime folder of e2e_init and a
# session bus of its own; the program runs on its Xwayland server through xcb, as in
# a desktop session. What was sent to the compositor as input is real input: the
# compositor's idle tracking sees it as it sees a user's.

# A session bus of the test's own: the compositor's services and the program meet
# there and nowhere else.
e2e_start_session_bus() {
  e2e_require dbus-daemon
  local address="$E2E_WORK/bus.address"
  dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$address" \
    >"$E2E_WORK/dbus.out" 2>&1 &
  e2e_background $!
  e2e_wait 10 "the session bus" test -s "$address" || e2e_abort "no session bus"
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$address")
  export DBUS_SESSION_BUS_ADDRESS
  e2e_log "session bus at $DBUS_SESSION_BUS_ADDRESS"
}

# The environment of a program in a Wayland desktop session.
e2e_wayland_session() {
  export WAYLAND_DISPLAY=$1 XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=$2
}

# mutter (GNOME's compositor) headless with a virtual monitor and its Xwayland.
e2e_start_mutter() {
  e2e_require mutter Xwayland
  local socket=ringpost-e2e-wayland
  mutter --headless --wayland --virtual-monitor 1280x1024 --wayland-display=$socket \
    >"$E2E_WORK/mutter.out" 2>&1 &
  E2E_COMPOSITOR_PID=$!
  e2e_background $E2E_COMPOSITOR_PID
  e2e_wait 30 "mutter's Wayland socket" test -S "$XDG_RUNTIME_DIR/$socket" ||
    { cat "$E2E_WORK/mutter.out" >&2; e2e_abort "mutter did not start"; }
  e2e_wait 30 "mutter's Xwayland display" \
    grep -q 'Using public X11 display' "$E2E_WORK/mutter.out" ||
    { cat "$E2E_WORK/mutter.out" >&2; e2e_abort "mutter started no Xwayland"; }
  DISPLAY=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$E2E_WORK/mutter.out" | head -n 1)
  XAUTHORITY=$(find "$XDG_RUNTIME_DIR" -maxdepth 1 -name '.mutter-Xwaylandauth.*' | head -n 1)
  export DISPLAY XAUTHORITY
  e2e_wait 30 "Xwayland on $DISPLAY to answer" xwininfo -root >/dev/null 2>&1 ||
    e2e_abort "no Xwayland"
  e2e_wayland_session $socket GNOME
  e2e_log "mutter on $WAYLAND_DISPLAY, Xwayland on $DISPLAY"
}

# sway headless: no outputs or input devices of the machine, a configuration of
# its own. sway refuses to run as root; there it runs as nobody on a runtime
# folder of its own, which the program (root) reaches all the same.
e2e_start_sway() {
  e2e_require sway swaymsg Xwayland
  local runtime=$XDG_RUNTIME_DIR config="$E2E_WORK/sway.config" as=()
  printf 'xwayland force\noutput HEADLESS-1 resolution 1280x1024\n' >"$config"
  if [ "$(id -u)" = 0 ]; then
    e2e_require setpriv
    chmod o+x "$E2E_WORK"
    chmod o+r "$config"
    runtime="$E2E_WORK/sway-runtime"
    mkdir -m 0700 "$runtime"
    chown 65534:65534 "$runtime"
    as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  env HOME="$runtime" XDG_RUNTIME_DIR="$runtime" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
    WLR_RENDERER=pixman "${as[@]}" sway --config "$config" >"$E2E_WORK/sway.out" 2>&1 &
  E2E_COMPOSITOR_PID=$!
  e2e_background $E2E_COMPOSITOR_PID
  E2E_SWAY_RUNTIME=$runtime
  e2e_wait 30 "sway's IPC socket" eval \
    '[ -n "$(find "$E2E_SWAY_RUNTIME" -maxdepth 1 -name "sway-ipc.*.sock")" ]' ||
    { cat "$E2E_WORK/sway.out" >&2; e2e_abort "sway did not start"; }
  SWAYSOCK=$(find "$runtime" -maxdepth 1 -name 'sway-ipc.*.sock' | head -n 1)
  export SWAYSOCK
  # sway tells its own programs where its Wayland and X displays are.
  swaymsg exec "echo \"\$WAYLAND_DISPLAY \$DISPLAY\" >$runtime/displays" >/dev/null
  e2e_wait 30 "sway's displays" test -s "$runtime/displays" || e2e_abort "sway has no displays"
  local socket
  read -r socket DISPLAY <"$runtime/displays"
  export DISPLAY
  unset XAUTHORITY
  e2e_wayland_session "$runtime/$socket" sway
  # Xwayland admits only its own user; the program and the X tools here may be
  # another (root), so sway's user opens it to local programs.
  cat >"$E2E_WORK/xopen.py" <<EOF
import ctypes, ctypes.util
x = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
x.XOpenDisplay.restype = ctypes.c_void_p
d = x.XOpenDisplay(b"$DISPLAY")
x.XDisableAccessControl(ctypes.c_void_p(d))
x.XCloseDisplay(ctypes.c_void_p(d))
open("$runtime/xopen", "w").close()
EOF
  chmod o+r "$E2E_WORK/xopen.py"
  swaymsg exec "/usr/bin/python3 $E2E_WORK/xopen.py" >/dev/null
  e2e_wait 30 "sway's Xwayland to admit local programs" test -e "$runtime/xopen"
  e2e_wait 30 "Xwayland on $DISPLAY to answer" xwininfo -root >/dev/null 2>&1 ||
    { cat "$E2E_WORK/sway.out" >&2; e2e_abort "sway started no Xwayland"; }
  e2e_log "sway on $WAYLAND_DISPLAY, Xwayland on $DISPLAY"
}

# A native Wayland program with the keyboard focus, where the typing goes: the
# user works somewhere Xwayland does not see.
e2e_start_native_client() {
  e2e_require foot
  foot --title ringpost-e2e-native sh -c 'cat >/dev/null' >"$E2E_WORK/foot.out" 2>&1 &
  e2e_background $!
  sleep 1
}

# A finished wizard's settings for the phone number $1: Verizon Wireless, meeting
# reminders on, the day window 00:01 to 23:59, the window at the top left corner.
e2e_write_meeting_settings() {
  cat >"$E2E_SETTINGS" <<EOF
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Amberfold\\Ringpost]
"Version"="01.01.00.001"
"MeetingNotify"=dword:00000001
"MorningNotify"=dword:00000000
"EveningNotify"=dword:00000000
"TaskNotify"=dword:00000000
"TaskPreNotify"=dword:00000000
"TaskReminder"=dword:00000000
"UrgentEmail"=dword:00000000
"Top"=dword:00000000
"Left"=dword:00000000
"TaskRemindPeriod"=dword:00000002
"Pin"="$1"
"EarlyTime"=hex:17,6c,c1,16,6c,c1,46,3f
"LateTime"=hex:a5,4f,fa,a4,4f,fa,ef,3f
"Service"=dword:00000005
"CustomAddr"=""
"CustomEmail"=""
EOF
  chmod 600 "$E2E_SETTINGS"
}
