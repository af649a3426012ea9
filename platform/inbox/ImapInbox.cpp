// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/inbox/ImapInbox.h"

#include "engine/OutlookModel.h"
#include "platform/common/Files.h"
#include "platform/inbox/MessageHeaders.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <algorithm>
#include <map>

namespace rp::mailstore {

namespace {

// The header fields the inbox shows and judges importance by; nothing else.
constexpr const char* kHeaderFields =
    "BODY.PEEK[HEADER.FIELDS (FROM SENDER SUBJECT IMPORTANCE PRIORITY X-PRIORITY "
    "X-MSMAIL-PRIORITY)]";
constexpr const char* kCopyMagic = "RingpostImapCopy";
constexpr qint32 kCopyVersion = 1;
// A copy with more messages than this is no copy this program wrote.
constexpr quint32 kMaxCopiedMessages = 10'000'000;

double Now() {
    return FromQDateTime(QDateTime::currentDateTime());
}

QByteArray Compact(const QString& text) {
    QByteArray bytes = text.toUtf8();
    bytes.squeeze();
    return bytes;
}

bool IsSeen(const std::vector<QByteArray>& flags) {
    return std::any_of(flags.begin(), flags.end(), [](const QByteArray& flag) {
        return flag.compare("\\Seen", Qt::CaseInsensitive) == 0;
    });
}

void SetUid(TMailRecord& record, uint32_t uid) {
    record.fileName = QString::number(uid);
    record.uniqueLength = static_cast<int>(record.fileName.size());
}

bool ByUid(const TImapMessage& left, const TImapMessage& right) {
    return left.uid < right.uid;
}

TImapMessage* Find(std::vector<TImapMessage>& messages, uint32_t uid) {
    auto found = std::lower_bound(messages.begin(), messages.end(), uid,
                                  [](const TImapMessage& m, uint32_t u) { return m.uid < u; });
    return found != messages.end() && found->uid == uid ? &*found : nullptr;
}

TMailboxStatus Gather(const std::vector<TImapResponse>& responses) {
    TMailboxStatus status;
    for (const TImapResponse& response : responses)
        ReadMailboxStatus(response, status);
    return status;
}

} // namespace

TImapMessage MessageFromFetch(const TFetchedMessage& fetched) {
    TImapMessage message;
    message.uid = fetched.uid;
    TMailRecord& record = message.record;
    SetUid(record, fetched.uid);
    record.unread = !IsSeen(fetched.flags.value_or(std::vector<QByteArray>{}));
    // A server that leaves out the arrival time: the message counts as just arrived,
    // so an urgent one is still announced.
    record.receivedTime = fetched.internalDate
                              ? FromQDateTime(QDateTime::fromSecsSinceEpoch(*fetched.internalDate))
                              : Now();
    if (fetched.header && !fetched.header->isEmpty())
        if (const std::optional<TMessageHeaders> headers = ParseHeaders(*fetched.header + "\n")) {
            record.subject = Compact(headers->subject);
            record.senderName = Compact(headers->senderName);
            record.importance = headers->importance;
        }
    return message;
}

namespace {

// The headers and flags of every message from `fromUid` on.
void FetchNew(TImapSession& session, uint32_t fromUid, std::vector<TImapMessage>& messages) {
    const QByteArray command = "UID FETCH " + QByteArray::number(fromUid) +
                               ":* (UID FLAGS INTERNALDATE " + kHeaderFields + ")";
    for (const TImapResponse& response : session.Command(command)) {
        const std::optional<TFetchedMessage> fetched = ReadFetch(response);
        // "n:*" names the last message even when it is older than n.
        if (!fetched || fetched->uid < fromUid)
            continue;
        TImapMessage message = MessageFromFetch(*fetched);
        if (TImapMessage* known = Find(messages, fetched->uid))
            *known = std::move(message);
        else
            messages.insert(std::upper_bound(messages.begin(), messages.end(), message, ByUid),
                            std::move(message));
    }
}

// The flags of the known messages; `changedSince` 0 asks for all of them, and
// then a message left out has been removed.
void FetchFlags(TImapSession& session, uint32_t lastUid, uint64_t changedSince,
                std::vector<TImapMessage>& messages) {
    QByteArray command = "UID FETCH 1:" + QByteArray::number(lastUid) + " (UID FLAGS)";
    if (changedSince > 0)
        command += " (CHANGEDSINCE " + QByteArray::number(changedSince) + ')';
    std::vector<char> present(messages.size(), 0);
    for (const TImapResponse& response : session.Command(command)) {
        const std::optional<TFetchedMessage> fetched = ReadFetch(response);
        if (!fetched || !fetched->flags)
            continue;
        if (TImapMessage* known = Find(messages, fetched->uid)) {
            known->record.unread = !IsSeen(*fetched->flags);
            present[static_cast<size_t>(known - messages.data())] = 1;
        }
    }
    if (changedSince > 0)
        return;
    std::vector<TImapMessage> kept;
    kept.reserve(messages.size());
    for (size_t i = 0; i < messages.size(); ++i)
        if (present[i] || messages[i].uid > lastUid)
            kept.push_back(std::move(messages[i]));
    messages = std::move(kept);
}

// Drops the messages the server no longer has.
void DropRemoved(TImapSession& session, std::vector<TImapMessage>& messages) {
    std::vector<uint32_t> existing;
    for (const TImapResponse& response : session.Command("UID SEARCH ALL"))
        for (const uint32_t uid : ReadSearch(response))
            existing.push_back(uid);
    std::sort(existing.begin(), existing.end());
    std::erase_if(messages, [&](const TImapMessage& message) {
        return !std::binary_search(existing.begin(), existing.end(), message.uid);
    });
}

bool Unchanged(const TImapMailbox& mailbox, const TMailboxStatus& status, bool condStore) {
    if (!mailbox.loaded || status.uidValidity != mailbox.uidValidity ||
        status.uidNext != mailbox.uidNext || status.messages != mailbox.exists)
        return false;
    // Without CONDSTORE a flag change shows only in the unread count.
    if (condStore && status.highestModSeq)
        return *status.highestModSeq == mailbox.highestModSeq;
    return status.unseen == mailbox.unseen;
}

[[noreturn]] void FailMalformed(const TImapSession& session, const char* what) {
    throw EImapError(TImapFailure::Malformed,
                     QStringLiteral("The IMAP server %1 sent an answer that could not be read: %2.")
                         .arg(session.Address().Server(), QLatin1String(what)));
}

} // namespace

bool SyncMailbox(TImapSession& session, TImapMailbox& mailbox) {
    if (!session.Connected())
        session.Connect();
    const QByteArray name = QuotedString(session.Address().mailbox);
    const bool condStore = session.HasCapability("CONDSTORE");
    const TMailboxStatus status =
        Gather(session.Command("STATUS " + name + " (MESSAGES UIDNEXT UIDVALIDITY UNSEEN" +
                               (condStore ? " HIGHESTMODSEQ)" : ")")));
    if (Unchanged(mailbox, status, condStore))
        return false;

    // EXAMINE opens it read-only: no flag, not even \Recent, changes.
    const TMailboxStatus opened = Gather(session.Command("EXAMINE " + name));
    if (!opened.uidValidity)
        FailMalformed(session, "no UIDVALIDITY for the mailbox");
    TImapMailbox next = mailbox;
    const bool reload = !mailbox.loaded || *opened.uidValidity != mailbox.uidValidity;
    if (reload) {
        next.messages.clear();
        FetchNew(session, 1, next.messages);
    } else {
        const uint64_t since = condStore ? mailbox.highestModSeq : 0;
        if (mailbox.uidNext > 1 && !mailbox.messages.empty())
            FetchFlags(session, mailbox.uidNext - 1, since, next.messages);
        const uint32_t uidNext = opened.uidNext.value_or(status.uidNext.value_or(0));
        if (uidNext == 0 || uidNext > mailbox.uidNext)
            FetchNew(session, std::max<uint32_t>(mailbox.uidNext, 1), next.messages);
        if (since > 0 && next.messages.size() != opened.messages.value_or(0))
            DropRemoved(session, next.messages);
    }
    session.Command("CLOSE"); // after EXAMINE it removes nothing

    next.loaded = true;
    next.uidValidity = *opened.uidValidity;
    const uint32_t highestUid = next.messages.empty() ? 0 : next.messages.back().uid;
    next.uidNext = std::max(opened.uidNext.value_or(status.uidNext.value_or(0)), highestUid + 1);
    next.highestModSeq =
        condStore ? opened.highestModSeq.value_or(status.highestModSeq.value_or(0)) : 0;
    next.exists = opened.messages.value_or(status.messages.value_or(0));
    next.unseen = status.unseen.value_or(0);
    mailbox = std::move(next);
    return true;
}

std::shared_ptr<const TMaildirContents> ContentsOf(const TImapMailbox& mailbox) {
    auto contents = std::make_shared<TMaildirContents>();
    contents->messages.reserve(mailbox.messages.size());
    for (const TImapMessage& message : mailbox.messages) {
        contents->messages.push_back(message.record);
        contents->unreadCount += message.record.unread ? 1 : 0;
    }
    return contents;
}

void SaveMailboxCopy(const QString& path, const QString& account, const TImapMailbox& mailbox,
                     double lastGood) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << QByteArray(kCopyMagic) << kCopyVersion << account << mailbox.uidValidity
        << mailbox.uidNext << quint64(mailbox.highestModSeq) << mailbox.exists << mailbox.unseen
        << lastGood << quint32(mailbox.messages.size());
    for (const TImapMessage& message : mailbox.messages) {
        const TMailRecord& record = message.record;
        out << message.uid << record.unread << qint32(record.importance) << record.receivedTime
            << record.subject << record.senderName;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Subjects and senders of the user's mail: theirs alone.
    ReplaceFileAtomically(path, bytes, 0600, true);
}

bool LoadMailboxCopy(const QString& path, const QString& account, TImapMailbox& mailbox,
                     double& lastGood) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QDataStream in(&file);
    in.setVersion(QDataStream::Qt_6_0);
    QByteArray magic;
    qint32 version = 0;
    QString owner;
    in >> magic >> version >> owner;
    if (magic != kCopyMagic || version != kCopyVersion || owner != account)
        return false;
    TImapMailbox read;
    quint64 modSeq = 0;
    quint32 count = 0;
    double good = 0;
    in >> read.uidValidity >> read.uidNext >> modSeq >> read.exists >> read.unseen >> good >> count;
    if (in.status() != QDataStream::Ok || count > kMaxCopiedMessages)
        return false;
    read.highestModSeq = modSeq;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        TImapMessage message;
        qint32 importance = 1;
        TMailRecord& record = message.record;
        in >> message.uid >> record.unread >> importance >> record.receivedTime >> record.subject >>
            record.senderName;
        record.importance = importance;
        record.subject.squeeze();
        record.senderName.squeeze();
        SetUid(record, message.uid);
        read.messages.push_back(std::move(message));
    }
    if (in.status() != QDataStream::Ok ||
        !std::is_sorted(read.messages.begin(), read.messages.end(), ByUid))
        return false;
    read.loaded = true;
    mailbox = std::move(read);
    lastGood = good;
    return true;
}

