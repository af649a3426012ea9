#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# sway on Wayland (wlroots; the idle notifications of org_kde_kwin_idle, or
# ext-idle-notify-v1 where sway offers it): sway headless with its Xwayland, a
# native Wayland terminal with the focus, real key presses through the virtual
# keyboard protocol (wtype) and pointer motion through sway's own seat. Typing and
# pointer motion keep the due reminder back although Xwayland sees neither; a
# still session lets it out. No notification area runs, so the configured program
# must stay on the screen instead of hiding where nobody could reach it.
# Usage: wayland_sway_test.sh <path-to-ringpost>

# shellcheck source=lib/e2e.sh disable=SC2016,SC2034
source "$(dirname "$0")/lib/e2e.sh"
# shellcheck source=lib/away_journey.sh
source "$(dirname "$0")/lib/away_journey.sh"
e2e_init "${1:-}"
e2e_require sway swaymsg Xwayland foot wtype dbus-daemon
e2e_start_session_bus
e2e_start_sway
e2e_start_native_client
e2e_start_smtp

# Back and forth, so the pointer never runs into the screen edge, and a key now
# and then into the terminal.
user_input() {
  local end step=0
  end=$(($(date +%s) + $1))
  while [ "$(date +%s)" -lt "$end" ]; do
    step=$((step + 1))
    if [ $((step % 20)) -lt 10 ]; then
      swaymsg -q seat - cursor move 5 3
    else
      swaymsg -q seat - cursor move -5 -3
    fi
    [ $((step % 4)) = 0 ] && wtype a
    sleep 0.05
  done
}

away_journey "the compositor's idle notifications"
e2e_finish
