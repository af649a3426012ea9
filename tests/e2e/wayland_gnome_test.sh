#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# GNOME on Wayland: mutter headless with its Xwayland, a session bus of the
# test's own, a native Wayland terminal with the focus, and real input through
# mutter's remote-desktop interface (the way a remote-desktop server drives it).
# Typing and pointer motion in the terminal keep the due reminder back although
# Xwayland sees neither; a still session lets it out. The program reads GNOME's
# idle monitor.
# Usage: wayland_gnome_test.sh <path-to-ringpost>

# shellcheck source=lib/e2e.sh disable=SC2016,SC2034
source "$(dirname "$0")/lib/e2e.sh"
# shellcheck source=lib/away_journey.sh
source "$(dirname "$0")/lib/away_journey.sh"
e2e_init "${1:-}"
e2e_require mutter Xwayland foot dbus-daemon
/usr/bin/python3 -c 'import dbus' 2>/dev/null || {
  echo "SKIP: python3-dbus is not installed (scripts/setup installs it)" >&2
  exit 77
}
e2e_start_session_bus
e2e_start_mutter
e2e_start_native_client
e2e_start_tray
e2e_start_smtp

user_input() { /usr/bin/python3 "$E2E_LIB/mutter_input.py" both "$1"; }

away_journey "GNOME's idle monitor"
e2e_finish
