// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/OldCacheFolder.h"

#include "engine/OutlookModel.h"
#include "platform/common/Files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace rp::mailstore {

namespace {

QByteArray HashOf(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex();
}

QByteArray ReadIfThere(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// An item's file was named after its href; its text differs from the hash the
// state recorded when a task was moved on here and not yet written back.
void TakeItems(const QString& folder, const QJsonObject& known, TSourceCache& cache,
               bool& incomplete) {
    for (auto it = known.begin(); it != known.end(); ++it) {
        const QJsonObject entry = it.value().toObject();
        const QByteArray text = ReadIfThere(
            folder + QStringLiteral("/items/") +
            QString::fromLatin1(HashOf(it.key().toUtf8()).left(24)) + QStringLiteral(".ics"));
        // An empty file is what an item not yet flushed at a crash left.
        if (text.isEmpty()) {
            incomplete = true;
            continue;
        }
        cache.Put(it.key(), entry.value(QStringLiteral("etag")).toString().toUtf8(), text);
        if (HashOf(text) != entry.value(QStringLiteral("hash")).toString().toUtf8())
            cache.ChangeHere(it.key(), text);
    }
}

// Files the state does not name were left by a sync cut short; they are not taken.
void TakeFolder(const QString& folder, const QString& url, TSourceCache& cache) {
    const QJsonObject state =
        QJsonDocument::fromJson(ReadIfThere(folder + QStringLiteral("/state.json"))).object();
    if (state.value(QStringLiteral("url")).toString() != url)
        return;
    bool incomplete = false;
    TakeItems(folder, state.value(QStringLiteral("items")).toObject(), cache, incomplete);
    cache.SetState("kind", state.value(QStringLiteral("kind")).toString().toUtf8());
    // A changes-only sync would never bring a lost item back: read all afresh.
    if (incomplete)
        return;
    cache.SetState("syncToken", state.value(QStringLiteral("syncToken")).toString().toUtf8());
    cache.SetState("etag", state.value(QStringLiteral("etag")).toString().toUtf8());
    cache.SetState("lastModified", state.value(QStringLiteral("lastModified")).toString().toUtf8());
}

} // namespace

void TakeOverOldCacheFolder(const QString& folder, const QString& url, TSourceCache& cache) {
    QDir old(folder);
    if (!old.exists())
        return;
    if (!cache.WasRead()) {
        TakeFolder(folder, url, cache);
        try {
            cache.Save();
        } catch (const outlook::EAutomationError& error) {
            qCWarning(lcMailStore).noquote() << error.Message();
            return;
        }
        qCInfo(lcMailStore).noquote()
            << "The last good copy in" << folder << "now is" << cache.Path();
    }
    if (!old.removeRecursively())
        qCWarning(lcMailStore).noquote() << "Cannot remove the old cache folder" << folder;
}

} // namespace rp::mailstore
