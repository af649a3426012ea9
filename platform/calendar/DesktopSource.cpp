// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/DesktopSource.h"

#include "platform/calendar/IcalTime.h"
#include "platform/common/Files.h"

#include "engine/OutlookModel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace rp::mailstore {

namespace {

QByteArray HashOf(const QByteArray& text) {
    return QCryptographicHash::hash(text, QCryptographicHash::Sha1);
}

QString KindName(TDesktopKind kind) {
    return kind == TDesktopKind::Calendar ? QStringLiteral("calendar") : QStringLiteral("tasks");
}

// The calendar's name as the copy keeps it (X-WR-CALNAME), unfolded.
QString CopyName(const QByteArray& text) {
    const qsizetype at = text.indexOf("\nX-WR-CALNAME:");
    if (at < 0)
        return {};
    QByteArray name;
    qsizetype position = at + 14;
    while (position < text.size()) {
        qsizetype end = text.indexOf('\n', position);
        end = end < 0 ? text.size() : end;
        name += text.mid(position, end - position);
        if (name.endsWith('\r'))
            name.chop(1);
        position = end + 1;
        if (position >= text.size() || (text[position] != ' ' && text[position] != '\t'))
            break;
        ++position;
    }
    return QString::fromUtf8(name);
}

bool Names(const TDesktopSelection& selection, const QString& uid, const QString& name) {
    for (const QString& wanted : selection.names)
        if (DesktopSourceNamed(wanted, uid, name))
            return true;
    return false;
}

// The sources `selection` chooses among `known`; what it asks for and cannot
// have goes to `problems`.
std::vector<TDesktopSourceInfo> Chosen(const TDesktopSelection& selection,
                                       const std::vector<TDesktopSourceInfo>& known,
                                       const QString& what, QStringList& problems) {
    std::vector<TDesktopSourceInfo> result;
    if (selection.names.isEmpty()) {
        for (const TDesktopSourceInfo& info : known)
            if (info.enabled && info.selected)
                result.push_back(info);
        if (result.empty())
            problems << QStringLiteral("The desktop's store has no %1 switched on.").arg(what);
        return result;
    }
    for (const QString& wanted : selection.names) {
        bool found = false;
        for (const TDesktopSourceInfo& info : known) {
            if (!DesktopSourceNamed(wanted, info.uid, info.name))
                continue;
            found = true;
            if (!info.enabled)
                problems << QStringLiteral("The %1 \"%2\" is switched off in the desktop's store.")
                                .arg(what, info.name);
            else if (std::none_of(result.begin(), result.end(),
                                  [&info](const auto& chosen) { return chosen.uid == info.uid; }))
                result.push_back(info);
        }
        if (!found)
            problems
                << QStringLiteral("The desktop's store has no %1 named \"%2\".").arg(what, wanted);
    }
    return result;
}

QString LinkProblem(const TDesktopSourceInfo& info, const QString& what) {
    const QString account = info.account.isEmpty() ? info.name : info.account;
    if (info.signInNeeded)
        return QStringLiteral("The %1 \"%2\" needs its account (%3) signed in again: Settings > "
                              "Online Accounts, or Evolution.")
            .arg(what, info.name, account);
    if (info.certificateRefused)
        return QStringLiteral("The %1 \"%2\" is not read: the certificate of its server (%3) is "
                              "not trusted; accept it in Evolution.")
            .arg(what, info.name, account);
    return {};
}

// Why the store gave nothing, as the dialog says it: a desktop without the
// store (KDE, a minimal session) is told apart from one that failed.
QString UnreachedText(const TDesktopStore& store) {
    if (store.Trouble() != TStoreTrouble::NoStore)
        return store.Problem();
    return QStringLiteral("There is no calendar store on this desktop: evolution-data-server, "
                          "which GNOME and Evolution keep calendars in, is not running. On KDE "
                          "or a minimal session, read files or a server instead.");
}

// A revision that never moves tells nothing: such a source is read by the clock.
bool IsRealRevision(const QByteArray& revision) {
    return !revision.isEmpty() && revision != "0";
}

} // namespace

bool DesktopSourceNamed(const QString& wanted, const QString& uid, const QString& name) {
    return wanted == uid || wanted.compare(name, Qt::CaseInsensitive) == 0;
}

TDesktopSource::TDesktopSource(std::shared_ptr<TDesktopStore> store, TDesktopKind kind,
                               TDesktopSelection selection, QString what,
                               const QString& cacheFolder, int retrySeconds, TStatusSink status)
    : store(std::move(store)), kind(kind), selection(std::move(selection)), what(std::move(what)),
      copy(std::make_shared<TSourceCache>(cacheFolder + QStringLiteral("/desktop-") +
                                          KindName(kind) + QStringLiteral(".cache"))),
      retrySeconds(retrySeconds), status(std::move(status)) {}

// Items carry the user's answers: other addresses read everything again.
void TDesktopSource::ReadAnswersOf(TUserAddresses addresses) {
    if (addresses == user)
        return;
    user = std::move(addresses);
    copiesLoaded = false;
}