TImapInbox::TImapInbox(TSourceSettings settings, TLoginSource login, QString cachePath,
                       int pollSeconds, TStatusSink statusSink)
    : settings(std::move(settings)), loginSource(std::move(login)), cachePath(std::move(cachePath)),
      pollSeconds(std::max(pollSeconds, 1)), statusSink(std::move(statusSink)) {
    double lastGood = 0;
    if (LoadMailboxCopy(this->cachePath, Account(), mailbox, lastGood)) {
        status.haveCopy = true;
        status.lastGood = lastGood;
    }
    snapshot = ContentsOf(mailbox);
}

TImapInbox::TImapInbox(TSourceSettings settings, TPasswordSource password, QString cachePath,
                       int pollSeconds, TStatusSink statusSink)
    : TImapInbox(
          settings,
          [settings, password](bool) {
              return TServerLogin::WithPassword(settings.url, settings.user,
                                                password ? password() : QString());
          },
          std::move(cachePath), pollSeconds, std::move(statusSink)) {}

TImapInbox::~TImapInbox() {
    stopping = true;
    {
        std::lock_guard lock(wakeMutex);
        wake.notify_all();
    }
    if (poller.joinable())
        poller.join();
}

QString TImapInbox::Account() const {
    const QString account = settings.user + QLatin1Char(' ') + settings.url.trimmed();
    return settings.signIn.FromOnlineAccounts()
               ? account + QLatin1Char(' ') + settings.signIn.account
               : account;
}

