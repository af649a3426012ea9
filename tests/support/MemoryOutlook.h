// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An in-memory mail application for tests: folders of appointments, tasks and
// mail that the test fills through public fields, failures on demand, and a
// record of every message sent.
//
// Member names for failures and call counts are "Object.Member", e.g.
// "Application.GetNamespace", "NameSpace.GetDefaultFolder", "Items.Item",
// "AppointmentItem.Start", "TaskItem.SkipRecurrence", "MailItem.Send" (the writes
// of a new message are "MailItem.To", "MailItem.SetSubject", "MailItem.Body"), and
// "Application.Connect" for the factory's connection.
//
// Edit fields while the engine runs only inside Edit(); every member call holds
// the same lock.

#include "engine/OutlookModel.h"

#include <QHash>
#include <QList>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace rp::test {

class MemoryOutlook;

struct SentMail {
    QString To;
    QString Subject;
    QString Body;
};

class MemoryAppointment;

// A zone of the system's time zone data, by its IANA name.
class MemoryTimeZone : public outlook::TimeZone {
public:
    explicit MemoryTimeZone(QByteArray ianaId) : ianaId(std::move(ianaId)) {}
    QString ID() override { return QString::fromLatin1(ianaId); }
    TDateTime ToLocal(TDateTime wallTime) override;

private:
    QByteArray ianaId;
};

class MemoryException : public outlook::Exception {
public:
    explicit MemoryException(MemoryOutlook& store) : store(store) {}
    TDateTime OriginalDate() override;
    bool Deleted() override;
    std::shared_ptr<outlook::AppointmentItem> AppointmentItem() override;

    TDateTime originalDate = 0;
    bool deleted = true;
    std::shared_ptr<MemoryAppointment> occurrence; // the changed occurrence

private:
    MemoryOutlook& store;
};

class MemoryRecurrence : public outlook::RecurrencePattern {
public:
    explicit MemoryRecurrence(MemoryOutlook& store) : store(store) {}
    int RecurrenceType() override;
    TDateTime PatternStartDate() override;
    TDateTime PatternEndDate() override;
    bool NoEndDate() override;
    int Occurrences() override;
    int Interval() override;
    int DayOfWeekMask() override;
    int DayOfMonth() override;
    TDateTime StartTime() override;
    std::shared_ptr<outlook::TimeZone> StartTimeZone() override;
    std::shared_ptr<outlook::Exceptions> Exceptions() override;

    // Deletes the occurrence that starts at originalDate (the pattern's zone).
    void Delete(TDateTime originalDate);
    // Moves it; the returned occurrence starts at newStart with the series'
    // subject, location and lead time until the test changes them.
    std::shared_ptr<MemoryAppointment> Move(TDateTime originalDate, TDateTime newStart,
                                            const MemoryAppointment& series);

    std::shared_ptr<outlook::TimeZone> startTimeZone; // null: local time
    std::vector<std::shared_ptr<MemoryException>> exceptions;
    int recurrenceType = outlook::olRecursWeekly;
    TDateTime patternStartDate = 0;
    TDateTime patternEndDate = 0;
    bool noEndDate = true;
    int occurrences = 0;
    int interval = 1;
    int dayOfWeekMask = 0;
    int dayOfMonth = 0;
    TDateTime startTime = 0;

private:
    MemoryOutlook& store;
};

class MemoryAppointment : public outlook::AppointmentItem {
public:
    explicit MemoryAppointment(MemoryOutlook& store) : store(store) {}
    bool IsRecurring() override;
    std::shared_ptr<outlook::RecurrencePattern> GetRecurrencePattern() override;
    TDateTime Start() override;
    int ReminderMinutesBeforeStart() override;
    QString Location() override;
    QString Subject() override;
    bool AllDayEvent() override;
    bool ReminderSet() override;
    int ResponseStatus() override;

    bool isRecurring = false;
    std::shared_ptr<MemoryRecurrence> pattern;
    TDateTime start = 0;
    int reminderMinutesBeforeStart = 15;
    QString location;
    QString subject;
    bool allDayEvent = false;
    bool reminderSet = true;
    int responseStatus = outlook::olResponseNone;

private:
    MemoryOutlook& store;
};

