// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The whole engine run one polling cycle at a time on a clock that moves only when
// the test sets it. The engine thread holds in each wait until the test lets it go
// on, so between cycles the test reads what the engine sent, showed and saved, and
// changes the store, the settings, the input and the time.

#include "tests/engine/NoticeFixture.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace rp::test {

class TCycleStepper {
public:
    explicit TCycleStepper(TEngineHarness& harness) : h(harness) {
        h.clock.SetFrozen(true);
        h.wake.SetMovesClock(false);
        h.wake.OnWait = [this](int wait, int) { Hold(wait); };
    }
    ~TCycleStepper() { Finish(); }
    TCycleStepper(const TCycleStepper&) = delete;
    TCycleStepper& operator=(const TCycleStepper&) = delete;

    // Start-up and the first cycle, up to its wait. The user counts as away only
    // from the first wait on, so the first cycle scans but sends nothing.
    void Start() {
        h.Start();
        AwaitHold(1);
    }
    // Lets the held wait end and runs the engine up to its next wait: the rest of
    // a cycle and the next one, or a retry after an automation error.
    void Next() {
        int next;
        {
            std::lock_guard lock(mutex);
            released = held;
            next = held + 1;
        }
        changed.notify_all();
        AwaitHold(next);
    }
    // Stops the engine in its wait and joins it; shut-down has saved the state files.
    void Finish() {
        if (!h.HasEngine())
            return;
        h.Engine().Stop(); // before the wait ends, so no further cycle begins
        {
            std::lock_guard lock(mutex);
            finishing = true;
        }
        changed.notify_all();
        h.StopAndJoin();
    }

private:
    void Hold(int wait) {
        std::unique_lock lock(mutex);
        held = wait;
        changed.notify_all();
        changed.wait(lock, [&] { return finishing || released >= wait; });
    }

    // Until the engine holds in the given wait, or its thread has ended.
    void AwaitHold(int wait) {
        using namespace std::chrono_literals;
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        std::unique_lock lock(mutex);
        while (held < wait && !h.Engine().isFinished()) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the engine did not reach wait " << wait;
                return;
            }
            changed.wait_for(lock, 10ms);
        }
    }

    TEngineHarness& h;
    std::mutex mutex;
    std::condition_variable changed;
    int held = 0;
    int released = 0;
    bool finishing = false;
};

// A notice fixture whose engine the test runs cycle by cycle.
class ScanFixture : public NoticeFixture {
protected:
    // The first cycle at the given time.
    void StartAt(TDateTime now) {
        h.clock.SetNow(now);
        cycles.Start();
    }
    // One more cycle at the given time (the clock stands still in between).
    void CycleAt(TDateTime now) {
        h.clock.SetNow(now);
        cycles.Next();
    }
    void Cycle() { cycles.Next(); }
    void Finish() { cycles.Finish(); }

    // Notices may go out at any time of day but at midnight itself.
    void AllDayWindow() {
        h.host.UpdateSettings([](SettingsRecord& s) {
            s.EarlyTime = 0;
            s.LateTime = EncodeTime(23, 59, 59);
        });
    }

    // The user touches the mouse during the idle wait of every send from now on;
    // the waits between cycles still find the user away.
    void UserInterruptsSends() {
        interruptSends = true;
        yieldsSeen = h.clock.Yields();
        h.input.OnCursorRead = [this](int) {
            // The idle wait yields before each of its reads; nothing else does.
            const int yields = h.clock.Yields();
            if (interruptSends && yields != yieldsSeen)
                h.input.MoveCursor();
            yieldsSeen = yields;
        };
    }
    void UserLetsSendsGo() { interruptSends = false; }

    // The user stays at the computer: every wait sees the cursor move, so no
    // notice pass runs; the scans go on.
    void UserStaysAtTheComputer() {
        h.input.OnCursorRead = [this](int) { h.input.MoveCursor(); };
    }

    // The status texts shown so far that begin with the prefix.
    QStringList StatusesStartingWith(const QString& prefix) const {
        QStringList found;
        for (const QString& text : h.host.StatusTexts())
            if (text.startsWith(prefix))
                found << text;
        return found;
    }

    template <class Record>
    static Record RecordOf(const std::vector<Record>& records, const QString& key) {
        for (const Record& record : records)
            if (record.Key == key)
                return record;
        ADD_FAILURE() << "no record " << key.toStdString();
        return {};
    }

    TCycleStepper cycles{h};

private:
    bool interruptSends = false; // read on the engine thread while the test holds it
    int yieldsSeen = 0;
};

} // namespace rp::test
