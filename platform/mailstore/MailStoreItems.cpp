// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/mailstore/MailStoreItems.h"

#include "platform/calendar/IcalTime.h"
#include "platform/calendar/IcsSource.h"
#include "platform/calendar/TaskRecurrence.h"
#include "platform/common/Files.h"

namespace rp::mailstore {

namespace {

using outlook::EAutomationError;

class TTimeZone : public outlook::TimeZone {
public:
    explicit TTimeZone(std::shared_ptr<const TIcalZone> zone) : zone(std::move(zone)) {}
    QString ID() override { return zone->Id(); }
    TDateTime ToLocal(TDateTime wallTime) override { return zone->ToLocal(wallTime); }

private:
    std::shared_ptr<const TIcalZone> zone;
};

class TException : public outlook::Exception {
public:
    explicit TException(TExceptionRecord record) : record(std::move(record)) {}
    TDateTime OriginalDate() override { return record.originalDate; }
    bool Deleted() override { return record.changed == nullptr; }
    std::shared_ptr<outlook::AppointmentItem> AppointmentItem() override {
        if (!record.changed)
            throw EAutomationError(QStringLiteral("The occurrence was deleted."));
        return MakeAppointment(record.changed);
    }

private:
    TExceptionRecord record;
};

class TExceptions : public outlook::Exceptions {
public:
    explicit TExceptions(const std::vector<TExceptionRecord>& records) : records(records) {}
    int Count() override { return static_cast<int>(records.size()); }
    std::shared_ptr<outlook::Exception> Item(int index) override {
        if (index < 1 || index > Count())
            throw EAutomationError(QStringLiteral("Array index out of bounds."));
        return std::make_shared<TException>(records[static_cast<size_t>(index - 1)]);
    }

private:
    const std::vector<TExceptionRecord>& records;
};

class TPattern : public outlook::RecurrencePattern {
public:
    // The record must outlive the pattern: the item that hands it out holds it.
    explicit TPattern(std::shared_ptr<const TRecurrenceRecord> record)
        : record(std::move(record)) {}
    int RecurrenceType() override { return record->type; }
    TDateTime PatternStartDate() override { return record->patternStartDate; }
    TDateTime PatternEndDate() override { return record->patternEndDate; }
    bool NoEndDate() override { return record->noEndDate; }
    int Occurrences() override { return record->occurrences; }
    int Interval() override { return record->interval; }
    int DayOfWeekMask() override { return record->dayOfWeekMask; }
    int DayOfMonth() override { return record->dayOfMonth; }
    TDateTime StartTime() override { return record->startTime; }
    std::shared_ptr<outlook::TimeZone> StartTimeZone() override {
        return record->zone ? std::make_shared<TTimeZone>(record->zone) : nullptr;
    }
    std::shared_ptr<outlook::Exceptions> Exceptions() override {
        return std::make_shared<TExceptionsHolder>(record);
    }

private:
    // Keeps the record alive as long as the collection is.
    class TExceptionsHolder : public TExceptions {
    public:
        explicit TExceptionsHolder(std::shared_ptr<const TRecurrenceRecord> record)
            : TExceptions(record->exceptions), record(std::move(record)) {}

    private:
        std::shared_ptr<const TRecurrenceRecord> record;
    };
    std::shared_ptr<const TRecurrenceRecord> record;
};

// What a single appointment's pattern reads like: one occurrence, its start.
TRecurrenceRecord SingleOccurrence(TDateTime start) {
    TRecurrenceRecord record;
    record.occurrences = 1;
    record.noEndDate = false;
    record.patternStartDate = WholeDay(start);
    record.patternEndDate = WholeDay(start);
    record.startTime = TimeOfDay(start);
    return record;
}

class TAppointment : public outlook::AppointmentItem {
public:
    explicit TAppointment(std::shared_ptr<const TAppointmentRecord> record)
        : record(std::move(record)) {}
    bool IsRecurring() override { return record->recurrence != nullptr; }
    std::shared_ptr<outlook::RecurrencePattern> GetRecurrencePattern() override {
        return std::make_shared<TPattern>(
            record->recurrence
                ? record->recurrence
                : std::make_shared<const TRecurrenceRecord>(SingleOccurrence(record->start)));
    }
    TDateTime Start() override { return record->start; }
    int ReminderMinutesBeforeStart() override { return record->reminder.minutes; }
    QString Location() override { return QString::fromUtf8(record->location); }
    QString Subject() override { return QString::fromUtf8(record->subject); }
    bool AllDayEvent() override { return record->reminder.allDay; }
    bool ReminderSet() override { return record->reminder.set; }
    int ResponseStatus() override { return record->reminder.response; }

private:
    std::shared_ptr<const TAppointmentRecord> record;
};

class TTask : public outlook::TaskItem {
public:
    TTask(std::shared_ptr<const TTaskRecord> record, std::shared_ptr<TIcsSource> source)
        : record(std::move(record)), source(std::move(source)) {}
    QString Subject() override { return record->subject; }
    TDateTime StartDate() override { return record->startDate; }
    TDateTime DueDate() override { return record->dueDate; }
    bool Complete() override { return record->complete; }
    bool ReminderSet() override { return record->reminderSet; }
    TDateTime ReminderTime() override { return record->reminderTime; }
    bool IsRecurring() override { return record->recurring; }

