// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Feeds from the session bus, each on a thread of its own so that neither a busy
// window nor the engine's polls hold them up.

#include "platform/desktop/ActivityInputState.h"

#include <chrono>
#include <memory>

namespace rp {

// GNOME's org.gnome.Mutter.IdleMonitor: an idle watch at `threshold` and a
// user-active watch after each idle stretch, both told by its WatchFired signal.
// Null when the monitor does not answer.
std::unique_ptr<IActivityFeed> StartMutterIdleFeed(TActivityState& state,
                                                   std::chrono::milliseconds threshold);

// org.freedesktop.ScreenSaver.GetSessionIdleTime asked every `interval` on the
// feed's thread: the desktops that offer no watch. Null when it does not answer.
std::unique_ptr<IActivityFeed> StartScreenSaverIdleFeed(TActivityState& state,
                                                        std::chrono::milliseconds threshold,
                                                        std::chrono::milliseconds interval);

// The screen locker's ActiveChanged signal (org.gnome.ScreenSaver,
// org.freedesktop.ScreenSaver) and its state at start. Null without a session bus.
std::unique_ptr<IActivityFeed> StartLockWatch(TLockState& lock);

} // namespace rp
