// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The input state the engine asks whether the user is away.

#include "engine/EngineSeams.h"

#include <QString>
#include <memory>

namespace rp {

// The user's input state: the X server's pointer and key map, a Wayland or D-Bus
// idle feed, or the documented fallback where none can be asked. `notice`
// receives a one-line text to show once when the fallback is in use.
std::unique_ptr<IInputState> CreateInputState(QString* notice = nullptr);

} // namespace rp
