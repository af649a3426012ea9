// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/MemoryOutlook.h"

#include <QTimeZone>
#include <cmath>

namespace rp::test {

using outlook::EAutomationError;

namespace {

class MemoryItems : public outlook::Items {
public:
    MemoryItems(MemoryOutlook& store, std::shared_ptr<MemoryFolder> folder)
        : store(store), folder(std::move(folder)) {}

    int Count() override {
        auto lock = store.Enter("Items.Count");
        return static_cast<int>(folder->items.size());
    }

    outlook::ItemPtr Item(int index) override {
        auto lock = store.Enter("Items.Item");
        if (index < 1 || index > static_cast<int>(folder->items.size()))
            throw EAutomationError(QStringLiteral("Array index out of bounds."));
        return folder->items[index - 1];
    }

private:
    MemoryOutlook& store;
    std::shared_ptr<MemoryFolder> folder;
};

class MemoryNameSpace : public outlook::NameSpace {
public:
    explicit MemoryNameSpace(MemoryOutlook& store) : store(store) {}

    std::shared_ptr<outlook::MAPIFolder> GetDefaultFolder(int kind) override {
        auto lock = store.Enter("NameSpace.GetDefaultFolder");
        switch (kind) {
        case outlook::olFolderCalendar:
            return store.calendar;
        case outlook::olFolderTasks:
            return store.tasks;
        case outlook::olFolderInbox:
            return store.inbox;
        default:
            throw EAutomationError(QStringLiteral("The folder kind is not known."));
        }
    }

private:
    MemoryOutlook& store;
};

class MemoryApplication : public outlook::Application {
public:
    explicit MemoryApplication(MemoryOutlook& store) : store(store) {}

    std::shared_ptr<outlook::NameSpace> GetNamespace(const QString& type) override {
        auto lock = store.Enter("Application.GetNamespace");
        if (type != QLatin1String("MAPI"))
            throw EAutomationError(QStringLiteral("Unknown namespace ") + type);
        return std::make_shared<MemoryNameSpace>(store);
    }

    outlook::ItemPtr CreateItem(int kind) override {
        auto lock = store.Enter("Application.CreateItem");
        if (kind != outlook::olMailItem)
            throw EAutomationError(QStringLiteral("Only mail items can be created here."));
        auto mail = std::make_shared<MemoryMail>(store);
        mail->unRead = false;
        return mail;
    }

private:
    MemoryOutlook& store;
};

class MemoryFactory : public outlook::IApplicationFactory {
public:
    explicit MemoryFactory(MemoryOutlook& store) : store(store) {}

