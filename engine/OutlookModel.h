// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The mail application's object model as the engine sees it: the names, kinds and
// value codes of the automation objects it calls. The engine does not know which
// store stands behind them; a failing call throws EAutomationError.

#include "engine/DateTime.h"

#include <QString>
#include <memory>
#include <stdexcept>

namespace rp::outlook {

class EAutomationError : public std::runtime_error {
public:
    explicit EAutomationError(const QString& message)
        : std::runtime_error(message.toStdString()), text(message) {}
    const QString& Message() const { return text; }

private:
    QString text;
};

inline constexpr int olFolderInbox = 6;
inline constexpr int olFolderCalendar = 9;
inline constexpr int olFolderTasks = 13;
inline constexpr int olMailItem = 0;
inline constexpr int olImportanceLow = 0;
inline constexpr int olImportanceNormal = 1;
inline constexpr int olImportanceHigh = 2;
inline constexpr int olRecursDaily = 0;
inline constexpr int olRecursWeekly = 1;
inline constexpr int olRecursMonthly = 2;
inline constexpr int olRecursMonthNth = 3;
inline constexpr int olRecursYearly = 5;
inline constexpr int olRecursYearNth = 6;
// The user's answer to a meeting (ResponseStatus).
inline constexpr int olResponseNone = 0;
inline constexpr int olResponseOrganized = 1;
inline constexpr int olResponseTentative = 2;
inline constexpr int olResponseAccepted = 3;
inline constexpr int olResponseDeclined = 4;
inline constexpr int olResponseNotResponded = 5;
// Tasks without a start or due date carry this day number (1 January 4501).
inline constexpr double NoDate = 949998.0;

// Every item of a folder. Late binding in the original object model means a
// property the item lacks fails only when it is read; ItemAs reproduces that.
class OutlookItem {
public:
    virtual ~OutlookItem() = default;
};
using ItemPtr = std::shared_ptr<OutlookItem>;

class AppointmentItem;

// A time zone of the mail application (TimeZone). ToLocal does what
// TimeZones.ConvertTime(wall, zone, CurrentTimeZone) does in the original.
class TimeZone {
public:
    virtual ~TimeZone() = default;
    virtual QString ID() = 0;
    // The user's local date-time of a wall time of this zone.
    virtual TDateTime ToLocal(TDateTime wallTime) = 0;
};

// One occurrence of a recurring appointment that was deleted or changed.
class Exception {
public:
    virtual ~Exception() = default;
    // The start the pattern gives the occurrence, in the pattern's zone.
    virtual TDateTime OriginalDate() = 0;
    virtual bool Deleted() = 0;
    // The changed occurrence with its own start (local), subject and location;
    // fails for a deleted one.
    virtual std::shared_ptr<outlook::AppointmentItem> AppointmentItem() = 0;
};

class Exceptions {
public:
    virtual ~Exceptions() = default;
    virtual int Count() = 0;
    // Numbered from 1.
    virtual std::shared_ptr<Exception> Item(int index) = 0;
};

// PatternStartDate, PatternEndDate and StartTime are wall times of the pattern's
// StartTimeZone (the appointment's start zone in the original); a null zone means
// the user's local time.
class RecurrencePattern {
public:
    virtual ~RecurrencePattern() = default;
    virtual int RecurrenceType() = 0;
    virtual TDateTime PatternStartDate() = 0;
    virtual TDateTime PatternEndDate() = 0;
    virtual bool NoEndDate() = 0;
    virtual int Occurrences() = 0;
    virtual int Interval() = 0;
    virtual int DayOfWeekMask() = 0;
    virtual int DayOfMonth() = 0;
    virtual TDateTime StartTime() = 0;
    virtual std::shared_ptr<TimeZone> StartTimeZone() = 0;
    virtual std::shared_ptr<outlook::Exceptions> Exceptions() = 0;
};

class AppointmentItem : public OutlookItem {
public:
    virtual bool IsRecurring() = 0;
    virtual std::shared_ptr<RecurrencePattern> GetRecurrencePattern() = 0;
    virtual TDateTime Start() = 0;
    // Negative for an all-day event whose alarm comes after its midnight start
    // (-540: 09:00 on the day).
    virtual int ReminderMinutesBeforeStart() = 0;
    virtual QString Location() = 0;
    virtual QString Subject() = 0;
    // Starts at local midnight and fills whole days.
    virtual bool AllDayEvent() = 0;
    // The item has an alarm of its own; without one ReminderMinutesBeforeStart
    // is the usual default.
    virtual bool ReminderSet() = 0;
    // The user's answer to the invitation (olResponse...).
    virtual int ResponseStatus() = 0;
};

class TaskItem : public OutlookItem {
public:
    virtual QString Subject() = 0;
    virtual TDateTime StartDate() = 0;
    virtual TDateTime DueDate() = 0;
    virtual bool Complete() = 0;
    virtual bool ReminderSet() = 0;
    virtual TDateTime ReminderTime() = 0;
    virtual bool IsRecurring() = 0;
    // Moves the task to its next occurrence; false when there is none.
    virtual bool SkipRecurrence() = 0;
};

// A received message (read side) and a new message (write side) share the kind.
class MailItem : public OutlookItem {
public:
    virtual bool UnRead() = 0;
    virtual int Importance() = 0;
    virtual TDateTime ReceivedTime() = 0;
    virtual QString Subject() = 0;
    virtual QString SenderName() = 0;
    virtual void SetTo(const QString& value) = 0;
    virtual void SetSubject(const QString& value) = 0;
    virtual void SetBody(const QString& value) = 0;
    virtual void Send() = 0;
};

class Items {
public:
    virtual ~Items() = default;
    virtual int Count() = 0;
    // Items are numbered from 1; null when no item came back.
    virtual ItemPtr Item(int index) = 0;
};

class MAPIFolder {
public:
    virtual ~MAPIFolder() = default;
    virtual std::shared_ptr<outlook::Items> Items() = 0;
    virtual int UnReadItemCount() = 0;
};

class NameSpace {
public:
    virtual ~NameSpace() = default;
    // Null when the store has no such folder.
    virtual std::shared_ptr<MAPIFolder> GetDefaultFolder(int kind) = 0;
};

class Application {
public:
    virtual ~Application() = default;
    virtual std::shared_ptr<outlook::NameSpace> GetNamespace(const QString& type) = 0;
    virtual ItemPtr CreateItem(int kind) = 0;
};

// The item as the kind a scan expects, or the automation error a late-bound
// property read on another kind would raise.
template <class Kind> std::shared_ptr<Kind> ItemAs(const ItemPtr& item) {
    auto typed = std::dynamic_pointer_cast<Kind>(item);
    if (!typed)
        throw EAutomationError(QStringLiteral("The item does not support this property."));
    return typed;
}

// Connects to the mail application: the store opened or created anew.
class IApplicationFactory {
public:
    virtual ~IApplicationFactory() = default;
    virtual std::shared_ptr<Application> Connect() = 0;
};

// Wraps the Application object: connects on first use when AutoConnect is on.
class TOutlookApplication {
public:
    explicit TOutlookApplication(IApplicationFactory& factory, bool autoConnect = true)
        : factory(factory), AutoConnect(autoConnect) {}

    Application& App() {
        if (!app) {
            if (!AutoConnect)
                throw EAutomationError(QStringLiteral("Not connected to the mail application."));
            app = factory.Connect();
            if (!app)
                throw EAutomationError(
                    QStringLiteral("The mail application could not be reached."));
        }
        return *app;
    }
    Application* operator->() { return &App(); }
    bool Connected() const { return app != nullptr; }

private:
    IApplicationFactory& factory;
    std::shared_ptr<Application> app;

public:
    const bool AutoConnect;
};

} // namespace rp::outlook
