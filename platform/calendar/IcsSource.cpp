// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/IcsSource.h"

#include "platform/calendar/IcalTime.h"
#include "platform/calendar/TaskRecurrence.h"

#include "engine/OutlookModel.h"

#include <QDir>
#include <QFileInfo>
#include <malloc.h>

namespace rp::mailstore {

TIcsSource::TIcsSource(QString path, QString what, int recheckMs)
    : path(std::move(path)), what(std::move(what)), recheckMs(recheckMs) {}

TIcsSource::TIcsSource(std::shared_ptr<ICachedSource> cached, QString what, int recheckMs)
    : cached(std::move(cached)), path(this->cached->Cache()->Path()), what(std::move(what)),
      recheckMs(recheckMs) {}

TIcsSource::TIcsSource(std::shared_ptr<TDesktopSource> desktop, QString what, int recheckMs)
    : desktop(std::move(desktop)), what(std::move(what)), recheckMs(recheckMs) {}

std::optional<TTaskRecord> TIcsSource::SkipTask(const TTaskRecord& task) {
    if (desktop)
        return desktop->SkipTask(task);
    std::optional<TTaskRecord> moved = SkipTaskToNextOccurrence(task.origin);
    if (moved)
        Invalidate();
    return moved;
}

void TIcsSource::Invalidate() {
    sinceCheck.invalidate();
    if (cached)
        cached->RequestWriteBack();
}

void TIcsSource::ReadAnswersOf(TUserAddresses addresses) {
    if (desktop)
        desktop->ReadAnswersOf(addresses);
    userAddresses = std::move(addresses);
    readsAnswers = true;
}

TUserAddresses TIcsSource::UserNow() {
    if (!readsAnswers)
        return {};
    TUserAddresses addresses = userAddresses;
    if (cached)
        addresses.merge(cached->UserAddresses());
    return addresses;
}

std::shared_ptr<const TIcsContents> TIcsSource::Contents() {
    if (!snapshot || !sinceCheck.isValid() || sinceCheck.elapsed() >= recheckMs) {
        if (desktop) {
            snapshot = desktop->Contents();
            sinceCheck.start();
            return snapshot;
        }
        if (cached)
            cached->SyncIfDue();
        const bool changed = cached ? RefreshCached() : Refresh();
        // A large file's parse tree leaves tens of megabytes of freed heap behind,
        // which the allocator would otherwise keep for the life of the program.
        if (changed)
            malloc_trim(0);
        if (changed || !snapshot)
            Rebuild();
        sinceCheck.start();
    }
    return snapshot;
}

// Items carry local times and the user's answers: in another time zone, or
// for other addresses of the user, every item is read again.
bool TIcsSource::ReadingChanged() {
    const QByteArray zoneNow = LocalZoneStamp();
    TUserAddresses userNow = UserNow();
    if (zoneNow == zone && userNow == answersReadFor)
        return false;
    files.clear();
    zone = zoneNow;
    answersReadFor = std::move(userNow);
    return true;
}

QStringList TIcsSource::CurrentFiles() const {
    const QFileInfo info(path);
    if (!info.exists())
        throw outlook::EAutomationError(
            QStringLiteral("Cannot read the %1 \"%2\": it does not exist.").arg(what, path));
    if (!info.isDir())
        return {info.absoluteFilePath()};
    QStringList result;
    const QDir folder(path);
    for (const QString& name : folder.entryList(
             {QStringLiteral("*.ics")}, QDir::Files | QDir::Readable | QDir::Hidden, QDir::Name))
        result << folder.absoluteFilePath(name);
    // An unreadable file in the folder is an error, not an empty file.
    for (const QString& name : folder.entryList({QStringLiteral("*.ics")}, QDir::Files))
        if (!QFileInfo(folder.absoluteFilePath(name)).isReadable())
            throw outlook::EAutomationError(
                QStringLiteral("Cannot read the %1 file \"%2\": permission denied.")
                    .arg(what, folder.absoluteFilePath(name)));
    return result;
}

bool TIcsSource::RefreshFile(const QString& file, std::map<QString, TFileEntry>& next) {
    const TFileStamp stamp = StampOf(file);
    auto known = files.find(file);
    if (known != files.end() && known->second.stamp == stamp) {
        next.emplace(file, std::move(known->second));
        return false;
    }
    TFileEntry entry = Parsed(ReadWholeFile(file, what + QStringLiteral(" file")), file);
    entry.stamp = stamp;
    next.emplace(file, std::move(entry));
    return true;
}

TIcsSource::TFileEntry TIcsSource::Parsed(const QByteArray& text, const QString& name) {
    auto contents = std::make_shared<TIcsContents>();
    ++parses;
    if (!ParseIcsText(text, name, *contents, cached ? cached->Cache() : nullptr, answersReadFor))
        qCWarning(lcMailStore).noquote() << "No iCalendar data in" << name;
    // Kept all day: no room to spare.
    contents->appointments.shrink_to_fit();
    contents->tasks.shrink_to_fit();
    return {{}, 0, std::move(contents)};
}

bool TIcsSource::Refresh() {
    const QStringList current = CurrentFiles();
    ReadingChanged();
    std::map<QString, TFileEntry> next;
    bool changed = current.size() != static_cast<qsizetype>(files.size());
    for (const QString& file : current)
        changed = RefreshFile(file, next) || changed;
    files = std::move(next);
    return changed;
}

// Only the items whose text changed since the last look are parsed again.
bool TIcsSource::RefreshCached() {
    const TSourceCache& cache = *cached->Cache();
    if (!ReadingChanged() && cachedRevision == cache.Revision())
        return false;
    std::map<QString, TFileEntry> next;
    for (const auto& [key, item] : cache.Items()) {
        auto known = files.find(key);
        if (known != files.end() && known->second.revision == item.revision) {
            next.emplace(key, std::move(known->second));
            continue;
        }
        TFileEntry entry = Parsed(cache.Text(key), key);
        entry.revision = item.revision;
        next.emplace(key, std::move(entry));
    }
    files = std::move(next);
    cachedRevision = cache.Revision();
    return true;
}

void TIcsSource::Rebuild() {
    const bool readOnly = cached && cached->ReadOnly();
    // One file's items are the snapshot as they are, without a copy of the list.
    if (files.size() == 1 && !readOnly) {
        snapshot = files.begin()->second.contents;
        return;
    }
    auto contents = std::make_shared<TIcsContents>();
    for (const auto& [name, entry] : files)
        contents->Append(*entry.contents);
    // A subscription is read only: its tasks are never moved on (nor written).
    if (readOnly)
        contents->KeepTasksInPlace();
    snapshot = std::move(contents);
}

} // namespace rp::mailstore