std::shared_ptr<const TIcsContents> TDesktopSource::Contents() {
    const QByteArray zoneNow = LocalZoneStamp();
    // The items carry local times: a new zone reads everything again.
    const bool afresh = !copiesLoaded || zoneNow != zone;
    if (afresh) {
        zone = zoneNow;
        chosen.clear();
        NoteCopies();
        sinceFailure.invalidate();
    }
    Refresh();
    if (afresh) {
        // Only what the store did not give now is read from its copy.
        ParseCopiesUnread();
        Rebuild();
    }
    if (!snapshot)
        Rebuild();
    return snapshot;
}

std::optional<QByteArray> TDesktopSource::CopyText(const QString& uid) const {
    try {
        return copy->Text(uid);
    } catch (const outlook::EAutomationError& error) {
        qCWarning(lcMailStore).noquote() << error.Message();
        return std::nullopt;
    }
}

// The sources the copy holds, by name and content, so that a read that finds
// the same items writes nothing.
void TDesktopSource::NoteCopies() {
    copiesLoaded = true;
    for (const auto& [uid, item] : copy->Items()) {
        const std::optional<QByteArray> text = CopyText(uid);
        if (!text)
            continue;
        const QString name = CopyName(*text);
        if (!selection.names.isEmpty() && !Names(selection, uid, name))
            continue;
        TChosen& entry = chosen[uid];
        entry.name = name;
        entry.copyHash = HashOf(*text);
    }
}

void TDesktopSource::ParseCopiesUnread() {
    for (auto& [uid, entry] : chosen) {
        if (entry.contents || entry.copyHash.isEmpty())
            continue;
        const std::optional<QByteArray> text = CopyText(uid);
        if (!text)
            continue;
        auto contents = std::make_shared<TIcsContents>();
        ParseIcsText(*text, uid, *contents, nullptr, user);
        // Not written back from a copy: the store's version of a task is not known.
        contents->KeepTasksInPlace();
        entry.contents = std::move(contents);
    }
}

QString TDesktopSource::SaveCopy() {
    if (!copy->Unsaved())
        return {};
    try {
        EnsureFolder(QFileInfo(copy->Path()).absolutePath());
        copy->Save();
    } catch (const outlook::EAutomationError& error) {
        // Kept in memory and tried again at the next change or look.
        return error.Message();
    }
    return {};
}

bool TDesktopSource::NeedsRead(const QString& uid, const TChosen& entry) const {
    if (!entry.fromStore)
        return true;
    const std::optional<QByteArray> revision = store->Revision(uid);
    if (!revision) // not open: the store was reached afresh
        return true;
    if (!IsRealRevision(*revision))
        return !entry.sinceRead.isValid() ||
               entry.sinceRead.elapsed() >= qint64(retrySeconds) * 1000;
    return *revision != entry.revision;
}

bool TDesktopSource::Refresh() {
    if (sinceFailure.isValid() && sinceFailure.elapsed() < qint64(retrySeconds) * 1000)
        return false;
    if (!store->Reach()) {
        StoreAway();
        return false;
    }
    QStringList problems;
    const std::vector<TDesktopSourceInfo> chosenNow =
        Chosen(selection, store->Sources(kind), what, problems);
    bool changed = false;
    for (auto entry = chosen.begin(); entry != chosen.end();) {
        const bool kept =
            std::any_of(chosenNow.begin(), chosenNow.end(),
                        [&entry](const auto& info) { return info.uid == entry->first; });
        if (kept) {
            ++entry;
            continue;
        }
        copy->Remove(entry->first);
        entry = chosen.erase(entry);
        changed = true;
    }
    for (const TDesktopSourceInfo& info : chosenNow) {
        if (const QString problem = LinkProblem(info, what); !problem.isEmpty())
            problems << problem;
        TChosen& entry = chosen[info.uid];
        entry.name = info.name;
        if (!NeedsRead(info.uid, entry))
            continue;
        if (!ReadOne(info, entry)) {
            if (changed)
                Rebuild();
            SaveCopy();
            StoreAway();
            return changed;
        }
        changed = true;
    }
    if (changed)
        Rebuild();
    if (const QString failed = SaveCopy(); !failed.isEmpty())
        problems << failed;
    sinceFailure.invalidate();
    if (!problems.isEmpty()) {
        troubled = true;
        Report(problems.join(QLatin1Char(' ')));
    } else if (troubled) {
        troubled = false;
        Report(QStringLiteral("The desktop's %1 is read again.").arg(what));
    }
    TellHealth(problems.join(QLatin1Char(' ')));
    return changed;
}

bool TDesktopSource::ReadOne(const TDesktopSourceInfo& info, TChosen& entry) {
    std::optional<TDesktopRead> read = store->Read(kind, info.uid, user);
    ++reads;
    if (!read)
        return false;
    entry.fromStore = true;
    entry.readOnly = read->readOnly;
    entry.revision = read->revision;
    entry.taskVersions = std::move(read->taskVersions);
    entry.sinceRead.start();
    auto contents = std::make_shared<TIcsContents>(std::move(read->contents));
    // A read-only source is never written: its tasks are not moved on.
    if (entry.readOnly)
        contents->KeepTasksInPlace();
    entry.contents = std::move(contents);
    KeepCopy(info.uid, entry, read->text);
    return true;
}

