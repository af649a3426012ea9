// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A calendar or task location (one .ics file, a folder of them, or the last
// good copy of a source on a server or in the desktop's store) read into
// compact records. Each file or item is parsed once and again only when it
// changed or the computer's time zone changed (the items carry local times);
// the snapshot between changes is shared, never rebuilt.

#include "platform/calendar/CachedSource.h"
#include "platform/calendar/DesktopSource.h"
#include "platform/calendar/IcsRecords.h"
#include "platform/common/Files.h"

#include <QElapsedTimer>
#include <QString>
#include <map>
#include <memory>
#include <optional>

namespace rp::mailstore {

class TIcsSource {
public:
    // `what` names the location in error messages ("calendar", "task list").
    // The disk is looked at no more often than every `recheckMs` milliseconds.
    TIcsSource(QString path, QString what, int recheckMs = 1000);
    // A source read through its last good copy, which the source is asked to
    // bring up to date (a server is polled only every few minutes).
    TIcsSource(std::shared_ptr<ICachedSource> cached, QString what, int recheckMs = 1000);
    // The desktop's own store: asked no more often than every `recheckMs`.
    TIcsSource(std::shared_ptr<TDesktopSource> desktop, QString what, int recheckMs = 1000);

    // The items as they are on disk now; throws EAutomationError naming a file
    // that cannot be read.
    std::shared_ptr<const TIcsContents> Contents();
    // Forgets the check time, so the next Contents() looks at the disk; a
    // cached source also writes the changed item back to its source then.
    void Invalidate();
    // Reads the user's answers to invitations, knowing them by these addresses
    // and, on a CalDAV server, by the principal's own.
    void ReadAnswersOf(TUserAddresses addresses);

    // Moves a recurring task to its next occurrence where it lives (the user's
    // file, a source's last good copy, the desktop's store); nullopt when it has none
    // or was not moved. Throws EAutomationError as SkipTaskToNextOccurrence.
    std::optional<TTaskRecord> SkipTask(const TTaskRecord& task);

    // The file or folder, or the last good copy's file.
    const QString& Path() const { return path; }
    // How many file or item parses this source has made (a cost the tests watch).
    int ParseCount() const { return parses; }

private:
    struct TFileEntry {
        TFileStamp stamp;
        uint64_t revision = 0; // of a cached item
        std::shared_ptr<const TIcsContents> contents;
    };

    bool Refresh();
    bool ReadingChanged();
    TUserAddresses UserNow();
    QStringList CurrentFiles() const;
    bool RefreshFile(const QString& file, std::map<QString, TFileEntry>& next);
    bool RefreshCached();
    TFileEntry Parsed(const QByteArray& text, const QString& name);
    void Rebuild();

    std::shared_ptr<ICachedSource> cached;
    // The copy's revision the entries were parsed at.
    std::optional<uint64_t> cachedRevision;
    std::shared_ptr<TDesktopSource> desktop;
    QString path;
    QString what;
    int recheckMs;
    QElapsedTimer sinceCheck;
    std::map<QString, TFileEntry> files; // by file name or item key, the items' order
    std::shared_ptr<const TIcsContents> snapshot;
    // The local zone the items' local times were computed in, and the user's
    // addresses their answers were read for.
    QByteArray zone;
    bool readsAnswers = false;
    TUserAddresses userAddresses;
    TUserAddresses answersReadFor;
    int parses = 0;
};

} // namespace rp::mailstore