std::shared_ptr<const TMaildirContents> TImapInbox::Contents() {
    StartPolling();
    std::lock_guard lock(stateMutex);
    return snapshot;
}

void TImapInbox::StartPolling() {
    std::lock_guard lock(wakeMutex);
    if (!poller.joinable() && !stopping)
        poller = std::thread([this] { PollLoop(); });
}

void TImapInbox::PollLoop() {
    while (!stopping) {
        PollNow();
        std::unique_lock lock(wakeMutex);
        wake.wait_for(lock, std::chrono::seconds(pollSeconds), [this] { return stopping.load(); });
    }
}

namespace {

// A session to the server `login` names (or the profile's), as its user.
std::unique_ptr<TImapSession> SessionFor(const TSourceSettings& settings, const TServerLogin& login,
                                         const std::atomic<bool>* stop) {
    TSourceSettings server = settings;
    if (!login.url.isEmpty())
        server.url = login.url;
    server.user = login.user;
    return std::make_unique<TImapSession>(server, login.secret, stop,
                                          login.bearer ? TSecretKind::AccessToken
                                                       : TSecretKind::Password);
}

} // namespace

// A new session with the login as the source finds it now.
void TImapInbox::SignIn(bool renew) {
    session.reset();
    login.reset();
    login = loginSource(renew);
    session = SessionFor(settings, *login, &stopping);
}

