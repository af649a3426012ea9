#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Real input into a running mutter through its remote-desktop interface, the way
a remote-desktop server drives it.

Usage: mutter_input.py move SECONDS   pointer motion for that long
       mutter_input.py type SECONDS   key presses (the letter a) for that long
       mutter_input.py both SECONDS   both, interleaved
Each action runs on a session of its own, started and stopped here. Exit 0 when
mutter took every event, 1 when the session could not be made or an event failed.
"""

import sys
import time

import dbus

KEY_A = 30  # evdev code of the letter a


def session(bus):
    desktop = bus.get_object("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop")
    path = dbus.Interface(desktop, "org.gnome.Mutter.RemoteDesktop").CreateSession()
    proxy = bus.get_object("org.gnome.Mutter.RemoteDesktop", path)
    return dbus.Interface(proxy, "org.gnome.Mutter.RemoteDesktop.Session")


def main():
    action, seconds = sys.argv[1], float(sys.argv[2])
    bus = dbus.SessionBus()
    remote = session(bus)
    remote.Start()
    try:
        deadline = time.monotonic() + seconds
        step = 0
        while time.monotonic() < deadline:
            step += 1
            if action in ("move", "both"):
                # Back and forth, so the pointer never runs into the screen edge.
                remote.NotifyPointerMotionRelative(5.0 if step % 40 < 20 else -5.0, 3.0 if step % 40 < 20 else -3.0)
            if action in ("type", "both"):
                remote.NotifyKeyboardKeycode(dbus.UInt32(KEY_A), True)
                time.sleep(0.02)
                remote.NotifyKeyboardKeycode(dbus.UInt32(KEY_A), False)
            time.sleep(0.05)
    finally:
        remote.Stop()
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except dbus.DBusException as error:
        print("mutter_input: %s" % error, file=sys.stderr)
        sys.exit(1)
