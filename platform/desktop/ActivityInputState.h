// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The input state of desktops that tell about input instead of being asked: the
// compositor (or the desktop's bus service) says when the user has been idle for a
// while and when input ended that stretch. A feed keeps a TActivityState up to date
// from a thread of its own; the engine's reads only look at it, so the tight polls
// before a send cost no round trip to the desktop.
//
// What the engine reads:
// - active (input within the feed's idle threshold): the pointer reads as moved on
//   every read, so input just before or during a wait is never missed;
// - idle: the pointer stands still until input ends the idle stretch;
// - a feed that lost its desktop: moved on every read, as with a lost X server;
// - no key ever reads as down; key presses count as input like pointer motion.

#include "engine/EngineSeams.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace rp {

class TActivityState {
public:
    void Idled() { idle = true; }
    void Resumed() {
        ++resumes;
        idle = false;
    }
    void SetLost(bool value) { lost = value; }

    bool Idle() const { return idle; }
    unsigned Resumes() const { return resumes; }
    bool Lost() const { return lost; }

private:
    // Until the feed says otherwise the user counts as at the desk.
    std::atomic<bool> idle{false};
    std::atomic<unsigned> resumes{0};
    std::atomic<bool> lost{false};
};

// Whatever keeps a TActivityState (or a lock flag) current; ends its work when
// destroyed.
class IActivityFeed {
public:
    virtual ~IActivityFeed() = default;
};

class TActivityInputState : public IInputState {
public:
    TActivityState& State() { return state; }
    // The feed lives as long as this input state and is ended before it.
    void Own(std::unique_ptr<IActivityFeed> feed) { feeds.push_back(std::move(feed)); }

    QPoint CursorPos() override;
    void ReadKeyStates(KeyStates& states) override { states.fill(0); }

private:
    TActivityState state;
    std::vector<std::unique_ptr<IActivityFeed>> feeds;
    int moves = 0;
};

// Turns idle times sampled now and then (a desktop that can only be asked) into
// idle and resumed events: idle once the idle time reaches the threshold, resumed
// when it drops below what the last sample and the time since then make it.
class TIdleTimeFollower {
public:
    using Clock = std::chrono::steady_clock;
    TIdleTimeFollower(TActivityState& state, std::chrono::milliseconds threshold)
        : state(state), threshold(threshold) {}
    // An empty sample is a failed ask.
    void Sample(std::optional<std::chrono::milliseconds> idle, Clock::time_point now);

private:
    TActivityState& state;
    std::chrono::milliseconds threshold;
    std::optional<Clock::time_point> lastAt;
    std::chrono::milliseconds lastIdle{0};
};

// Shared between the feed that watches the screen locker and the reads.
class TLockState {
public:
    void SetLocked(bool value) { locked = value; }
    bool Locked() const { return locked; }

private:
    std::atomic<bool> locked{false};
};

// A locked session is away whatever input the lock screen gets: the pointer stands
// still and no key reads as down while the lock holds.
class TLockAwareInputState : public IInputState {
public:
    explicit TLockAwareInputState(std::unique_ptr<IInputState> inner);
    TLockState& Lock() { return *lock; }
    IInputState& Inner() { return *inner; }
    void Own(std::unique_ptr<IActivityFeed> feed) { feeds.push_back(std::move(feed)); }

    QPoint CursorPos() override;
    void ReadKeyStates(KeyStates& states) override;

private:
    std::unique_ptr<TLockState> lock = std::make_unique<TLockState>();
    std::unique_ptr<IInputState> inner;
    std::vector<std::unique_ptr<IActivityFeed>> feeds;
};

} // namespace rp
