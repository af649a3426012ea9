// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Idle notifications straight from the Wayland compositor, on a connection and a
// thread of their own (whatever platform Qt's windows use): ext-idle-notify-v1
// (KDE Plasma 5.27, newer sway and GNOME), else KDE's org_kde_kwin_idle (also
// sway 1.7).

#include "platform/desktop/ActivityInputState.h"

#include <QString>
#include <chrono>
#include <memory>

namespace rp {

// Null when there is no compositor to reach or it offers neither protocol; else
// a feed that keeps `state` current until it is destroyed. `protocol` names the
// protocol in use.
std::unique_ptr<IActivityFeed>
StartWaylandIdleFeed(TActivityState& state, std::chrono::milliseconds threshold, QString* protocol);

} // namespace rp
