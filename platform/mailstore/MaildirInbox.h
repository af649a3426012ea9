#pragma once
// A Maildir read as the inbox: the messages of new/ and cur/, each read from its
// header once; a flag change (a rename) costs no second read.

#include "engine/DateTime.h"
#include "platform/mailstore/MailStoreFiles.h"

#include <QElapsedTimer>
#include <QString>
#include <map>
#include <memory>
#include <vector>

namespace rp::mailstore {

struct TMailRecord {
    bool unread = true;
    int importance = 1;
    TDateTime receivedTime = 0;
    QString subject;
    QString senderName;
};

struct TMaildirContents {
    std::vector<std::shared_ptr<const TMailRecord>> messages; // by file name
    int unreadCount = 0;
};

// The unique part of a Maildir file name, before its ":2,FLAGS" information.
QString MaildirUniqueName(const QString& fileName);
// True when the name's flags hold S (seen).
bool MaildirSeen(const QString& fileName);
// The delivery time in a Maildir file name ("1700000000.M1P2.host"), if any.
std::optional<TDateTime> MaildirDeliveryTime(const QString& fileName);

class TMaildirInbox {
public:
    TMaildirInbox(QString path, int recheckMs = 1000);

    // Throws EAutomationError naming the folder or a message that cannot be read.
    std::shared_ptr<const TMaildirContents> Contents();
    void Invalidate();

    const QString& Path() const { return path; }
    int ParseCount() const { return parses; }

private:
    struct TKnownMessage {
        QString fileName;
        std::shared_ptr<TMailRecord> record;
    };

    bool FoldersChanged();
    void Relist();
    std::shared_ptr<TMailRecord> ReadMessage(const QString& folder, const QString& fileName);

    QString path;
    int recheckMs;
    QElapsedTimer sinceCheck;
    TFileStamp newStamp;
    TFileStamp curStamp;
    std::map<QString, TKnownMessage> known; // by unique name
    std::shared_ptr<const TMaildirContents> snapshot;
    int parses = 0;
};

} // namespace rp::mailstore
