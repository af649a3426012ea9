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

    // Parks the engine and sets the clock; call after the store and hooks are set.
    TOutlookProcessor& Park(TDateTime now = Mar(4, 12, 0)) {
        h.StartParked();
        h.clock.SetNow(now);
        return h.Engine();
    }
    TOutlookProcessor& P() { return h.Engine(); }

    TEventItem& AddEvent(const QString& key, TDateTime start, TDateTime reminder,
                         bool notified = false) {
        auto record = std::make_unique<TEventItem>();
        record->Key = key;
        record->StartTime = start;
        record->ReminderTime = reminder;
        record->Notified = notified;
        TEventItem& added = *record;
        Access::Appointments(P()).Add(key, std::move(record));
        return added;
    }

    QStringList SentSubjects() const {
        QStringList subjects;
        for (const SentMail& mail : h.outlook->Sent())
            subjects << mail.Subject;
        return subjects;
    }

    QStringList Keys(const TSortedList<TEventItem>& list) const { return KeysOf(list); }
    QStringList Keys(const TSortedList<TTaskEvent>& list) const { return KeysOf(list); }
    QStringList Keys(const TSortedList<TEmailItem>& list) const { return KeysOf(list); }

    // The user touches the mouse during the idle wait of every later send.
    void UserMovesDuringSends() {
        h.input.OnCursorRead = [this](int read) {
            if (read > 1)
                h.input.MoveCursor();
        };
    }

    TEngineHarness h;

private:
    template <class Record> static QStringList KeysOf(const TSortedList<Record>& list) {
        QStringList keys;
        for (int i = 0; i < list.Count(); ++i)
            keys << list.Key(i);
        return keys;
    }
};

} // namespace rp::test
