#pragma once
// Input states for sessions where no X server can be asked (Wayland without
// Xwayland, the offscreen platform). The rule, in order of preference:
//
// 1. The desktop's idle time over D-Bus: the pointer reads as moved whenever the
//    desktop saw input since the previous read (its idle time is shorter than the
//    time since that read, or went down), and no key ever reads as down (key
//    presses reset the idle time, so they count as moves). A failed ask counts as
//    a move.
// 2. No idle time either: the pointer reads as moved on every read, so the user
//    never counts as away and no notice is sent while they may be at the desk.

#include "engine/EngineSeams.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace rp {

// How long the desktop has had no keyboard or pointer input.
class IIdleTimeSource {
public:
    virtual ~IIdleTimeSource() = default;
    virtual std::optional<std::chrono::milliseconds> IdleTime() = 0;
};

// org.freedesktop.ScreenSaver.GetSessionIdleTime (KDE and others), else GNOME's
// org.gnome.Mutter.IdleMonitor.GetIdletime, on the session bus. Null when neither
// answers.
std::unique_ptr<IIdleTimeSource> ProbeDesktopIdleTime();

class TIdleTimeInputState : public IInputState {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // The desktop is asked at most once per `minGap`; reads in between repeat the
    // last answer (or, after a failed ask, read as moved), which keeps a tight
    // polling loop off the bus.
    TIdleTimeInputState(std::unique_ptr<IIdleTimeSource> source, Clock clock,
                        std::chrono::milliseconds minGap = std::chrono::milliseconds(10));
    QPoint CursorPos() override;
    void ReadKeyStates(KeyStates& states) override { states.fill(0); }

private:
    bool InputSinceLastAsk(std::optional<std::chrono::milliseconds> idle,
                           std::chrono::steady_clock::time_point now) const;

    std::unique_ptr<IIdleTimeSource> source;
    Clock clock;
    std::chrono::milliseconds minGap;
    std::optional<std::chrono::steady_clock::time_point> lastAsk;
    std::chrono::milliseconds lastIdle{0};
    bool lastAskFailed = false;
    int moves = 0;
};

class TNeverAwayInputState : public IInputState {
public:
    QPoint CursorPos() override { return QPoint(++moves, 0); }
    void ReadKeyStates(KeyStates& states) override { states.fill(0); }

private:
    int moves = 0;
};

} // namespace rp
