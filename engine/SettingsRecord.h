// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// All user settings, named like their stored values. The main window owns the one
// live record; the engine thread reads consistent copies of it.

#include "engine/DateTime.h"

#include <QMutex>
#include <QString>
#include <cstdint>

namespace rp {

struct SettingsRecord {
    bool MeetingNotify = false;
    bool MorningNotify = false;
    bool EveningNotify = false;
    bool TaskNotify = false;
    bool TaskPreNotify = false;
    bool TaskReminder = false;
    bool UrgentEmail = false;
    int32_t Top = 0;
    int32_t Left = 0;
    int32_t TaskRemindPeriod = 0;
    QString Pin;
    TDateTime EarlyTime = 0;
    TDateTime LateTime = 0;
    uint8_t Service = 0;
    QString CustomAddr;
    QString CustomEmail;
};

// The record shared between the GUI thread (the only regular writer) and the
// engine thread. Readers get a whole copy taken under a short lock, so a reader
// never sees a half-changed text and never waits on anything but a field copy.
class TSharedSettings {
public:
    SettingsRecord Snapshot() const {
        QMutexLocker lock(&mutex);
        return record;
    }
    template <class Change> void Update(Change change) {
        QMutexLocker lock(&mutex);
        change(record);
    }

private:
    mutable QMutex mutex;
    SettingsRecord record;
};

// The setters through which loading, the toggles and the wizard change the record.
// None of them saves.
class ISettingsSetters {
public:
    virtual ~ISettingsSetters() = default;
    virtual SettingsRecord Settings() const = 0;
    virtual void SetMeetingNotify(bool value) = 0;
    virtual void SetMorningNotify(bool value) = 0;
    virtual void SetEveningNotify(bool value) = 0;
    virtual void SetTaskNotify(bool value) = 0;
    virtual void SetTaskPreNotify(bool value) = 0;
    virtual void SetTaskReminder(bool value) = 0;
    virtual void SetUrgentEmail(bool value) = 0;
    virtual void SetTaskRemindPeriod(int32_t value) = 0;
    virtual void SetPin(const QString& value) = 0;
    virtual void SetService(uint8_t value) = 0;
    virtual void SetEarlyTime(TDateTime value) = 0;
    virtual void SetLateTime(TDateTime value) = 0;
    virtual void SetCustomAddr(const QString& value) = 0;
    virtual void SetCustomEmail(const QString& value) = 0;
};

} // namespace rp
