#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Traces one save of each state file, the settings file and a calendar source's
# last good copy, and checks the order that makes them survive a crash or a
# power cut: a temporary file beside the target, written, synced, renamed over
# the target, then the folder synced.
# Usage: durable_order_test.sh <save_loop>   (exit 77: tracing is not possible here)
set -euo pipefail
save_loop="$1"
if ! command -v strace >/dev/null || ! strace -f -o /dev/null true 2>/dev/null; then
  echo "SKIP: strace is missing or ptrace is not permitted" >&2
  exit 77
fi
folder="$(mktemp -d)"
trap 'rm -rf "$folder"' EXIT
mkdir "$folder/data"
# A first save makes the files exist, so the traced one replaces them.
"$save_loop" once "$folder/data" 1
strace -f -e trace=openat,write,fsync,fdatasync,rename,renameat,renameat2 \
  -o "$folder/trace" "$save_loop" once "$folder/data" 2

# Prints the steps found for one target, or the first one missing.
durable_steps() {
  awk -v target="$1" -v folder="$folder/data" '
    function fail(step) { print "missing: " step; failed = 1; exit 1 }
    { sub(/^[0-9]+ +/, "") } # the pid strace -f puts first
    state == 0 && /^openat\(/ && /O_CREAT/ && index($0, "\"" target ".") {
      fd = $NF; state = 1; print "create temporary"; next }
    state == 1 && $0 ~ "^write\\(" fd "," { state = 2; print "write"; next }
    state == 2 && $0 ~ "^write\\(" fd "," { next }
    state == 2 && $0 ~ "^(fsync|fdatasync)\\(" fd "\\)" { state = 3; print "sync file"; next }
    state == 2 { fail("sync file right after its last write") }
    state == 3 && /^rename/ && index($0, "\"" target "\"") { state = 4; print "rename"; next }
    state == 3 { fail("rename right after the sync") }
    state == 4 && /^openat\(/ && /O_DIRECTORY/ && index($0, "\"" folder "\"") {
      dirfd = $NF; state = 5; next }
    state == 4 { fail("open the folder right after the rename") }
    state == 5 && $0 ~ "^fsync\\(" dirfd "\\)" { state = 6; print "sync folder"; exit 0 }
    state == 5 { fail("sync folder") }
    END {
      if (failed) exit 1
      if (state < 6) { print "missing: the save of " target; exit 1 }
    }' "$folder/trace"
}

status=0
for file in TASK.CLD NOTIFY.CLD EMAIL.CLD Ringpost.reg calendar.cache; do
  if steps="$(durable_steps "$folder/data/$file")"; then
    echo "$file: $(echo $steps | tr ' ' ' ')"
  else
    echo "$file: durable order broken: $(echo "$steps" | tail -n 1)" >&2
    status=1
  fi
done
if [ "$status" != 0 ]; then
  echo "--- trace" >&2
  cat "$folder/trace" >&2
fi
exit $status
