// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A parked engine (start-up done, thread ended) whose notice steps a test calls on
// its own thread, with the trace lines and sent subjects at hand.

#include "tests/support/EngineHarness.h"

#include <QLocale>
#include <QMutex>
#include <gtest/gtest.h>

QT_BEGIN_NAMESPACE
// Readable texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace rp::test {

// Collects the lines written to the trace category while it lives.
class TraceCapture {
public:
    TraceCapture() {
        instance = this;
        previous = qInstallMessageHandler(&TraceCapture::Handle);
    }
    ~TraceCapture() {
        qInstallMessageHandler(previous);
        instance = nullptr;
    }
    QStringList Lines() const {
        QMutexLocker lock(&mutex);
        return lines;
    }

private:
    static void Handle(QtMsgType, const QMessageLogContext& context, const QString& text) {
        if (instance && context.category && QByteArray(context.category) == "ringpost.trace") {
            QMutexLocker lock(&instance->mutex);
            instance->lines << text;
        }
    }
    static inline TraceCapture* instance = nullptr;
    QtMessageHandler previous = nullptr;
    mutable QMutex mutex;
    QStringList lines;
};

// Texts in the en_US formats while it lives: 9:30:00 AM, 3/4/24.
class UsLocale {
public:
    UsLocale() : saved(QLocale()) {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    ~UsLocale() { QLocale::setDefault(saved); }

private:
    QLocale saved;
};

inline TDateTime Mar(int day, int hour = 0, int minute = 0, int second = 0) {
    return EncodeDateTime(2024, 3, day, hour, minute, second);
}

class NoticeFixture : public ::testing::Test {
protected:
    NoticeFixture() {
        h.idlePolls = 3;
        h.host.UpdateSettings([](SettingsRecord& s) {
            s.MeetingNotify = s.MorningNotify = s.EveningNotify = true;
            s.TaskNotify = s.TaskPreNotify = s.TaskReminder = true;
            s.UrgentEmail = true;
            s.TaskRemindPeriod = 2;
            s.EarlyTime = EncodeTime(7, 0);
            s.LateTime = EncodeTime(22, 0);
        });
    }

    QStringList SentSubjects() const {
        QStringList subjects;
        for (const SentMail& mail : h.outlook->Sent())
            subjects << mail.Subject;
        return subjects;
    }

    // A record as the state file holds it.
    static TEventItem Event(const QString& key, TDateTime start, TDateTime reminder,
                            bool notified = false) {
        TEventItem record;
        record.Key = key;
        record.StartTime = start;
        record.ReminderTime = reminder;
        record.Notified = notified;
        return record;
    }

    QStringList Keys(const std::vector<TEventItem>& records) const { return KeysOf(records); }
    QStringList Keys(const std::vector<TTaskEvent>& records) const { return KeysOf(records); }
    QStringList Keys(const std::vector<TEmailItem>& records) const { return KeysOf(records); }

    // The saved appointment records as "key" or "key (notified)", in key order.
    QStringList SavedMeetings() const {
        QStringList out;
        for (const TEventItem& record : h.SavedAppointments())
            out << record.Key + (record.Notified ? QStringLiteral(" (notified)") : QString());
        return out;
    }

    // Runs the engine on a clock that stands still (neither sleeps nor waits move
    // it) through the given number of notice passes: the first cycle only notes
    // that the user is away, each later one runs a pass. beforePass(n) runs on the
    // engine thread in the wait before the nth pass, e.g. to set the clock.
    void RunNoticePasses(int passes, std::function<void(int pass)> beforePass = {}) {
        h.clock.SetFrozen(true);
        h.wake.SetMovesClock(false);
        auto userHook = h.wake.OnWait;
        h.wake.OnWait = [userHook, beforePass, passes](int wait, int milliseconds) {
            if (userHook)
                userHook(wait, milliseconds);
            if (beforePass && wait <= passes)
                beforePass(wait);
        };
        h.RunWaits(passes + 1);
    }

    // Turns DEBUG.LOG on once the state files are loaded.
    void DebugFromStartUp() {
        h.clock.OnSleep = [this](int) { h.Engine().Debugging = true; };
    }

    // The user touches the mouse at the first poll of every notice's idle wait, but
    // leaves it be between the cycles, so the engine still sees the user away.
    void UserMovesWhileNoticesWait() {
        h.input.OnCursorRead = [this, seenYields = 0](int) mutable {
            const int yields = h.clock.Yields();
            if (yields != seenYields) {
                seenYields = yields;
                h.input.MoveCursor();
            }
        };
    }

    // The window asks the engine to stop at the engine's next look at the clock:
    // called from a wait, that is just after the next cycle has begun, before its
    // notice pass. Clearing StopRequested at a later wait lets the engine go on.
    void StopAtTheNextClockRead() {
        h.clock.OnNow = [this, asked = false]() mutable {
            if (!asked) {
                asked = true;
                h.Engine().StopRequested = true;
            }
        };
    }

    TEngineHarness h;

protected:
    template <class Record> static QStringList KeysOf(const std::vector<Record>& records) {
        QStringList keys;
        for (const Record& record : records)
            keys << record.Key;
        return keys;
    }
};

} // namespace rp::test
