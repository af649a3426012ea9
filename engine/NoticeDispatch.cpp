// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/OutlookProcessor.h"

#include "engine/KeyDump.h"

#include <QMutexLocker>
#include <algorithm>

namespace rp {

namespace {

// A reminder is due this long before its reminder time.
constexpr double kReminderLead = 2 * kOneMinute;
// An unnotified record this late is reminded once more and then dropped.
constexpr double kStaleReminder = 0.25;
// A notified record is dropped once its start lies this far back: a day of clock
// correction (a clock put back, a flight west) plus the hour the appointment scan
// looks back, with an hour to spare. Until then the scan meets that occurrence
// again as already notified; a later occurrence with the same key takes the
// record over (see TrackAppointment).
constexpr double kNotifiedKeep = 1 + 2 * kOneHour;

bool AnyKeyHeld(const KeyStates& states) {
    return std::any_of(states.begin(), states.end(), [](uint8_t state) { return state & 0x80; });
}

} // namespace

bool TOutlookProcessor::SendNewemail(const QString& recipient, const QString& subject,
                                     const QString& body) {
    DebugLog(QStringLiteral("SendNewemail to ") + recipient);
    if (!WaitUntilUserIdle())
        return false;
    QMutexLocker lock(&SendLock);
    try {
        auto mail =
            outlook::ItemAs<outlook::MailItem>(Outlook->App().CreateItem(outlook::olMailItem));
        mail->SetTo(recipient);
        mail->SetSubject(subject);
        mail->SetBody(body);
        mail->Send();
        return true;
    } catch (const outlook::EAutomationError& error) {
        Status(error.Message());
        host->ShowErrorBox(error.Message());
    } catch (const std::exception& error) {
        const QString text = QString::fromLocal8Bit(error.what());
        Status(text);
        host->ShowErrorBox(text);
    }
    return false;
}

// A notice leaves only after IdlePolls polls in a row without a key down or a
// cursor move; a queued message waiting to go out cuts the wait short.
bool TOutlookProcessor::WaitUntilUserIdle() {
    const QPoint noted = deps.Input->CursorPos();
    KeyStates keys{};
    for (int polls = 0; !TestPending && polls < deps.IdlePolls; ++polls) {
        if (StopRequested)
            return false;
        deps.Clock->Yield();
        const QPoint cursor = deps.Input->CursorPos();
        deps.Input->ReadKeyStates(keys);
        if (AnyKeyHeld(keys) || cursor != noted)
            return false;
    }
    return true;
}

void TOutlookProcessor::NotifyEvent(TEventItem& record) {
    if (SendNotice(record.Key))
        record.Notified = true;
}

void TOutlookProcessor::NotifyEventPrefixed(TEventItem& record, const QString& prefix) {
    if (SendNotice(prefix + record.Key))
        record.Notified = true;
}

void TOutlookProcessor::NotifyTask(TTaskEvent& record) {
    if (SendNotice(record.Key))
        record.ReminderSent = true;
}

bool TOutlookProcessor::SendNotice(const QString& subject) {
    StateChanged = true;
    const QString recipient = host->RecipientAddress();
    Status(subject);
    if (!SendNewemail(recipient, subject, QString()))
        return false;
    qCInfo(lcTrace).noquote() << QStringLiteral("Event:") + subject + QStringLiteral(":Notificed");
    return true;
}

// A record may leave the list only once the appointment scan can no longer meet
// its occurrence: a record dropped earlier comes straight back from the next scan
// as never notified, and a stale reminder whose meeting is still ahead (a long
// reminder lead) would then go out again at every pass over the calendar.
bool TOutlookProcessor::OutOfScanReach(const TEventItem& record) {
    return Now() - kNotifiedKeep > record.StartTime;
}

void TOutlookProcessor::HandleNotify() {
    DebugLog(QStringLiteral("HandleNotify"));
    const int tracked = Appointments.Count();
    for (int i = Appointments.Count() - 1; i >= 0; --i) {
        if (StopRequested)
            break;
        TEventItem& record = Appointments.At(i);
        if (record.Notified) {
            if (OutOfScanReach(record))
                Appointments.Delete(i);
            continue;
        }
        if (record.ReminderTime <= Now() + kReminderLead) {
            NotifyEvent(record);
            record.Notified = true;
            // Saved at once, so a crash right after the send does not repeat it.
            SaveStateFiles();
        }
        if (Now() - kStaleReminder > record.ReminderTime && OutOfScanReach(record))
            Appointments.Delete(i);
    }
    // The dump follows the list now rather than at some later scan, so quiet
    // cycles afterwards write nothing.
    if (Appointments.Count() != tracked)
        WriteKeyDump(DataPath(QStringLiteral("Test-Note.NST")), Appointments);
    DebugLog(QStringLiteral("HandleNotify - Exit"));
}

} // namespace rp
