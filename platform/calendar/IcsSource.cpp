// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/IcsSource.h"

#include "engine/OutlookModel.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTimeZone>
#include <malloc.h>

namespace rp::mailstore {

namespace {

// Changes with the computer's time zone and at its daylight saving steps, both of
// which move the local start of an event written in UTC or another zone.
QByteArray LocalZone() {
    return QTimeZone::systemTimeZoneId() + ' ' +
           QByteArray::number(QDateTime::currentDateTime().offsetFromUtc());
}

} // namespace

TIcsSource::TIcsSource(QString path, QString what, int recheckMs)
    : path(std::move(path)), what(std::move(what)), recheckMs(recheckMs) {}

TIcsSource::TIcsSource(std::shared_ptr<TCalDavMirror> mirror, QString what, int recheckMs)
    : mirror(std::move(mirror)), path(this->mirror->ItemsFolder()), what(std::move(what)),
      recheckMs(recheckMs) {}

void TIcsSource::Invalidate() {
    sinceCheck.invalidate();
    if (mirror)
        mirror->RequestWriteBack();
}

std::shared_ptr<const TIcsContents> TIcsSource::Contents() {
    if (!snapshot || !sinceCheck.isValid() || sinceCheck.elapsed() >= recheckMs) {
        if (mirror)
            mirror->SyncIfDue();
        if (Refresh() || !snapshot)
            Rebuild();
        sinceCheck.start();
    }
    return snapshot;
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
    TFileEntry entry;
    entry.stamp = stamp;
    const QByteArray text = ReadWholeFile(file, what + QStringLiteral(" file"));
    ++parses;
    if (!ParseIcsText(text, file, entry.contents))
        qCWarning(lcMailStore).noquote() << "No iCalendar data in" << file;
    next.emplace(file, std::move(entry));
    return true;
}

bool TIcsSource::Refresh() {
    const QStringList current = CurrentFiles();
    if (const QByteArray zoneNow = LocalZone(); zoneNow != zone) {
        files.clear(); // every file is read again into the new local times
        zone = zoneNow;
    }
    std::map<QString, TFileEntry> next;
    bool changed = current.size() != static_cast<qsizetype>(files.size());
    for (const QString& file : current)
        changed = RefreshFile(file, next) || changed;
    files = std::move(next);
    // A large file's parse tree leaves tens of megabytes of freed heap behind,
    // which the allocator would otherwise keep for the life of the program.
    if (changed)
        malloc_trim(0);
    return changed;
}

void TIcsSource::Rebuild() {
    auto contents = std::make_shared<TIcsContents>();
    for (const auto& [name, entry] : files) {
        contents->appointments.insert(contents->appointments.end(),
                                      entry.contents.appointments.begin(),
                                      entry.contents.appointments.end());
        contents->tasks.insert(contents->tasks.end(), entry.contents.tasks.begin(),
                               entry.contents.tasks.end());
    }
    // A subscription is read only: its tasks are never moved on (nor written).
    if (mirror && mirror->ReadOnly())
        for (auto& task : contents->tasks) {
            auto fixed = std::make_shared<TTaskRecord>(*task);
            fixed->hasNextOccurrence = false;
            task = std::move(fixed);
        }
    snapshot = std::move(contents);
}

} // namespace rp::mailstore
