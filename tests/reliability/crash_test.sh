#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Kills a program that keeps saving the state files and the settings file with
# SIGKILL at random moments, and after each kill checks that every file loads and
# holds either the generation last reported saved or the one after it.
# Usage: crash_test.sh <save_loop> [kills]   (default 300, or RINGPOST_KILLS)
set -euo pipefail
save_loop="$1"
kills="${2:-${RINGPOST_KILLS:-300}}"
folder="$(mktemp -d)"
trap 'rm -rf "$folder"' EXIT

low=0      # the oldest generation a file may still hold
next=1     # the generation the next run starts with
mid_write=0
temps=0
mkdir -p "$folder/data"
for ((kill = 1; kill <= kills; ++kill)); do
  "$save_loop" run "$folder/data" "$next" >"$folder/progress" 2>"$folder/errors" &
  pid=$!
  # Mostly short runs, so kills land in the first saves as well as later ones.
  sleep "0.$(printf '%03d' $((RANDOM % (kill % 5 == 0 ? 400 : 60) + 1)))"
  kill -KILL "$pid" 2>/dev/null || true
  ended=0
  wait "$pid" 2>/dev/null || ended=$?
  # 137: our SIGKILL; anything else means it failed by itself.
  if [ "$ended" != 137 ] || [ -s "$folder/errors" ]; then
    echo "kill $kill: the saving program ended with status $ended: $(cat "$folder/errors")" >&2
    exit 1
  fi
  # Every file holds the last generation reported whole, or the one being saved.
  last="$(tail -n 1 "$folder/progress" | tr -dc '0-9')"
  high="$next"
  if [ -n "$last" ]; then
    low="$last"
    high=$((last + 1))
  fi
  if ! result="$("$save_loop" check "$folder/data" "$low" "$high")"; then
    echo "kill $kill: a file was lost or damaged (last whole generation: ${last:-none})" >&2
    exit 1
  fi
  before="$temps"
  read -r min max temps <<<"$result"
  if [ "$temps" != "$before" ] || [ "$min" != "$max" ]; then
    mid_write=$((mid_write + 1))
  fi
  low="$min"
  next=$((max + 1))
done
echo "kills survived: $kills (between or inside the saves of one generation: $mid_write)," \
  "generations saved: $((next - 1)), temporary files left behind: $temps"
