// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/OutlookProcessor.h"

#include "engine/AppointmentRules.h"
#include "engine/AppriseAddress.h"
#include "engine/CycleRules.h"
#include "engine/KeyDump.h"

#include <QMutexLocker>

namespace rp {

bool TOutlookProcessor::SendNewemail(const QString& recipient, const QString& subject,
                                     const QString& body) {
    // The log may be shared when asking for help: no tokens or passwords in it.
    DebugLog(QStringLiteral("SendNewemail to ") + MaskedRecipient(recipient));
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

// A notice that went out marks its record: an appointment as notified, a task as
// reminded, whichever of its three notices it was, so a pre-notice or past-due
// reminder stands in for the task reminder. What a notice that did not go out
// leaves on its record is its caller's to decide.
bool TOutlookProcessor::NotifyEvent(TEventItem& record) {
    return NotifyEventPrefixed(record, QString());
}

bool TOutlookProcessor::NotifyEventPrefixed(TEventItem& record, const QString& prefix) {
    const bool sent = SendNotice(prefix + record.Key);
    if (sent)
        record.Notified = true;
    return sent;
}

bool TOutlookProcessor::NotifyTask(TTaskEvent& record) {
    const bool sent = SendNotice(record.Key);
    if (sent)
        record.ReminderSent = true;
    return sent;
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

void TOutlookProcessor::HandleNotify() {
    DebugLog(QStringLiteral("HandleNotify"));
    const int tracked = Appointments.Count();
    for (int i = Appointments.Count() - 1; i >= 0 && !StopRequested; --i) {
        TEventItem& record = Appointments.At(i);
        if (record.Notified) {
            if (OutOfScanReach(record, Now()))
                Appointments.Delete(i);
            continue;
        }
        if (MeetingReminderDue(record, Now())) {
            // Tried once: a reminder that did not go out is not tried again.
            if (!NotifyEvent(record))
                record.Notified = true;
            // Saved at once, so a crash right after the send does not repeat it.
            SaveStateFiles();
        }
        if (StaleReminderLeaves(record, Now()))
            Appointments.Delete(i);
    }
    // The dump follows the list now rather than at some later scan, so quiet
    // cycles afterwards write nothing.
    if (Appointments.Count() != tracked)
        WriteKeyDump(DataPath(QStringLiteral("Test-Note.NST")), Appointments);
    DebugLog(QStringLiteral("HandleNotify - Exit"));
}

} // namespace rp
