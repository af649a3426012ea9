// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A calendar or task list on a server, kept as one last good copy under the
// cache folder (TSourceCache): a CalDAV collection (read incrementally through its sync token,
// or by comparing ETags, tasks written back with If-Match) or a plain .ics
// subscription (read only, fetched again only when its ETag or date changed).
//
// All network work runs on the calling thread, which is the engine's: the
// mirror's copy is then never written by two threads, and the engine's write
// of a task goes out in the same cycle. A stalled server delays that cycle by
// at most the time-out, once per poll interval.

#include "platform/calendar/CachedSource.h"
#include "platform/common/ProfileTypes.h"
#include "platform/common/StatusSink.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <QUrl>
#include <functional>
#include <set>

namespace rp::mailstore {

struct TMultistatus;

enum class TRemoteKind { Unknown, CalDav, Subscription };

// Why the last sync failed, for the status bar's wording: only a server that
// was not reached is "unreachable"; a refused login is the user's to fix.
enum class TSyncTrouble { None, Unreachable, Login, Other };

class TCalDavMirror : public ICachedSource {
public:
    // `what` names the source in messages ("calendar", "task list"). The server
    // is asked no more often than every `pollSeconds` seconds. The copy is
    // CopyPathFor(); a cache folder of an earlier version is taken over into it.
    TCalDavMirror(TSourceSettings settings, QString what, const QString& cacheRoot, int pollSeconds,
                  TStatusSink status = {});

    // The copy of the source with these settings under `cacheRoot`.
    static QString CopyPathFor(const TSourceSettings& settings, const QString& cacheRoot);

    // Brings the copy up to date when the poll interval has passed or a local
    // change waits to be written back.
    void SyncIfDue() override;
    // Runs a sync now; returns what went wrong in words a user understands,
    // empty when all went well.
    QString SyncNow();
    void RequestWriteBack() override { writeBackWanted = true; }
    const std::shared_ptr<TSourceCache>& Cache() const override { return cache; }
    // After each sync, tells `sink` under the id `source` whether the server was
    // read (an empty problem) or what keeps it from being read.
    void ReportHealthTo(QString source, TSourceHealthSink sink);

    // The principal's calendar user addresses (calendar-user-address-set):
    // asked of a CalDAV server after a good sync until it answers, at most once
    // per poll interval. Empty for a subscription.
    TUserAddresses UserAddresses() override;

    TRemoteKind Kind() const { return kind; }
    bool ReadOnly() const override { return kind == TRemoteKind::Subscription; }
    // Problems of the last sync and refused writes; empty when all is well.
    const QString& LastProblem() const { return problem; }
    TSyncTrouble Trouble() const { return trouble; }
    int RequestCount() const { return requests; }
    // HTTP bytes sent and received so far (see THttpResponse).
    qint64 BytesExchanged() const { return bytesExchanged; }

private:
    struct TAnswer;

    TAnswer Ask(const QByteArray& method, const QUrl& url, const QByteArray& body,
                QList<std::pair<QByteArray, QByteArray>> headers);
    QString Sync();
    QString Discover();
    QString SyncCollection(bool withData = true);
    QString FullListing();
    // Empty when the answer is a well-formed multistatus, read into `status`;
    // otherwise what went wrong, in words for the status bar.
    QString ReadMultistatus(const TAnswer& answer, const QUrl& url, TMultistatus& status);
    void ForgetAllBut(const std::set<QString>& seen);
    QString Fetch(const std::vector<QString>& hrefs);
    QString PushLocalChanges();
    QString PullSubscription();
    bool IsCollectionItself(const QString& href) const;
    QUrl UrlOf(const QString& href) const;
    void LoadState();
    QString SaveState();
    void Report(const QString& text);
    void AskUserAddresses();

    TSourceSettings settings;
    QString what;
    std::shared_ptr<TSourceCache> cache;
    int pollSeconds;
    TStatusOnce status;
    QString healthSource;
    TSourceHealthSink health;
    QString password;
    bool passwordKnown = false;

    TRemoteKind kind = TRemoteKind::Unknown;
    QByteArray syncToken;
    QByteArray subscriptionEtag;
    QByteArray subscriptionDate;
    bool writeBackWanted = true; // a change left from the last run goes out first

    QElapsedTimer sincePoll;
    QDateTime failingSince;
    TSyncTrouble trouble = TSyncTrouble::None;
    TSyncTrouble lastExchange = TSyncTrouble::None; // of the latest request
    QString problem;
    int requests = 0;
    qint64 bytesExchanged = 0;

    TUserAddresses userAddresses;
    bool userAnswered = false;
    QElapsedTimer sinceUserAsked;
};

// What the "Test" button says of a calendar or task source: how many events and
// tasks it found, or what went wrong.
QString ProbeCalendarSource(const TSourceSettings& settings, const QString& what);

} // namespace rp::mailstore
