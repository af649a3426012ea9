#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Saves onto a small tmpfs that fills up and then turns read-only: each save fails
# with its error text, the files keep their last good content, and the next save
# after the fault has gone succeeds.
# Usage: full_disk_test.sh <save_loop>   (exit 77: no way to mount a tmpfs here)
set -euo pipefail
save_loop="$1"

# A private mount namespace when one can be had, so nothing shows outside.
if [ -z "${RINGPOST_IN_NAMESPACE:-}" ]; then
  for isolate in "unshare -m" "unshare -rm"; do
    if $isolate true 2>/dev/null; then
      exec $isolate env RINGPOST_IN_NAMESPACE=1 bash "$0" "$@"
    fi
  done
fi

mnt="$(mktemp -d)"
cleanup() {
  umount "$mnt" 2>/dev/null || true
  rmdir "$mnt"
}
trap cleanup EXIT
if ! mount -t tmpfs -o size=256k,mode=0700 tmpfs "$mnt" 2>/dev/null; then
  echo "SKIP: cannot mount a tmpfs here (no mount rights)" >&2
  exit 77
fi
data="$mnt/data"
mkdir "$data"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# Saves generation $1 and expects it to fail with every one of the given texts.
expect_failing_save() {
  local generation="$1" output
  shift
  if output="$("$save_loop" once "$data" "$generation")"; then
    fail "a save of generation $generation succeeded: $output"
  fi
  for text in "$@"; do
    grep -qxF -- "$text" <<<"$output" || fail "no \"$text\" among: $output"
  done
  echo "  failed as expected: $(tr '\n' '|' <<<"$output")"
}
expect_generation() {
  "$save_loop" check "$data" "$1" "$1" >/dev/null || fail "the files do not hold generation $1"
}

"$save_loop" once "$data" 1 || fail "the first save failed"
expect_generation 1

echo "full disk"
dd if=/dev/zero of="$mnt/filler" bs=4k 2>/dev/null || true
expect_failing_save 2 "Stream write error" \
  "Unable to save the settings to $data/Ringpost.reg: No space left on device" \
  "Cannot write \"$data/calendar.cache\": No space left on device"
expect_generation 1
[ -z "$(ls "$data" | grep -v -e '^TASK.CLD$' -e '^NOTIFY.CLD$' -e '^EMAIL.CLD$' -e '^Ringpost.reg$' \
  -e '^calendar.cache$')" ] ||
  fail "temporary files were left behind: $(ls "$data")"
rm "$mnt/filler"
"$save_loop" once "$data" 2 || fail "the save after space returned failed"
expect_generation 2

echo "read-only folder"
if ! mount -o remount,ro "$mnt" 2>/dev/null; then
  echo "SKIP (read-only part): cannot remount the tmpfs read-only" >&2
  exit 0
fi
expect_failing_save 3 "Cannot create file TASK.CLD" "Cannot create file NOTIFY.CLD" \
  "Cannot create file EMAIL.CLD" \
  "Unable to save the settings to $data/Ringpost.reg: Read-only file system" \
  "Cannot write \"$data/calendar.cache\": Read-only file system"
expect_generation 2
mount -o remount,rw "$mnt"
"$save_loop" once "$data" 3 || fail "the save after the folder became writable failed"
expect_generation 3
echo "full disk and read-only folder: every save failed cleanly and the next one succeeded"
