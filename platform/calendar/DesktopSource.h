// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The calendars or task lists of the desktop's own store that the profile
// chooses, as the engine reads them: each read through the same iCalendar
// reading as a file, again only when the store announces a change, and kept in
// a last good copy (a TSourceCache under the cache folder, one item per
// calendar, its text and the revision it was read at) that serves while the
// store is away.

#include "platform/calendar/DesktopStore.h"
#include "platform/calendar/IcsRecords.h"
#include "platform/calendar/SourceCache.h"
#include "platform/common/ProfileTypes.h"
#include "platform/common/StatusSink.h"

#include "engine/SourceHealth.h"

#include <QElapsedTimer>
#include <QString>
#include <map>
#include <memory>
#include <optional>

namespace rp::mailstore {

class TDesktopSource {
public:
    // `what` names the source in messages ("calendar", "task list"). After the
    // store failed it is asked again only after `retrySeconds`; a source that
    // announces no revision is read again every `retrySeconds`.
    TDesktopSource(std::shared_ptr<TDesktopStore> store, TDesktopKind kind,
                   TDesktopSelection selection, QString what, const QString& cacheFolder,
                   int retrySeconds, TStatusSink status = {});

    // The items of every chosen source: what the store has now, or the last
    // good copy while it is away. Never throws for the store's trouble.
    std::shared_ptr<const TIcsContents> Contents();
    // Moves a recurring task on in the store, over the version that was read;
    // nullopt when it was not moved (a change made meanwhile elsewhere wins and
    // is reported; a read-only source is never written).
    std::optional<TTaskRecord> SkipTask(const TTaskRecord& task);

    // Whether the source works goes to `sink` under `source` as well.
    void ReportHealthTo(QString source, TSourceHealthSink sink);
    // Reads the user's answers to invitations, knowing them by these addresses.
    void ReadAnswersOf(TUserAddresses addresses);

    // The store's full reads of a source so far (a cost the tests watch).
    int ReadCount() const { return reads; }
    // The trouble told last; empty when all is well.
    const QString& Problem() const { return status.Last(); }

private:
    struct TChosen {
        QString name;
        bool fromStore = false;
        bool readOnly = false;
        QByteArray revision;
        QByteArray copyHash;
        std::shared_ptr<const TIcsContents> contents;
        std::map<QByteArray, QByteArray> taskVersions;
        QElapsedTimer sinceRead;
    };

    std::optional<QByteArray> CopyText(const QString& uid) const;
    void NoteCopies();
    void ParseCopiesUnread();
    // Writes the copy when it changed; the reason when it could not.
    QString SaveCopy();
    bool Refresh();
    bool NeedsRead(const QString& uid, const TChosen& entry) const;
    bool ReadOne(const TDesktopSourceInfo& info, TChosen& entry);
    void KeepCopy(const QString& uid, TChosen& entry, const QByteArray& text);
    void Rebuild();
    void StoreAway();
    void Report(const QString& text);
    void TellHealth(const QString& problem);

    std::shared_ptr<TDesktopStore> store;
    TDesktopKind kind;
    TDesktopSelection selection;
    QString what;
    std::shared_ptr<TSourceCache> copy;
    int retrySeconds;
    TStatusOnce status; // its last text is the problem now

    bool copiesLoaded = false;
    std::map<QString, TChosen> chosen; // by the store's UID
    std::shared_ptr<const TIcsContents> snapshot;
    QByteArray zone;
    TUserAddresses user;
    QElapsedTimer sinceFailure;
    bool troubled = false;
    QString healthSource;
    TSourceHealthSink health;
    std::optional<QString> healthTold;
    int reads = 0;
};

// Whether `wanted`, a name in Source=desktop:..., names the source `uid` called
// `name`: its UID, or its name in any case.
bool DesktopSourceNamed(const QString& wanted, const QString& uid, const QString& name);

// What the "Test" button says of the desktop's store for a calendar or task
// list selection: how many events or tasks it found in which sources, or in
// plain words why none.
QString ProbeDesktopSource(const TDesktopSelection& selection, TDesktopKind kind,
                           int answerMs = TDesktopStore::kDefaultAnswerMs);

// The desktop's calendars and task lists, asked of the store once; when it
// does not answer, none, and `problem` says why in plain words.
struct TDesktopListing {
    std::vector<TDesktopSourceInfo> calendars;
    std::vector<TDesktopSourceInfo> taskLists;
    QString problem;
};
TDesktopListing ListDesktopSources(int answerMs = TDesktopStore::kDefaultAnswerMs);

} // namespace rp::mailstore
