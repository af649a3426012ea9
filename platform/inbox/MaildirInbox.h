// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A Maildir read as the inbox: the messages of new/ and cur/, each read from its
// header once; a flag change (a rename) costs no second read.

#include "engine/DateTime.h"
#include "platform/common/Files.h"

#include <QElapsedTimer>
#include <QSet>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace rp::mailstore {

// One received message, held by value in its snapshot: thousands of them stay in
// memory all day, so the texts are kept as UTF-8 and sized to fit.
struct TMailRecord {
    bool unread = true;
    int importance = 1;
    int uniqueLength = 0; // of fileName, before its flags
    TDateTime receivedTime = 0;
    QByteArray subject;    // UTF-8
    QByteArray senderName; // UTF-8
    QString fileName;      // as found in new/ or cur/, flags included

    QStringView UniqueName() const { return QStringView(fileName).left(uniqueLength); }
};

struct TMaildirContents {
    std::vector<TMailRecord> messages; // by unique name
    int unreadCount = 0;
};

// Whatever stands behind the inbox folder: a Maildir or an IMAP mailbox. The
// contents are a snapshot; reading it never waits for a server.
class IInboxSource {
public:
    virtual ~IInboxSource() = default;
    // Throws EAutomationError when the inbox cannot be read at all.
    virtual std::shared_ptr<const TMaildirContents> Contents() = 0;
};

// The unique part of a Maildir file name, before its ":2,FLAGS" information.
QString MaildirUniqueName(const QString& fileName);
// True when the name's flags hold S (seen).
bool MaildirSeen(const QString& fileName);
// The delivery time in a Maildir file name ("1700000000.M1P2.host"), if any.
std::optional<TDateTime> MaildirDeliveryTime(const QString& fileName);

class TMaildirInbox : public IInboxSource {
public:
    TMaildirInbox(QString path, int recheckMs = 1000);

    // Throws EAutomationError naming the folder or a message that cannot be read.
    std::shared_ptr<const TMaildirContents> Contents() override;
    void Invalidate();

    const QString& Path() const { return path; }
    int ParseCount() const { return parses; }

private:
    bool FoldersChanged();
    void Relist();
    void AddMessage(const QString& folder, const QString& fileName, std::vector<TMailRecord>& next);
    const TMailRecord* Known(QStringView uniqueName) const;
    std::optional<TMailRecord> ReadMessage(const QString& folder, const QString& fileName);

    QString path;
    int recheckMs;
    QElapsedTimer sinceCheck;
    TFileStamp newStamp;
    TFileStamp curStamp;
    std::shared_ptr<const TMaildirContents> snapshot; // also what is known of each message
    QSet<QByteArray> senderNames;                     // of the messages one relisting reads
    int parses = 0;
};

} // namespace rp::mailstore