    std::shared_ptr<outlook::Application> Connect() override {
        auto lock = store.Enter("Application.Connect");
        return std::make_shared<MemoryApplication>(store);
    }

private:
    MemoryOutlook& store;
};

} // namespace

// ---- items

namespace {

class MemoryExceptions : public outlook::Exceptions {
public:
    MemoryExceptions(MemoryOutlook& store, std::vector<std::shared_ptr<MemoryException>> entries)
        : store(store), entries(std::move(entries)) {}
    int Count() override {
        auto lock = store.Enter("Exceptions.Count");
        return static_cast<int>(entries.size());
    }
    std::shared_ptr<outlook::Exception> Item(int index) override {
        auto lock = store.Enter("Exceptions.Item");
        if (index < 1 || index > static_cast<int>(entries.size()))
            throw EAutomationError(QStringLiteral("Array index out of bounds."));
        return entries[static_cast<size_t>(index - 1)];
    }

private:
    MemoryOutlook& store;
    std::vector<std::shared_ptr<MemoryException>> entries;
};

} // namespace

int MemoryRecurrence::RecurrenceType() {
    auto lock = store.Enter("RecurrencePattern.RecurrenceType");
    return recurrenceType;
}
TDateTime MemoryRecurrence::PatternStartDate() {
    auto lock = store.Enter("RecurrencePattern.PatternStartDate");
    return patternStartDate;
}
TDateTime MemoryRecurrence::PatternEndDate() {
    auto lock = store.Enter("RecurrencePattern.PatternEndDate");
    return patternEndDate;
}
bool MemoryRecurrence::NoEndDate() {
    auto lock = store.Enter("RecurrencePattern.NoEndDate");
    return noEndDate;
}
int MemoryRecurrence::Occurrences() {
    auto lock = store.Enter("RecurrencePattern.Occurrences");
    return occurrences;
}
int MemoryRecurrence::Interval() {
    auto lock = store.Enter("RecurrencePattern.Interval");
    return interval;
}
int MemoryRecurrence::DayOfWeekMask() {
    auto lock = store.Enter("RecurrencePattern.DayOfWeekMask");
    return dayOfWeekMask;
}
int MemoryRecurrence::DayOfMonth() {
    auto lock = store.Enter("RecurrencePattern.DayOfMonth");
    return dayOfMonth;
}
TDateTime MemoryRecurrence::StartTime() {
    auto lock = store.Enter("RecurrencePattern.StartTime");
    return startTime;
}

std::shared_ptr<outlook::TimeZone> MemoryRecurrence::StartTimeZone() {
    auto lock = store.Enter("RecurrencePattern.StartTimeZone");
    return startTimeZone;
}
std::shared_ptr<outlook::Exceptions> MemoryRecurrence::Exceptions() {
    auto lock = store.Enter("RecurrencePattern.Exceptions");
    return std::make_shared<MemoryExceptions>(store, exceptions);
}
void MemoryRecurrence::Delete(TDateTime originalDate) {
    auto exception = std::make_shared<MemoryException>(store);
    exception->originalDate = originalDate;
    exceptions.push_back(exception);
}
std::shared_ptr<MemoryAppointment> MemoryRecurrence::Move(TDateTime originalDate,
                                                          TDateTime newStart,
                                                          const MemoryAppointment& series) {
    auto exception = std::make_shared<MemoryException>(store);
    exception->originalDate = originalDate;
    exception->deleted = false;
    exception->occurrence = std::make_shared<MemoryAppointment>(store);
    exception->occurrence->start = newStart;
    exception->occurrence->subject = series.subject;
    exception->occurrence->location = series.location;
    exception->occurrence->reminderMinutesBeforeStart = series.reminderMinutesBeforeStart;
    exceptions.push_back(exception);
    return exception->occurrence;
}

TDateTime MemoryTimeZone::ToLocal(TDateTime wallTime) {
    // Split by hand: a wall time of another zone may not exist in local time.
    const auto msec = static_cast<int>(std::llround(TimeOfDay(wallTime) * 86400000.0));
    return FromQDateTime(
        QDateTime(ToQDate(wallTime), QTime::fromMSecsSinceStartOfDay(msec), QTimeZone(ianaId)));
}

TDateTime MemoryException::OriginalDate() {
    auto lock = store.Enter("Exception.OriginalDate");
    return originalDate;
}
bool MemoryException::Deleted() {
    auto lock = store.Enter("Exception.Deleted");
    return deleted;
}
std::shared_ptr<outlook::AppointmentItem> MemoryException::AppointmentItem() {
    auto lock = store.Enter("Exception.AppointmentItem");
    if (deleted || !occurrence)
        throw EAutomationError(QStringLiteral("The occurrence was deleted."));
    return occurrence;
}

bool MemoryAppointment::IsRecurring() {
    auto lock = store.Enter("AppointmentItem.IsRecurring");
    return isRecurring;
}
std::shared_ptr<outlook::RecurrencePattern> MemoryAppointment::GetRecurrencePattern() {
    auto lock = store.Enter("AppointmentItem.GetRecurrencePattern");
    if (!pattern)
        throw EAutomationError(QStringLiteral("The appointment does not recur."));
    return pattern;
}
TDateTime MemoryAppointment::Start() {
    auto lock = store.Enter("AppointmentItem.Start");
    return start;
}
int MemoryAppointment::ReminderMinutesBeforeStart() {
    auto lock = store.Enter("AppointmentItem.ReminderMinutesBeforeStart");
    return reminderMinutesBeforeStart;
}
QString MemoryAppointment::Location() {
    auto lock = store.Enter("AppointmentItem.Location");
    return location;
}
QString MemoryAppointment::Subject() {
    auto lock = store.Enter("AppointmentItem.Subject");
    return subject;
}
bool MemoryAppointment::AllDayEvent() {
    auto lock = store.Enter("AppointmentItem.AllDayEvent");
    return allDayEvent;
}
bool MemoryAppointment::ReminderSet() {
    auto lock = store.Enter("AppointmentItem.ReminderSet");
    return reminderSet;
}
int MemoryAppointment::ResponseStatus() {
    auto lock = store.Enter("AppointmentItem.ResponseStatus");
    return responseStatus;
}

QString MemoryTask::Subject() {
    auto lock = store.Enter("TaskItem.Subject");
    return subject;
}
TDateTime MemoryTask::StartDate() {
    auto lock = store.Enter("TaskItem.StartDate");
    return startDate;
}
TDateTime MemoryTask::DueDate() {
    auto lock = store.Enter("TaskItem.DueDate");
    return dueDate;
}
bool MemoryTask::Complete() {
    auto lock = store.Enter("TaskItem.Complete");
    return complete;
}
bool MemoryTask::ReminderSet() {
    auto lock = store.Enter("TaskItem.ReminderSet");
    return reminderSet;
}
TDateTime MemoryTask::ReminderTime() {
    auto lock = store.Enter("TaskItem.ReminderTime");
    return reminderTime;
}
bool MemoryTask::IsRecurring() {
    auto lock = store.Enter("TaskItem.IsRecurring");
    return isRecurring;
}
bool MemoryTask::SkipRecurrence() {
    auto lock = store.Enter("TaskItem.SkipRecurrence");
    ++skips;
    if (laterDueDates.isEmpty())
        return false;
    const TDateTime next = laterDueDates.takeFirst();
    if (startDate != outlook::NoDate)
        startDate += next - dueDate;
    dueDate = next;
    return true;
}

bool MemoryMail::UnRead() {
    auto lock = store.Enter("MailItem.UnRead");
    return unRead;
}
int MemoryMail::Importance() {
    auto lock = store.Enter("MailItem.Importance");
    return importance;
}
TDateTime MemoryMail::ReceivedTime() {
    auto lock = store.Enter("MailItem.ReceivedTime");
    return receivedTime;
}
QString MemoryMail::Subject() {
    auto lock = store.Enter("MailItem.Subject");
    return subject;
}
QString MemoryMail::SenderName() {
    auto lock = store.Enter("MailItem.SenderName");
    return senderName;
}
void MemoryMail::SetTo(const QString& value) {
    auto lock = store.Enter("MailItem.To");
    to = value;
}
void MemoryMail::SetSubject(const QString& value) {
    auto lock = store.Enter("MailItem.SetSubject");
    subject = value;
}
void MemoryMail::SetBody(const QString& value) {
    auto lock = store.Enter("MailItem.Body");
    body = value;
}
void MemoryMail::Send() {
    auto lock = store.Enter("MailItem.Send");
    if (sent)
        throw EAutomationError(QStringLiteral("The item has been moved or deleted."));
    sent = true;
    store.RecordSent({to, subject, body});
}

std::shared_ptr<outlook::Items> MemoryFolder::Items() {
    auto lock = store.Enter("MAPIFolder.Items");
    return std::make_shared<MemoryItems>(store, shared_from_this());
}

int MemoryFolder::UnReadItemCount() {
    auto lock = store.Enter("MAPIFolder.UnReadItemCount");
    if (unReadItemCount >= 0)
        return unReadItemCount;
    int count = 0;
    for (const auto& item : items)
        if (auto mail = std::dynamic_pointer_cast<MemoryMail>(item); mail && mail->unRead)
            ++count;
    return count;
}

// ---- the store

MemoryOutlook::MemoryOutlook()
    : calendar(std::make_shared<MemoryFolder>(*this)), tasks(std::make_shared<MemoryFolder>(*this)),
      inbox(std::make_shared<MemoryFolder>(*this)) {}

std::shared_ptr<MemoryAppointment> MemoryOutlook::AddAppointment(const QString& subject,
                                                                 TDateTime start) {
    std::lock_guard lock(mutex);
    auto item = std::make_shared<MemoryAppointment>(*this);
    item->subject = subject;
    item->start = start;
    calendar->items.push_back(item);
    return item;
}

std::shared_ptr<MemoryTask> MemoryOutlook::AddTask(const QString& subject, TDateTime dueDate) {
    std::lock_guard lock(mutex);
    auto item = std::make_shared<MemoryTask>(*this);
    item->subject = subject;
    item->dueDate = dueDate;
    tasks->items.push_back(item);
    return item;
}

std::shared_ptr<MemoryMail> MemoryOutlook::AddMail(const QString& subject, const QString& sender) {
    std::lock_guard lock(mutex);
    auto item = std::make_shared<MemoryMail>(*this);
    item->subject = subject;
    item->senderName = sender;
    inbox->items.push_back(item);
    return item;
}

std::shared_ptr<MemoryRecurrence> MemoryOutlook::NewPattern() {
    return std::make_shared<MemoryRecurrence>(*this);
}

void MemoryOutlook::FailOn(const QString& member, int first, int times, const QString& message) {
    std::lock_guard lock(mutex);
    failures.append({member, first, times, message});
}

void MemoryOutlook::FailOnCall(int nth, const QString& message) {
    FailOn(QString(), nth, 1, message);
}

void MemoryOutlook::ClearFailures() {
    std::lock_guard lock(mutex);
    failures.clear();
}

int MemoryOutlook::Calls(const QString& member) const {
    std::lock_guard lock(mutex);
    return calls.value(member);
}

int MemoryOutlook::TotalCalls() const {
    std::lock_guard lock(mutex);
    return totalCalls;
}

std::vector<SentMail> MemoryOutlook::Sent() const {
    std::lock_guard lock(mutex);
    return sent;
}

std::unique_ptr<outlook::IApplicationFactory> MemoryOutlook::Factory() {
    return std::make_unique<MemoryFactory>(*this);
}

std::unique_lock<std::recursive_mutex> MemoryOutlook::Enter(const char* member) {
    std::unique_lock lock(mutex);
    const QString name = QLatin1String(member);
    const int memberCall = ++calls[name];
    const int anyCall = ++totalCalls;
    for (const Failure& failure : failures) {
        const int call = failure.member.isEmpty() ? anyCall : memberCall;
        if (!failure.member.isEmpty() && failure.member != name)
            continue;
        if (call >= failure.first && (failure.times < 0 || call < failure.first + failure.times))
            throw EAutomationError(failure.message);
    }
    return lock;
}

void MemoryOutlook::RecordSent(SentMail mail) {
    std::lock_guard lock(mutex);
    sent.push_back(std::move(mail));
}

} // namespace rp::test
