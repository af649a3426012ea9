#include "platform/mailstore/MaildirInbox.h"

#include "engine/OutlookModel.h"
#include "platform/mailstore/MessageHeaders.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <optional>

namespace rp::mailstore {

namespace {

// ':' is the standard separator; '!' is what mail tools use where ':' is not allowed.
qsizetype InfoStart(const QString& fileName) {
    const qsizetype colon = fileName.indexOf(QLatin1String(":2,"));
    return colon >= 0 ? colon : fileName.indexOf(QLatin1String("!2,"));
}

std::shared_ptr<TMailRecord> CopyWithFlags(const TMailRecord& record, const QString& fileName) {
    auto copy = std::make_shared<TMailRecord>(record);
    copy->unread = !MaildirSeen(fileName);
    return copy;
}

} // namespace

QString MaildirUniqueName(const QString& fileName) {
    const qsizetype start = InfoStart(fileName);
    return start < 0 ? fileName : fileName.left(start);
}

bool MaildirSeen(const QString& fileName) {
    const qsizetype start = InfoStart(fileName);
    return start >= 0 && fileName.indexOf(QLatin1Char('S'), start + 3) >= 0;
}

std::optional<TDateTime> MaildirDeliveryTime(const QString& fileName) {
    const qsizetype dot = fileName.indexOf(QLatin1Char('.'));
    if (dot <= 0)
        return std::nullopt;
    bool ok = false;
    const qint64 seconds = fileName.left(dot).toLongLong(&ok);
    if (!ok || seconds <= 0)
        return std::nullopt;
    return FromQDateTime(QDateTime::fromSecsSinceEpoch(seconds));
}

TMaildirInbox::TMaildirInbox(QString path, int recheckMs)
    : path(std::move(path)), recheckMs(recheckMs) {}

void TMaildirInbox::Invalidate() {
    sinceCheck.invalidate();
}

std::shared_ptr<const TMaildirContents> TMaildirInbox::Contents() {
    if (!snapshot || !sinceCheck.isValid() || sinceCheck.elapsed() >= recheckMs) {
        if (FoldersChanged() || !snapshot)
            Relist();
        sinceCheck.start();
    }
    return snapshot;
}

bool TMaildirInbox::FoldersChanged() {
    const TFileStamp newNow = StampOf(path + QStringLiteral("/new"));
    const TFileStamp curNow = StampOf(path + QStringLiteral("/cur"));
    if (!newNow.exists && !curNow.exists)
        throw outlook::EAutomationError(
            QStringLiteral("Cannot read the inbox \"%1\": it is not a Maildir (no cur/ or new/ "
                           "folder).")
                .arg(path));
    const bool changed = newNow != newStamp || curNow != curStamp;
    newStamp = newNow;
    curStamp = curNow;
    return changed;
}

std::shared_ptr<TMailRecord> TMaildirInbox::ReadMessage(const QString& folder,
                                                        const QString& fileName) {
    const QString file = folder + QLatin1Char('/') + fileName;
    const std::optional<QByteArray> block = ReadHeaderBlock(file);
    if (!block)
        return nullptr;
    ++parses;
    auto record = std::make_shared<TMailRecord>();
    if (const std::optional<TMessageHeaders> headers = ParseHeaders(*block)) {
        record->subject = headers->subject;
        record->senderName = headers->senderName;
        record->importance = headers->importance;
    } else {
        qCWarning(lcMailStore).noquote() << "Could not read the header of" << file;
    }
    const std::optional<TDateTime> delivered = MaildirDeliveryTime(fileName);
    record->receivedTime = delivered ? *delivered : FromQDateTime(QFileInfo(file).lastModified());
    record->unread = !MaildirSeen(fileName);
    return record;
}

void TMaildirInbox::Relist() {
    std::map<QString, TKnownMessage> next;
    for (const char* sub : {"new", "cur"}) {
        const QString folder = path + QLatin1Char('/') + QLatin1String(sub);
        for (const QString& fileName : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
            if (fileName.startsWith(QLatin1Char('.')))
                continue; // mail tools keep their own notes there
            const QString unique = MaildirUniqueName(fileName);
            auto old = known.find(unique);
            std::shared_ptr<TMailRecord> record;
            if (old == known.end())
                record = ReadMessage(folder, fileName);
            else if (old->second.fileName == fileName)
                record = old->second.record;
            else
                record = CopyWithFlags(*old->second.record, fileName);
            if (record)
                next[unique] = {fileName, std::move(record)};
        }
    }
    known = std::move(next);
    auto contents = std::make_shared<TMaildirContents>();
    for (const auto& [unique, message] : known) {
        contents->messages.push_back(message.record);
        contents->unreadCount += message.record->unread ? 1 : 0;
    }
    snapshot = std::move(contents);
}

} // namespace rp::mailstore
