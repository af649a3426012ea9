// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds an arbitrary message file to the Maildir inbox and turns what it reads into
// a notice the way the urgent e-mail scan does. Nothing may crash, and the notice
// must not gain a header line of its own.

#include "engine/TrackedRecords.h"
#include "platform/delivery/MessageComposer.h"
#include "platform/inbox/MaildirInbox.h"
#include "platform/mailstore/MailStoreItems.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QMap>

namespace {

using namespace rp;

// How often each header name starts a line in a composed message's header block.
QMap<QByteArray, int> HeaderLines(const QByteArray& message) {
    QMap<QByteArray, int> names;
    for (const QByteArray& line : message.split('\n')) {
        const QByteArray bare = line.endsWith('\r') ? line.chopped(1) : line;
        if (bare.isEmpty())
            break;
        if (bare.startsWith(' ') || bare.startsWith('\t'))
            continue; // a folded continuation
        ++names[bare.left(bare.indexOf(':')).toLower()];
    }
    return names;
}

QMap<QByteArray, int> NoticeHeaders(const QString& subject) {
    const mailstore::TOutgoingMessage notice{QStringLiteral("ringpost@localhost"),
                                             QStringLiteral("5551234567@txt.example.net"), subject,
                                             QString()};
    return HeaderLines(mailstore::ComposeMessage(notice).text);
}

void CheckNotice(const QString& subject) {
    static const QMap<QByteArray, int> plain = NoticeHeaders(QStringLiteral("Lunch From:Ann"));
    if (NoticeHeaders(subject) != plain)
        fuzz::Fail("a received subject or sender changed the notice's header lines");
}

QString MaildirWith(const uint8_t* data, size_t size) {
    const QString maildir = fuzz::ScratchFolder() + QStringLiteral("/Maildir");
    QDir(maildir).removeRecursively();
    for (const char* sub : {"/new", "/cur", "/tmp"})
        QDir().mkpath(maildir + QLatin1String(sub));
    fuzz::WriteInput(maildir + QStringLiteral("/new/1700000000.M1P1.fuzz"), data, size);
    return maildir;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::QuietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mailstore::TMaildirInbox inbox(MaildirWith(data, size), 0);
    std::shared_ptr<const mailstore::TMaildirContents> contents;
    try {
        contents = inbox.Contents();
    } catch (const outlook::EAutomationError&) {
        return 0; // an unreadable message is reported, not mapped
    }
    for (const auto& record : contents->messages) {
        const auto mail = mailstore::MakeReceivedMail(record);
        mail->UnRead();
        mail->Importance();
        mail->ReceivedTime();
        const QString key = mail->Subject() + QStringLiteral(" From:") + mail->SenderName();
        CheckNotice(CutKey(key));
        CheckNotice(key);
    }
    return 0;
}
