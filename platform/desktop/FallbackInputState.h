// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The input state of last resort: no X server to ask and no desktop that tells
// about input. The pointer reads as moved on every read, so the user never counts
// as away and no notice is sent while they may be at the desk.

#include "engine/EngineSeams.h"

namespace rp {

class TNeverAwayInputState : public IInputState {
public:
    QPoint CursorPos() override { return QPoint(++moves, 0); }
    void ReadKeyStates(KeyStates& states) override { states.fill(0); }

private:
    int moves = 0;
};

} // namespace rp
