// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An IMAP mailbox read as the inbox. A thread of its own looks at the server every
// few minutes and keeps a copy; the engine's cycles read only that copy, so a slow
// or absent server never holds up a cycle. The copy is also kept on disk, so a
// start without network still reminds of what is known.
//
// Only flags and a few header fields are read, always with EXAMINE and
// BODY.PEEK: nothing on the server is ever marked read or changed.

#include "platform/common/StatusSink.h"
#include "platform/inbox/ImapSession.h"
#include "platform/inbox/MaildirInbox.h"
#include "platform/net/SignIn.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace rp::mailstore {

struct TImapMessage {
    uint32_t uid = 0;
    TMailRecord record;
};

// What is known of the mailbox, and what the server said of it last time.
struct TImapMailbox {
    bool loaded = false;
    uint32_t uidValidity = 0;
    uint32_t uidNext = 0;
    uint64_t highestModSeq = 0; // 0: the server has no CONDSTORE
    uint32_t exists = 0;
    uint32_t unseen = 0;
    std::vector<TImapMessage> messages; // by UID
};

// A message as the inbox keeps it, from what its FETCH said.
TImapMessage MessageFromFetch(const TFetchedMessage& fetched);

// Brings `mailbox` up to date: one STATUS when nothing changed; else EXAMINE, the
// flags changed since the last look (CHANGEDSINCE where the server has CONDSTORE),
// and the headers of new messages only. A new UIDVALIDITY reads all again. The
// mailbox is changed only when every step succeeded. True when it changed.
bool SyncMailbox(TImapSession& session, TImapMailbox& mailbox);

// The engine's view of the messages.
std::shared_ptr<const TMaildirContents> ContentsOf(const TImapMailbox& mailbox);

// The copy on disk: written with mode 0600, read back only for the same account.
void SaveMailboxCopy(const QString& path, const QString& account, const TImapMailbox& mailbox,
                     double lastGood);
bool LoadMailboxCopy(const QString& path, const QString& account, TImapMailbox& mailbox,
                     double& lastGood);

struct TImapInboxStatus {
    bool haveCopy = false;
    double lastGood = 0; // when the server was last read (or the copy was made)
    QString problem;     // empty while the server answers
    std::optional<TImapFailure> failure;
    double failingSince = 0; // first failure of the current run of failures
};

class TImapInbox : public IInboxSource {
public:
    using TPasswordSource = std::function<QString()>;

    // `status` hears of trouble and of the server answering again; may be empty.
    // `login` names the server's address and user when it knows them (Online
    // Accounts) and gives the password or access token.
    TImapInbox(TSourceSettings settings, TLoginSource login, QString cachePath,
               int pollSeconds = 300, TStatusSink status = {});
    TImapInbox(TSourceSettings settings, TPasswordSource password, QString cachePath,
               int pollSeconds = 300, TStatusSink status = {});
    ~TImapInbox() override;

    // The copy as it is now; starts the polling thread on first use.
    std::shared_ptr<const TMaildirContents> Contents() override;
    // One look at the server on the calling thread (never the GUI's).
    void PollNow();

    // After each look at the server, tells `sink` under the id `source` whether
    // it was read (an empty problem) or why not. Before the first Contents().
    void ReportHealthTo(QString source, TSourceHealthSink sink);

    TImapInboxStatus Status() const;
    // One line for the status bar; empty while all is well.
    QString StatusText() const;
    TImapTraffic Traffic() const;
    int CopiesWritten() const { return copiesWritten; }
    const QString& CachePath() const { return cachePath; }

private:
    void StartPolling();
    void PollLoop();
    bool Sync();
    void SignIn(bool renew);
    void NoteFailure(const EImapError& error);
    void KeepCopy();
    void Report(const QString& text);
    QString Account() const;

    TSourceSettings settings;
    TLoginSource loginSource;
    QString cachePath;
    int pollSeconds;
    TStatusOnce statusSink;
    QString healthSource;
    TSourceHealthSink health;

    std::mutex pollMutex; // one look at a time; guards session and working copy
    std::unique_ptr<TImapSession> session;
    TImapMailbox mailbox;
    std::optional<TServerLogin> login;

    mutable std::mutex stateMutex; // guards what other threads read
    std::shared_ptr<const TMaildirContents> snapshot;
    TImapInboxStatus status;
    TImapTraffic traffic;
    std::atomic<int> copiesWritten{0};

    std::atomic<bool> stopping{false};
    std::mutex wakeMutex;
    std::condition_variable wake;
    std::thread poller;
};

// The copy's file name in the cache folder, one per server and user.
QString ImapCopyName(const TSourceSettings& settings);

// The dialog's "Test": one look at the server, nothing kept. Says how many
// messages and how many unread urgent ones there are (and, with OAuth2, that
// the sign-in worked), or what went wrong.
QString TestImapInbox(const TSourceSettings& settings, const QString& password);
QString TestImapInbox(const TSourceSettings& settings, const TLoginSource& login);

} // namespace rp::mailstore
