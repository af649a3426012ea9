// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/CalDavMirror.h"

#include "engine/DurableWrite.h"
#include "engine/OutlookModel.h"
#include "platform/calendar/CalDavXml.h"
#include "platform/calendar/IcsRecords.h"
#include "platform/calendar/OldCacheFolder.h"
#include "platform/common/Files.h"
#include "platform/net/HttpClient.h"
#include "platform/net/Keyring.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <optional>
#include <set>

namespace rp::mailstore {

namespace {

constexpr size_t kMultigetBatch = 100;

QByteArray HashOf(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex();
}

// The source's name under the cache folder: the copy is <name>.cache, and an
// earlier version kept a folder <name>/.
QString NameFor(const TSourceSettings& settings) {
    const QByteArray id = HashOf((settings.url + QLatin1Char('\n') + settings.user).toUtf8());
    return QString::fromLatin1(id.left(16));
}

QString StatusProblem(int status, const QUrl& url) {
    const QString server = ServerNameOf(url);
    switch (status) {
    case 401:
        return QStringLiteral("The server %1 refused the user name or password.").arg(server);
    case 403:
        return QStringLiteral("The server %1 refused access to this address.").arg(server);
    case 404:
        return QStringLiteral("Nothing was found at this address on %1 (check the address).")
            .arg(server);
    default:
        if (status >= 500)
            return QStringLiteral("The server %1 had a problem of its own (HTTP %2).")
                .arg(server)
                .arg(status);
        return QStringLiteral("The server %1 answered HTTP %2.").arg(server).arg(status);
    }
}

QString Capitalized(const QString& text) {
    return text.isEmpty() ? text : text.left(1).toUpper() + text.mid(1);
}

void EnsurePrivateFolder(const QString& path) {
    QDir().mkpath(path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

struct TCalDavMirror::TAnswer {
    THttpResponse response;
    QString problem; // empty when the exchange itself worked (any status)
};

TCalDavMirror::TCalDavMirror(TSourceSettings settings, QString what, const QString& cacheRoot,
                             int pollSeconds, TStatusSink status)
    : settings(std::move(settings)), what(std::move(what)), pollSeconds(pollSeconds),
      status(std::move(status)) {
    EnsurePrivateFolder(cacheRoot);
    cache = std::make_shared<TSourceCache>(CopyPathFor(this->settings, cacheRoot));
    TakeOverOldCacheFolder(cacheRoot + QLatin1Char('/') + NameFor(this->settings),
                           this->settings.url, *cache);
    LoadState();
}

QString TCalDavMirror::CopyPathFor(const TSourceSettings& settings, const QString& cacheRoot) {
    return cacheRoot + QLatin1Char('/') + NameFor(settings) + QStringLiteral(".cache");
}

void TCalDavMirror::SyncIfDue() {
    const bool due = !sincePoll.isValid() || sincePoll.elapsed() >= qint64(pollSeconds) * 1000;
    if (due || (writeBackWanted && kind == TRemoteKind::CalDav))
        SyncNow();
}

QString TCalDavMirror::SyncNow() {
    sincePoll.start();
    lastExchange = TSyncTrouble::Other;
    QString failure;
    try {
        failure = Sync();
    } catch (const outlook::EAutomationError& error) {
        failure = error.Message(); // a password command or a cache file
        lastExchange = TSyncTrouble::Other;
    }
    if (const QString unsaved = SaveState(); !unsaved.isEmpty() && failure.isEmpty())
        failure = unsaved;
    if (failure.isEmpty()) {
        if (failingSince.isValid())
            Report(trouble == TSyncTrouble::Unreachable
                       ? QStringLiteral("The %1 server %2 is reachable again.")
                             .arg(what, ServerNameOf(QUrl(settings.url)))
                       : QStringLiteral("The %1 from %2 is read again.")
                             .arg(what, ServerNameOf(QUrl(settings.url))));
        failingSince = QDateTime();
        trouble = TSyncTrouble::None;
        if (problem.isEmpty())
            status.Forget();
        if (health)
            health(healthSource, problem);
        return problem;
    }
    if (!failingSince.isValid())
        failingSince = QDateTime::currentDateTime();
    trouble = lastExchange;
    const QString since = failingSince.toString(QStringLiteral("HH:mm"));
    problem = trouble == TSyncTrouble::Unreachable
                  ? QStringLiteral("%1 server unreachable since %2: %3 The last good copy is used.")
                        .arg(Capitalized(what), since, failure)
                  : QStringLiteral("%1 not read since %2: %3 The last good copy is used.")
                        .arg(Capitalized(what), since, failure);
    Report(problem);
    if (health)
        health(healthSource, problem);
    return failure;
}

void TCalDavMirror::ReportHealthTo(QString source, TSourceHealthSink sink) {
    healthSource = std::move(source);
    health = std::move(sink);
}

void TCalDavMirror::Report(const QString& text) {
    if (status.Tell(text))
        qCWarning(lcMailStore).noquote() << text;
}

TCalDavMirror::TAnswer TCalDavMirror::Ask(const QByteArray& method, const QUrl& url,
                                          const QByteArray& body,
                                          QList<std::pair<QByteArray, QByteArray>> headers) {
    if (!passwordKnown) {
        password = ResolvePassword(settings);
        passwordKnown = true;
    }
    THttpRequest request;
    request.method = method;
    request.url = url;
    request.body = body;
    request.headers = std::move(headers);
    request.user = settings.user;
    request.password = password;
    request.caFile = settings.caFile;
    request.timeoutSeconds = settings.timeoutSeconds;
    ++requests;
    TAnswer answer{HttpExchange(request), {}};
    bytesExchanged += answer.response.bytesSent + answer.response.bytesReceived;
    lastExchange = TSyncTrouble::Other;
    const THttpFailure failure = answer.response.failure;
    if (failure != THttpFailure::None) {
        answer.problem = answer.response.failureText;
        if (failure == THttpFailure::Unreachable || failure == THttpFailure::TimedOut)
            lastExchange = TSyncTrouble::Unreachable;
    } else if (answer.response.status == 401) {
        passwordKnown = false; // the keyring or command may know better next time
        answer.problem = StatusProblem(401, url);
        lastExchange = TSyncTrouble::Login;
    }
    return answer;
}

QString TCalDavMirror::Sync() {
    if (kind == TRemoteKind::Unknown) {
        const QString found = Discover();
        // Finding a subscription has fetched it already.
        if (!found.isEmpty() || kind == TRemoteKind::Subscription)
            return found;
    }
    if (kind == TRemoteKind::Subscription)
        return PullSubscription();
    QString refused;
    if (writeBackWanted)
        refused = PushLocalChanges();
    const QString failure = SyncCollection();
    if (failure.isEmpty())
        problem = refused;
    return failure;
}

QString TCalDavMirror::Discover() {
    const QUrl url(settings.url);
    const TAnswer answer =
        Ask("PROPFIND", url, DiscoveryBody(),
            {{"Depth", "0"}, {"Content-Type", "application/xml; charset=utf-8"}});
    if (!answer.problem.isEmpty())
        return answer.problem;
    const int code = answer.response.status;
    if (code == 404 || code == 403)
        return StatusProblem(code, url);
    if (code == 207) {
        const TMultistatus status = ParseMultistatus(answer.response.body);
        if (!status.ok)
            return QStringLiteral("The server %1 gave an answer that is not WebDAV (%2).")
                .arg(ServerNameOf(url), status.error);
        const bool calendar = std::any_of(status.resources.begin(), status.resources.end(),
                                          [](const TDavResource& r) { return r.isCalendar; });
        const bool collection = std::any_of(status.resources.begin(), status.resources.end(),
                                            [](const TDavResource& r) { return r.isCollection; });
        if (calendar) {
            kind = TRemoteKind::CalDav;
            return {};
        }
        if (collection)
            return QStringLiteral("The address on %1 is a folder but not a calendar.")
                .arg(ServerNameOf(url));
    }
    // Not a WebDAV collection: a plain .ics address, if it gives iCalendar data.
    kind = TRemoteKind::Subscription;
    const QString failure = PullSubscription();
    if (!failure.isEmpty())
        kind = TRemoteKind::Unknown;
    return failure;
}

TUserAddresses TCalDavMirror::UserAddresses() {
    const bool synced = sincePoll.isValid() && trouble == TSyncTrouble::None;
    const bool due =
        !sinceUserAsked.isValid() || sinceUserAsked.elapsed() >= qint64(pollSeconds) * 1000;
    if (kind == TRemoteKind::CalDav && synced && !userAnswered && due) {
        sinceUserAsked.start();
        AskUserAddresses();
    }
    return userAddresses;
}

// Two steps: who is logged in, then that principal's addresses. A server that
// knows neither has answered too; only one not reached is asked again.
void TCalDavMirror::AskUserAddresses() {
    // Nothing when the server was not reached; an empty answer when it gave no
    // multistatus.
    const auto ask = [this](const QUrl& url,
                            const QByteArray& body) -> std::optional<TMultistatus> {
        const TAnswer answer =
            Ask("PROPFIND", url, body,
                {{"Depth", "0"}, {"Content-Type", "application/xml; charset=utf-8"}});
        if (!answer.problem.isEmpty())
            return std::nullopt;
        return answer.response.status == 207 ? ParseMultistatus(answer.response.body)
                                             : TMultistatus{};
    };
    const std::optional<TMultistatus> who = ask(QUrl(settings.url), PrincipalBody());
    if (!who)
        return;
    const auto found = std::find_if(who->resources.begin(), who->resources.end(),
                                    [](const TDavResource& r) { return !r.principal.isEmpty(); });
    const std::optional<TMultistatus> set =
        found == who->resources.end() ? TMultistatus{}
                                      : ask(UrlOf(found->principal), UserAddressSetBody());
    if (!set)
        return;
    userAnswered = true;
    for (const TDavResource& principal : set->resources)
        for (const QString& address : principal.userAddresses)
            userAddresses.insert(CalendarAddress(address.toUtf8()));
}

QString TCalDavMirror::PullSubscription() {
    const QUrl url(settings.url);
    QList<std::pair<QByteArray, QByteArray>> headers;
    if (!subscriptionEtag.isEmpty())
        headers.append({"If-None-Match", subscriptionEtag});
    if (!subscriptionDate.isEmpty())
        headers.append({"If-Modified-Since", subscriptionDate});
    const TAnswer answer = Ask("GET", url, {}, headers);
    if (!answer.problem.isEmpty())
        return answer.problem;
    const THttpResponse& response = answer.response;
    if (response.status == 304)
        return {};
    if (!response.Ok())
        return StatusProblem(response.status, url);
    if (!response.body.contains("BEGIN:VCALENDAR"))
        return QStringLiteral("The address on %1 gives no calendar data.").arg(ServerNameOf(url));
    const QString href = QStringLiteral("subscription");
    // A server without validators sends the same calendar again: nothing to write.
    if (!cache->Find(href) || cache->Text(href) != response.body)
        cache->Put(href, response.Header("etag"), response.body);
    subscriptionEtag = response.Header("etag");
    subscriptionDate = response.Header("last-modified");
    return {};
}

bool TCalDavMirror::IsCollectionItself(const QString& href) const {
    const auto trimmed = [](QString path) {
        while (path.endsWith(QLatin1Char('/')))
            path.chop(1);
        return path;
    };
    return trimmed(UrlOf(href).path()) == trimmed(QUrl(settings.url).path());
}

QUrl TCalDavMirror::UrlOf(const QString& href) const {
    QUrl url(settings.url);
    if (href.startsWith(QLatin1Char('/')))
        url.setPath(href, QUrl::DecodedMode);
    else
        url = url.resolved(QUrl(href));
    return url;
}

QString TCalDavMirror::SyncCollection(bool withData) {
    const QUrl url(settings.url);
    const TAnswer answer =
        Ask("REPORT", url, SyncCollectionBody(syncToken, withData),
            {{"Depth", "1"}, {"Content-Type", "application/xml; charset=utf-8"}});
    // A collection too big for one answer with its data comes in batches instead.
    if (withData && answer.response.failure == THttpFailure::TooLarge)
        return SyncCollection(false);
    if (!answer.problem.isEmpty())
        return answer.problem;
    const int code = answer.response.status;
    if (code != 207) {
        // An expired token is answered 403/409; a server without sync support,
        // 400/403/501. Either way a full listing serves.
        if (!syncToken.isEmpty() && (code == 403 || code == 409 || code == 400)) {
            syncToken.clear();
            return SyncCollection(withData);
        }
        if (code == 404 || code == 401)
            return StatusProblem(code, url);
        return FullListing();
    }
    TMultistatus status;
    if (const QString problem = ReadMultistatus(answer, url, status); !problem.isEmpty())
        return problem;
    const bool complete = syncToken.isEmpty();
    std::vector<QString> missing;
    std::set<QString> seen;
    for (const TDavResource& resource : status.resources) {
        if (resource.href.isEmpty() || IsCollectionItself(resource.href))
            continue;
        seen.insert(resource.href);
        if (resource.status == 404) {
            cache->Remove(resource.href);
            continue;
        }
        const TCachedItem* known = cache->Find(resource.href);
        if (known && known->etag == resource.etag && !resource.etag.isEmpty())
            continue;
        // Servers that do not hand out the data in a sync answer name the item only.
        if (resource.calendarData.isEmpty())
            missing.push_back(resource.href);
        else
            cache->Put(resource.href, resource.etag, resource.calendarData);
    }
    // A listing from no token names everything there is.
    if (complete) {
        ForgetAllBut(seen);
    }
    const QString failure = Fetch(missing);
    if (!failure.isEmpty())
        return failure;
    syncToken = status.syncToken;
    return {};
}

QString TCalDavMirror::ReadMultistatus(const TAnswer& answer, const QUrl& url,
                                       TMultistatus& status) {
    if (!answer.problem.isEmpty())
        return answer.problem;
    if (answer.response.status != 207)
        return StatusProblem(answer.response.status, url);
    status = ParseMultistatus(answer.response.body);
    if (!status.ok)
        return QStringLiteral("The server %1 gave a malformed answer (%2).")
            .arg(ServerNameOf(url), status.error);
    return {};
}

void TCalDavMirror::ForgetAllBut(const std::set<QString>& seen) {
    std::vector<QString> gone;
    for (const auto& [href, item] : cache->Items())
        if (!seen.count(href))
            gone.push_back(href);
    for (const QString& href : gone)
        cache->Remove(href);
}

QString TCalDavMirror::FullListing() {
    const QUrl url(settings.url);
    const TAnswer answer =
        Ask("PROPFIND", url, EtagListBody(),
            {{"Depth", "1"}, {"Content-Type", "application/xml; charset=utf-8"}});
    TMultistatus status;
    if (const QString problem = ReadMultistatus(answer, url, status); !problem.isEmpty())
        return problem;
    std::vector<QString> changed;
    std::set<QString> seen;
    for (const TDavResource& resource : status.resources) {
        if (resource.href.isEmpty() || resource.isCollection || IsCollectionItself(resource.href))
            continue;
        seen.insert(resource.href);
        const TCachedItem* known = cache->Find(resource.href);
        if (!known || known->etag != resource.etag)
            changed.push_back(resource.href);
    }
    ForgetAllBut(seen);
    return Fetch(changed);
}

QString TCalDavMirror::Fetch(const std::vector<QString>& hrefs) {
    const QUrl url(settings.url);
    for (size_t from = 0; from < hrefs.size(); from += kMultigetBatch) {
        const std::vector<QString> batch(hrefs.begin() + static_cast<std::ptrdiff_t>(from),
                                         hrefs.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                             hrefs.size(), from + kMultigetBatch)));
        const TAnswer answer =
            Ask("REPORT", url, MultigetBody(batch),
                {{"Depth", "1"}, {"Content-Type", "application/xml; charset=utf-8"}});
        TMultistatus status;
        if (const QString problem = ReadMultistatus(answer, url, status); !problem.isEmpty())
            return problem;
        for (const TDavResource& resource : status.resources) {
            if (resource.status == 404)
                cache->Remove(resource.href);
            else if (!resource.calendarData.isEmpty())
                cache->Put(resource.href, resource.etag, resource.calendarData);
        }
    }
    return {};
}

// Writes each item changed here back to the server, only over the version it
// was made from: a change made meanwhile elsewhere is answered 412 and wins.
QString TCalDavMirror::PushLocalChanges() {
    writeBackWanted = false;
    QStringList refusals;
    std::vector<QString> changed, overtaken;
    for (const auto& [href, item] : cache->Items())
        if (item.changedHere)
            changed.push_back(href);
    for (const QString& href : changed) {
        QList<std::pair<QByteArray, QByteArray>> headers{
            {"Content-Type", "text/calendar; charset=utf-8"}};
        if (const QByteArray etag = cache->Find(href)->etag; !etag.isEmpty())
            headers.append({"If-Match", etag});
        const TAnswer answer = Ask("PUT", UrlOf(href), cache->Text(href), headers);
        const int code = answer.response.status;
        if (answer.problem.isEmpty() && code >= 200 && code < 300) {
            // No ETag in the answer: the next sync fetches the item again.
            cache->WrittenBack(href, answer.response.Header("etag"));
            continue;
        }
        if (answer.problem.isEmpty() && code == 412) {
            refusals << QStringLiteral("A task was changed in another program meanwhile; "
                                       "that change is kept and the task is read again.");
            cache->Outdated(href);
            overtaken.push_back(href);
            continue;
        }
        writeBackWanted = true; // tried again at the next sync or change
        refusals << QStringLiteral("A changed task could not be written back to %1: %2")
                        .arg(ServerNameOf(UrlOf(href)), answer.problem.isEmpty()
                                                            ? StatusProblem(code, UrlOf(href))
                                                            : answer.problem);
    }
    if (!overtaken.empty())
        Fetch(overtaken);
    const QString text = refusals.join(QLatin1Char(' '));
    if (!text.isEmpty())
        Report(text);
    return text;
}

namespace {

QByteArray KindName(TRemoteKind kind) {
    switch (kind) {
    case TRemoteKind::CalDav:
        return "caldav";
    case TRemoteKind::Subscription:
        return "subscription";
    default:
        return {};
    }
}

} // namespace

void TCalDavMirror::LoadState() {
    const QByteArray kindName = cache->State("kind");
    kind = kindName == "caldav"         ? TRemoteKind::CalDav
           : kindName == "subscription" ? TRemoteKind::Subscription
                                        : TRemoteKind::Unknown;
    syncToken = cache->State("syncToken");
    subscriptionEtag = cache->State("etag");
    subscriptionDate = cache->State("lastModified");
}

// Writes the copy when anything changed; empty when it is saved, else why not.
QString TCalDavMirror::SaveState() {
    cache->SetState("kind", KindName(kind));
    cache->SetState("syncToken", syncToken);
    cache->SetState("etag", subscriptionEtag);
    cache->SetState("lastModified", subscriptionDate);
    try {
        cache->Save();
    } catch (const outlook::EAutomationError& error) {
        lastExchange = TSyncTrouble::Other;
        return error.Message();
    }
    return {};
}

QString ProbeCalendarSource(const TSourceSettings& settings, const QString& what) {
    QTemporaryDir folder;
    TCalDavMirror mirror(settings, what, folder.path(), 0);
    const QString failure = mirror.SyncNow();
    if (!failure.isEmpty())
        return QStringLiteral("Not working: %1").arg(failure);
    TIcsContents contents;
    for (const auto& [href, item] : mirror.Cache()->Items())
        ParseIcsText(mirror.Cache()->Text(href), href, contents);
    const QString kindText = mirror.Kind() == TRemoteKind::CalDav
                                 ? QStringLiteral("a CalDAV collection")
                                 : QStringLiteral("a calendar subscription (read only)");
    return QStringLiteral("Found %1 with %2 events and %3 tasks.")
        .arg(kindText)
        .arg(contents.appointments.size())
        .arg(contents.tasks.size());
}

} // namespace rp::mailstore