class MemoryTask : public outlook::TaskItem {
public:
    explicit MemoryTask(MemoryOutlook& store) : store(store) {}
    QString Subject() override;
    TDateTime StartDate() override;
    TDateTime DueDate() override;
    bool Complete() override;
    bool ReminderSet() override;
    TDateTime ReminderTime() override;
    bool IsRecurring() override;
    // Moves the due date to the first of laterDueDates (the start date by the same
    // step); false when none is left.
    bool SkipRecurrence() override;

    QString subject;
    TDateTime startDate = outlook::NoDate;
    TDateTime dueDate = outlook::NoDate;
    bool complete = false;
    bool reminderSet = false;
    TDateTime reminderTime = outlook::NoDate;
    bool isRecurring = false;
    QList<TDateTime> laterDueDates;
    int skips = 0;

private:
    MemoryOutlook& store;
};

// A received message in the inbox, or a new message made by CreateItem(0).
class MemoryMail : public outlook::MailItem {
public:
    explicit MemoryMail(MemoryOutlook& store) : store(store) {}
    bool UnRead() override;
    int Importance() override;
    TDateTime ReceivedTime() override;
    QString Subject() override;
    QString SenderName() override;
    void SetTo(const QString& value) override;
    void SetSubject(const QString& value) override;
    void SetBody(const QString& value) override;
    void Send() override;

    bool unRead = true;
    int importance = outlook::olImportanceNormal;
    TDateTime receivedTime = 0;
    QString subject;
    QString senderName;
    QString to;
    QString body;
    bool sent = false;

private:
    MemoryOutlook& store;
};

class MemoryFolder : public outlook::MAPIFolder, public std::enable_shared_from_this<MemoryFolder> {
public:
    explicit MemoryFolder(MemoryOutlook& store) : store(store) {}
    std::shared_ptr<outlook::Items> Items() override;
    // unReadItemCount when set (>= 0), else the unread mails in the folder.
    int UnReadItemCount() override;

    std::vector<outlook::ItemPtr> items;
    int unReadItemCount = -1;

private:
    MemoryOutlook& store;
};

class MemoryOutlook {
public:
    MemoryOutlook();

    // The default folders; set one to null to make GetDefaultFolder return null.
    std::shared_ptr<MemoryFolder> calendar;
    std::shared_ptr<MemoryFolder> tasks;
    std::shared_ptr<MemoryFolder> inbox;

    // New items appended to their folder.
    std::shared_ptr<MemoryAppointment> AddAppointment(const QString& subject, TDateTime start);
    std::shared_ptr<MemoryTask> AddTask(const QString& subject, TDateTime dueDate);
    std::shared_ptr<MemoryMail> AddMail(const QString& subject, const QString& sender);
    std::shared_ptr<MemoryRecurrence> NewPattern();

    // Makes calls number first .. first+times-1 of the member throw (times < 0:
    // every call from first on).
    void FailOn(const QString& member, int first = 1, int times = -1,
                const QString& message = QStringLiteral("The operation failed."));
    // Makes the nth call of any member throw.
    void FailOnCall(int nth, const QString& message = QStringLiteral("The operation failed."));
    void ClearFailures();

    int Calls(const QString& member) const;
    int TotalCalls() const;
    int Connects() const { return Calls(QStringLiteral("Application.Connect")); }
    int CreatedItems() const { return Calls(QStringLiteral("Application.CreateItem")); }
    // Every message sent, in order.
    std::vector<SentMail> Sent() const;

    // A factory that connects to this store; the store must outlive it.
    std::unique_ptr<outlook::IApplicationFactory> Factory();

    // Runs change under the store's lock.
    template <class Change> void Edit(Change change) {
        std::lock_guard lock(mutex);
        change();
    }

    // For the items: counts the call and throws when it is meant to fail; the
    // lock is held until the returned guard goes.
    std::unique_lock<std::recursive_mutex> Enter(const char* member);
    void RecordSent(SentMail mail);

private:
    struct Failure {
        QString member; // empty: any member
        int first;
        int times;
        QString message;
    };
    mutable std::recursive_mutex mutex;
    QHash<QString, int> calls;
    int totalCalls = 0;
    QList<Failure> failures;
    std::vector<SentMail> sent;
};

} // namespace rp::test