void TDesktopSource::KeepCopy(const QString& uid, TChosen& entry, const QByteArray& text) {
    const QByteArray hash = HashOf(text);
    if (hash == entry.copyHash)
        return;
    copy->Put(uid, entry.revision, text);
    entry.copyHash = hash;
}

void TDesktopSource::Rebuild() {
    auto merged = std::make_shared<TIcsContents>();
    for (const auto& [uid, entry] : chosen)
        if (entry.contents)
            merged->Append(*entry.contents);
    snapshot = std::move(merged);
}

void TDesktopSource::StoreAway() {
    sinceFailure.start();
    troubled = true;
    const QString problem =
        QStringLiteral("%1 The last good copy of the %2 is used.").arg(store->Problem(), what);
    Report(problem);
    TellHealth(problem);
}

void TDesktopSource::TellHealth(const QString& problem) {
    if (!health || healthTold == problem)
        return;
    healthTold = problem;
    health(healthSource, problem);
}

void TDesktopSource::ReportHealthTo(QString source, TSourceHealthSink sink) {
    healthSource = std::move(source);
    health = std::move(sink);
}

std::optional<TTaskRecord> TDesktopSource::SkipTask(const TTaskRecord& task) {
    using TOutcome = TDesktopTaskMove::TOutcome;
    const auto entry = chosen.find(task.origin.filePath);
    if (entry == chosen.end() || !entry->second.fromStore || entry->second.readOnly ||
        !store->Connected())
        return std::nullopt;
    const auto version = entry->second.taskVersions.find(task.origin.uid);
    if (version == entry->second.taskVersions.end())
        return std::nullopt;
    TDesktopTaskMove move = store->MoveTask(entry->first, task.origin.uid, version->second);
    switch (move.outcome) {
    case TOutcome::Moved:
        version->second = move.version;
        return std::move(move.task);
    case TOutcome::ChangedElsewhere:
        Report(QStringLiteral("The task \"%1\" was changed in \"%2\" meanwhile; that change is "
                              "kept and the task is read again.")
                   .arg(task.subject, entry->second.name));
        entry->second.revision.clear();
        return std::nullopt;
    case TOutcome::Gone:
        entry->second.revision.clear();
        return std::nullopt;
    case TOutcome::NoNextOccurrence:
        return std::nullopt;
    case TOutcome::Failed:
        troubled = true;
        Report(
            QStringLiteral("The task \"%1\" was not moved on: %2").arg(task.subject, move.problem));
        return std::nullopt;
    }
    return std::nullopt;
}

void TDesktopSource::Report(const QString& text) {
    if (status.Tell(text))
        qCWarning(lcMailStore).noquote() << text;
}

QString ProbeDesktopSource(const TDesktopSelection& selection, TDesktopKind kind, int answerMs) {
    const QString what =
        kind == TDesktopKind::Calendar ? QStringLiteral("calendar") : QStringLiteral("task list");
    TDesktopStore store(answerMs);
    if (!store.Reach())
        return UnreachedText(store);
    QStringList problems;
    const std::vector<TDesktopSourceInfo> sources =
        Chosen(selection, store.Sources(kind), what, problems);
    QStringList found;
    int total = 0;
    for (const TDesktopSourceInfo& info : sources) {
        if (const QString problem = LinkProblem(info, what); !problem.isEmpty())
            problems << problem;
        const std::optional<TDesktopRead> read = store.Read(kind, info.uid);
        if (!read) {
            problems << QStringLiteral("\"%1\": %2").arg(info.name, store.Problem());
            continue;
        }
        const int count =
            static_cast<int>(kind == TDesktopKind::Calendar ? read->contents.appointments.size()
                                                            : read->contents.tasks.size());
        total += count;
        found << QStringLiteral("%1 in \"%2\" (%3)").arg(count).arg(info.name, info.account);
    }
    QString result;
    if (!found.isEmpty())
        result = QStringLiteral("Found %1 %2: %3.")
                     .arg(total)
                     .arg(kind == TDesktopKind::Calendar ? QStringLiteral("events")
                                                         : QStringLiteral("tasks"),
                          found.join(QStringLiteral(", ")));
    if (!problems.isEmpty())
        result +=
            (result.isEmpty() ? QString() : QStringLiteral(" ")) + problems.join(QLatin1Char(' '));
    return result;
}

TDesktopListing ListDesktopSources(int answerMs) {
    TDesktopStore store(answerMs);
    if (!store.Reach())
        return {{}, {}, UnreachedText(store)};
    return {store.Sources(TDesktopKind::Calendar), store.Sources(TDesktopKind::Tasks), {}};
}

} // namespace rp::mailstore