// One look. A kept connection the server has closed meanwhile: once more, afresh.
bool TImapInbox::Sync() {
    const bool kept = session->Connected();
    try {
        return SyncMailbox(*session, mailbox);
    } catch (const EImapError& error) {
        if (error.Failure() != TImapFailure::Unreachable || !kept)
            throw;
        return SyncMailbox(*session, mailbox);
    }
}

void TImapInbox::PollNow() {
    std::lock_guard poll(pollMutex);
    try {
        if (!session)
            SignIn(false);
        bool changed = false;
        try {
            changed = Sync();
        } catch (const EImapError& error) {
            // A token may have expired since it was fetched: a fresh one, once.
            if (error.Failure() != TImapFailure::Login || !login->bearer)
                throw;
            SignIn(true);
            changed = Sync();
        }
        bool wasFailing = false;
        {
            std::lock_guard lock(stateMutex);
            if (changed)
                snapshot = ContentsOf(mailbox);
            wasFailing = !status.problem.isEmpty();
            status = {true, Now(), {}, std::nullopt, 0};
            traffic = session->Traffic();
        }
        if (wasFailing)
            Report(QStringLiteral("The IMAP inbox %1 is reachable again.")
                       .arg(session->Address().Server()));
        if (changed)
            KeepCopy();
    } catch (const EImapError& error) {
        NoteFailure(error);
    } catch (const outlook::EAutomationError& error) {
        // The password or token command, or Online Accounts.
        NoteFailure(EImapError(TImapFailure::Settings, error.Message()));
    }
    const QString text = StatusText();
    if (!text.isEmpty())
        Report(text);
    if (health)
        health(healthSource, text);
}

void TImapInbox::ReportHealthTo(QString source, TSourceHealthSink sink) {
    healthSource = std::move(source);
    health = std::move(sink);
}

// A copy that cannot be written costs only the next offline start; the inbox goes on.
void TImapInbox::KeepCopy() {
    try {
        SaveMailboxCopy(cachePath, Account(), mailbox, Now());
        ++copiesWritten;
    } catch (const outlook::EAutomationError& error) {
        qCWarning(lcMailStore).noquote() << error.Message();
    }
}

