// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A calendar or task location (one .ics file or a folder of them) read into
// compact records. Each file is parsed once and again only when it changed on
// disk or the computer's time zone changed (the items carry local times); the
// snapshot between changes is shared, never rebuilt.

#include "platform/calendar/CalDavMirror.h"
#include "platform/calendar/IcsRecords.h"
#include "platform/common/Files.h"

#include <QElapsedTimer>
#include <QString>
#include <map>
#include <memory>

namespace rp::mailstore {

class TIcsSource {
public:
    // `what` names the location in error messages ("calendar", "task list").
    // The disk is looked at no more often than every `recheckMs` milliseconds.
    TIcsSource(QString path, QString what, int recheckMs = 1000);
    // A source on a server: the mirror's cache folder is read, and the mirror is
    // asked to sync (it polls the server only every few minutes).
    TIcsSource(std::shared_ptr<TCalDavMirror> mirror, QString what, int recheckMs = 1000);

    // The items as they are on disk now; throws EAutomationError naming a file
    // that cannot be read.
    std::shared_ptr<const TIcsContents> Contents();
    // Forgets the check time, so the next Contents() looks at the disk; a
    // mirrored source also writes the changed file back to its server then.
    void Invalidate();

    const QString& Path() const { return path; }
    const std::shared_ptr<TCalDavMirror>& Mirror() const { return mirror; }
    // How many file parses this source has made (a cost the tests watch).
    int ParseCount() const { return parses; }

private:
    struct TFileEntry {
        TFileStamp stamp;
        TIcsContents contents;
    };

    bool Refresh();
    QStringList CurrentFiles() const;
    bool RefreshFile(const QString& file, std::map<QString, TFileEntry>& next);
    void Rebuild();

    std::shared_ptr<TCalDavMirror> mirror;
    QString path;
    QString what;
    int recheckMs;
    QElapsedTimer sinceCheck;
    std::map<QString, TFileEntry> files; // by file name, the items' order
    std::shared_ptr<const TIcsContents> snapshot;
    // The local zone the items' local times were computed in.
    QByteArray zone;
    int parses = 0;
};

} // namespace rp::mailstore
