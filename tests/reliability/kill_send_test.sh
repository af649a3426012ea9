#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Kills the engine with SIGKILL at random instants while it sends meeting
# reminders into the outbox and records each one in NOTIFY.CLD, and starts it again
# until every meeting of the calendar is reminded; then a new calendar follows.
# After every kill NOTIFY.CLD must load whole and at most one reminder may have
# gone out twice because of it (sent, then killed before its record was saved);
# once a calendar is done every meeting has its reminder (none lost).
# Usage: kill_send_test.sh <send_loop> [kills]   (default 60, or RINGPOST_SEND_KILLS)
set -euo pipefail
send_loop="$1"
kills="${2:-${RINGPOST_SEND_KILLS:-60}}"
count=10 # meetings per calendar
folder="$(mktemp -d)"
trap 'rm -rf "$folder"' EXIT

fail() {
  echo "$*" >&2
  exit 1
}

# Up to about the time of a whole run, so kills land before, inside and after the sends.
"$send_loop" prepare "$folder" 0 "$count"
started=$(date +%s%N)
"$send_loop" run "$folder" 2>"$folder/errors" || fail "a run without kills failed: $(cat "$folder/errors")"
span_ms=$((($(date +%s%N) - started) / 1000000 + 1))

generation=1
"$send_loop" prepare "$folder" "$generation" "$count"
killed=0 in_sends=0 repeats=0 runs=0 last_messages=0 last_repeats=0
while [ "$killed" -lt "$kills" ]; do
  "$send_loop" run "$folder" 2>"$folder/errors" &
  pid=$!
  runs=$((runs + 1))
  sleep "$(printf '0.%03d' $((RANDOM % span_ms + 1)))"
  kill -KILL "$pid" 2>/dev/null || true
  status=0
  wait "$pid" 2>/dev/null || status=$?
  [ "$status" = 0 ] || [ "$status" = 137 ] ||
    fail "run $runs ended with status $status: $(cat "$folder/errors")"
  result=$("$send_loop" check "$folder" "$generation" "$count") ||
    fail "run $runs: the state files did not survive the kill"
  read -r messages twice notified reminded <<<"$result"
  [ $((twice - last_repeats)) -le 1 ] ||
    fail "run $runs: one kill made $((twice - last_repeats)) reminders go out twice"
  if [ "$status" = 137 ]; then
    killed=$((killed + 1))
    if [ "$messages" -gt "$last_messages" ] && [ "$notified" -lt "$count" ]; then
      in_sends=$((in_sends + 1))
    fi
  elif [ "$reminded" != "$count" ] || [ "$notified" != "$count" ]; then
    fail "run $runs ended with $reminded of $count meetings reminded and $notified recorded"
  fi
  repeats=$((repeats + twice - last_repeats))
  last_messages=$messages last_repeats=$twice
  if [ "$status" = 0 ]; then
    generation=$((generation + 1)) last_messages=0 last_repeats=0
    "$send_loop" prepare "$folder" "$generation" "$count"
  fi
done
echo "kills: $killed (inside the sends: $in_sends), runs: $runs, calendars done: $((generation - 1))," \
  "reminders sent twice: $repeats, lost: 0, run without kills: ${span_ms} ms"