void TImapInbox::NoteFailure(const EImapError& error) {
    QString problem = error.Message();
    if (error.Failure() == TImapFailure::Login && login && login->bearer)
        problem += QLatin1Char(' ') + login->advice;
    // The keyring, the command or Online Accounts may know better next time.
    if (error.Failure() == TImapFailure::Login || error.Failure() == TImapFailure::Settings) {
        session.reset();
        login.reset();
    }
    qCWarning(lcMailStore).noquote() << problem;
    std::lock_guard lock(stateMutex);
    if (status.problem.isEmpty())
        status.failingSince = Now();
    status.problem = problem;
    status.failure = error.Failure();
    if (session)
        traffic = session->Traffic();
}

void TImapInbox::Report(const QString& text) {
    statusSink.Tell(text);
}

QString ImapCopyName(const TSourceSettings& settings) {
    QString account = settings.url.trimmed() + QLatin1Char('\n') + settings.user;
    if (settings.signIn.FromOnlineAccounts())
        account += QLatin1Char('\n') + settings.signIn.account.trimmed();
    const QByteArray id = account.toUtf8();
    return QStringLiteral("inbox-%1.imap")
        .arg(QString::fromLatin1(
            QCryptographicHash::hash(id, QCryptographicHash::Sha1).toHex().left(16)));
}

TImapInboxStatus TImapInbox::Status() const {
    std::lock_guard lock(stateMutex);
    return status;
}

TImapTraffic TImapInbox::Traffic() const {
    std::lock_guard lock(stateMutex);
    return traffic;
}

QString TImapInbox::StatusText() const {
    const TImapInboxStatus now = Status();
    if (now.problem.isEmpty())
        return {};
    const QString since =
        ToQDateTime(now.failingSince).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    const QString copy =
        now.haveCopy
            ? QStringLiteral("reminding from the copy of %1")
                  .arg(ToQDateTime(now.lastGood).toString(QStringLiteral("yyyy-MM-dd HH:mm")))
            : QStringLiteral("no copy of it yet");
    if (now.failure == TImapFailure::Unreachable)
        return QStringLiteral("Inbox unreachable since %1 (%2): %3").arg(since, copy, now.problem);
    return QStringLiteral("Inbox not read since %1 (%2): %3").arg(since, copy, now.problem);
}

namespace {

// One look at the mailbox with this login, in words.
QString LookOnce(const TSourceSettings& settings, const TServerLogin& login) {
    const std::unique_ptr<TImapSession> session = SessionFor(settings, login, nullptr);
    TImapMailbox mailbox;
    SyncMailbox(*session, mailbox);
    int urgent = 0;
    for (const TImapMessage& message : mailbox.messages)
        urgent +=
            message.record.unread && message.record.importance == outlook::olImportanceHigh ? 1 : 0;
    const size_t count = mailbox.messages.size();
    const QString found =
        QStringLiteral("Found %1 %2 in %3, %4 unread and urgent.")
            .arg(count)
            .arg(count == 1 ? QStringLiteral("message") : QStringLiteral("messages"),
                 QString::fromUtf8(session->Address().mailbox))
            .arg(urgent);
    if (!login.bearer)
        return found;
    return QStringLiteral("Signed in to %1 as %2 with OAuth2. %3")
        .arg(session->Address().Server(), login.user, found);
}

} // namespace

QString TestImapInbox(const TSourceSettings& settings, const QString& password) {
    return TestImapInbox(settings, [&settings, &password](bool) {
        return TServerLogin::WithPassword(settings.url, settings.user, password);
    });
}

QString TestImapInbox(const TSourceSettings& settings, const TLoginSource& source) {
    TServerLogin login;
    try {
        login = source(false);
        return WithTokenRenewal<EImapError>(
            login, source, [&settings](const TServerLogin& now) { return LookOnce(settings, now); },
            [](const EImapError& error) { return error.Failure() == TImapFailure::Login; });
    } catch (const EImapError& error) {
        if (error.Failure() == TImapFailure::Login && login.bearer)
            return error.Message() + QLatin1Char(' ') + login.advice;
        return error.Message();
    } catch (const ESignInError& error) {
        return error.Explained();
    }
}

} // namespace rp::mailstore