    bool SkipRecurrence() override {
        // An ended rule is known from the read: the whole file is not parsed again
        // at every examination of the task.
        if (!record->recurring || !record->hasNextOccurrence)
            return false;
        std::optional<TTaskRecord> moved =
            source ? source->SkipTask(*record) : SkipTaskToNextOccurrence(record->origin);
        if (!moved)
            return false;
        record = std::make_shared<const TTaskRecord>(std::move(*moved));
        return true;
    }

private:
    std::shared_ptr<const TTaskRecord> record;
    std::shared_ptr<TIcsSource> source;
};

class TReceivedMail : public outlook::MailItem {
public:
    explicit TReceivedMail(TMailRecord record) : record(std::move(record)) {}
    bool UnRead() override { return record.unread; }
    int Importance() override { return record.importance; }
    TDateTime ReceivedTime() override { return record.receivedTime; }
    QString Subject() override { return QString::fromUtf8(record.subject); }
    QString SenderName() override { return QString::fromUtf8(record.senderName); }
    void SetTo(const QString&) override { Refuse(); }
    void SetSubject(const QString&) override { Refuse(); }
    void SetBody(const QString&) override { Refuse(); }
    void Send() override { Refuse(); }

private:
    [[noreturn]] static void Refuse() {
        throw EAutomationError(QStringLiteral("A received message cannot be changed or sent."));
    }
    TMailRecord record;
};

class TNewMail : public outlook::MailItem {
public:
    TNewMail(QString from, std::shared_ptr<IMailTransport> transport)
        : transport(std::move(transport)) {
        message.from = std::move(from);
    }
    bool UnRead() override { return false; }
    int Importance() override { return outlook::olImportanceNormal; }
    TDateTime ReceivedTime() override { return 0; }
    QString Subject() override { return message.subject; }
    QString SenderName() override { return message.from; }
    void SetTo(const QString& value) override { message.to = value; }
    void SetSubject(const QString& value) override { message.subject = value; }
    void SetBody(const QString& value) override { message.body = value; }

    void Send() override {
        if (sent)
            throw EAutomationError(QStringLiteral("The message has already been sent."));
        const QString answer = transport->SendMessage(message);
        sent = true;
        qCInfo(lcMailStore).noquote() << answer;
    }

private:
    TOutgoingMessage message;
    std::shared_ptr<IMailTransport> transport;
    bool sent = false;
};

} // namespace

std::shared_ptr<outlook::AppointmentItem>
MakeAppointment(std::shared_ptr<const TAppointmentRecord> record) {
    return std::make_shared<TAppointment>(std::move(record));
}

std::shared_ptr<outlook::TaskItem> MakeTask(std::shared_ptr<const TTaskRecord> record,
                                            std::shared_ptr<TIcsSource> source) {
    return std::make_shared<TTask>(std::move(record), std::move(source));
}

std::shared_ptr<outlook::MailItem> MakeReceivedMail(const TMailRecord& record) {
    return std::make_shared<TReceivedMail>(std::move(record));
}

std::shared_ptr<outlook::MailItem> MakeNewMail(QString from,
                                               std::shared_ptr<IMailTransport> transport) {
    return std::make_shared<TNewMail>(std::move(from), std::move(transport));
}

} // namespace rp::mailstore
