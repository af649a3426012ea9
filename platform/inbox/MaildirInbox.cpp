// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/inbox/MaildirInbox.h"

#include "engine/OutlookModel.h"
#include "platform/inbox/MessageHeaders.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <malloc.h>
#include <optional>

namespace rp::mailstore {

namespace {

// ':' is the standard separator; '!' is what mail tools use where ':' is not allowed.
qsizetype InfoStart(const QString& fileName) {
    const qsizetype colon = fileName.indexOf(QLatin1String(":2,"));
    return colon >= 0 ? colon : fileName.indexOf(QLatin1String("!2,"));
}

// toUtf8() reserves room for the worst case; a record kept all day gives it back.
QByteArray CompactUtf8(const QString& text) {
    QByteArray bytes = text.toUtf8();
    bytes.squeeze();
    return bytes;
}

void SetFileName(TMailRecord& record, const QString& fileName) {
    record.fileName = fileName;
    record.uniqueLength = static_cast<int>(MaildirUniqueName(fileName).size());
    record.unread = !MaildirSeen(fileName);
}

bool ByUniqueName(const TMailRecord& left, const TMailRecord& right) {
    return left.UniqueName() < right.UniqueName();
}

// Sorted by unique name; of two files with one unique name the later listed wins.
void SortAndDropRepeats(std::vector<TMailRecord>& records) {
    std::stable_sort(records.begin(), records.end(), ByUniqueName);
    std::vector<TMailRecord> kept;
    kept.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i)
        if (i + 1 == records.size() || records[i].UniqueName() != records[i + 1].UniqueName())
            kept.push_back(std::move(records[i]));
    records = std::move(kept);
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

std::optional<TMailRecord> TMaildirInbox::ReadMessage(const QString& folder,
                                                      const QString& fileName) {
    const QString file = folder + QLatin1Char('/') + fileName;
    const std::optional<QByteArray> block = ReadHeaderBlock(file);
    if (!block)
        return std::nullopt;
    ++parses;
    TMailRecord record;
    if (const std::optional<TMessageHeaders> headers = ParseHeaders(*block)) {
        record.subject = CompactUtf8(headers->subject);
        // Much mail comes from a few people: one copy of each name.
        record.senderName = *senderNames.insert(CompactUtf8(headers->senderName));
        record.importance = headers->importance;
    } else {
        qCWarning(lcMailStore).noquote() << "Could not read the header of" << file;
    }
    const std::optional<TDateTime> delivered = MaildirDeliveryTime(fileName);
    record.receivedTime = delivered ? *delivered : FromQDateTime(QFileInfo(file).lastModified());
    SetFileName(record, fileName);
    return record;
}

const TMailRecord* TMaildirInbox::Known(QStringView uniqueName) const {
    if (!snapshot)
        return nullptr;
    const std::vector<TMailRecord>& known = snapshot->messages;
    auto found = std::lower_bound(
        known.begin(), known.end(), uniqueName,
        [](const TMailRecord& record, QStringView name) { return record.UniqueName() < name; });
    return found != known.end() && found->UniqueName() == uniqueName ? &*found : nullptr;
}

// A known message costs no read: a new file name means its flags changed.
void TMaildirInbox::AddMessage(const QString& folder, const QString& fileName,
                               std::vector<TMailRecord>& next) {
    if (const TMailRecord* old = Known(MaildirUniqueName(fileName))) {
        next.push_back(*old);
        SetFileName(next.back(), fileName);
    } else if (std::optional<TMailRecord> read = ReadMessage(folder, fileName)) {
        next.push_back(std::move(*read));
    }
}

void TMaildirInbox::Relist() {
    const int parsesBefore = parses;
    auto contents = std::make_shared<TMaildirContents>();
    for (const char* sub : {"new", "cur"}) {
        const QString folder = path + QLatin1Char('/') + QLatin1String(sub);
        for (const QString& fileName : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
            if (fileName.startsWith(QLatin1Char('.')))
                continue; // mail tools keep their own notes there
            AddMessage(folder, fileName, contents->messages);
        }
    }
    senderNames.clear();
    SortAndDropRepeats(contents->messages);
    for (const TMailRecord& message : contents->messages)
        contents->unreadCount += message.unread ? 1 : 0;
    snapshot = std::move(contents);
    // Reading headers leaves freed heap between the records; give it back.
    if (parses != parsesBefore)
        malloc_trim(0);
}

} // namespace rp::mailstore
