// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/MailRules.h"
#include "engine/OutlookProcessor.h"

namespace rp {

namespace {

// A pause after every unread message keeps the walk gentle on the mail application.
constexpr int kPauseAfterUnreadMs = 54;

// The received time is read only of a message of high importance.
bool IsRecentUrgent(outlook::MailItem& mail, IClock& clock) {
    return mail.Importance() == outlook::olImportanceHigh &&
           WithinUrgentSpan(mail.ReceivedTime(), clock.Now());
}

// Remembers a message not announced yet, under its cut key; false when it was.
bool RememberNew(TSortedList<TEmailItem>& emails, const QString& key, TDateTime now) {
    const QString storedKey = CutKey(key);
    if (emails.Find(storedKey) >= 0)
        return false;
    auto record = std::make_unique<TEmailItem>();
    record->Key = storedKey;
    record->SeenTime = now;
    return emails.Add(storedKey, std::move(record));
}

void PruneOlderThanADay(TSortedList<TEmailItem>& emails, IClock& clock) {
    for (int i = emails.Count() - 1; i >= 0; --i)
        if (EmailRecordExpired(emails.At(i), clock.Now()))
            emails.Delete(i);
}

} // namespace

void TOutlookProcessor::CheckUrgentEmail() {
    OpenInboxFolder();
    // No inbox was ever handed over: nothing to examine, but old records still go.
    const int count = InboxFolder ? InboxFolder->Items()->Count() : 0;
    // StopRequested too: with thousands of unread messages the walk would
    // otherwise hold up closing for minutes.
    for (int position = 1; position <= count && !StopRequested; ++position) {
        if (InboxFolder->UnReadItemCount() == 0 || AnyKeyDown())
            break;
        auto mail = outlook::ItemAs<outlook::MailItem>(InboxFolder->Items()->Item(position));
        if (!mail->UnRead())
            continue;
        if (IsRecentUrgent(*mail, *deps.Clock)) {
            const QString subject = mail->Subject();
            const QString key = MessageKey(subject, mail->SenderName());
            // Remembered before the send: a message whose notice failed is not retried.
            if (RememberNew(Emails, key, Now()) &&
                SendNewemail(host->RecipientAddress(), QStringLiteral("Urgent Email:") + key, {}))
                SaveStateFiles(); // at once, so a crash right after does not repeat it
        }
        deps.Clock->Sleep(kPauseAfterUnreadMs);
    }
    PruneOlderThanADay(Emails, *deps.Clock);
}

} // namespace rp
