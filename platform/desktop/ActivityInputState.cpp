// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/ActivityInputState.h"

namespace rp {

namespace {

// The rows keep the three kinds of reading apart: a count of resumes never equals
// a move.
constexpr int kMovedRow = 1;
constexpr int kIdleRow = 2;
constexpr QPoint kLockedPosition{0, 3};

} // namespace

QPoint TActivityInputState::CursorPos() {
    if (state.Lost() || !state.Idle())
        return QPoint(++moves, kMovedRow);
    return QPoint(int(state.Resumes()), kIdleRow);
}

void TIdleTimeFollower::Sample(std::optional<std::chrono::milliseconds> idle,
                               Clock::time_point now) {
    state.SetLost(!idle);
    if (!idle) {
        lastAt.reset();
        return;
    }
    // Without input the idle time grows by the time between samples; a value that
    // dropped, or that is shorter than that time, means input came in between.
    const bool inputSinceLast = lastAt && (*idle < lastIdle || *idle < now - *lastAt);
    if (state.Idle() && (inputSinceLast || *idle < threshold))
        state.Resumed();
    else if (!state.Idle() && *idle >= threshold)
        state.Idled();
    lastAt = now;
    lastIdle = *idle;
}

TLockAwareInputState::TLockAwareInputState(std::unique_ptr<IInputState> inner)
    : inner(std::move(inner)) {}

QPoint TLockAwareInputState::CursorPos() {
    if (lock->Locked())
        return kLockedPosition;
    return inner->CursorPos();
}

void TLockAwareInputState::ReadKeyStates(KeyStates& states) {
    if (lock->Locked()) {
        states.fill(0);
        return;
    }
    inner->ReadKeyStates(states);
}

} // namespace rp
