// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop's own calendar store (evolution-data-server), reached through its
// libraries: which calendars and task lists it has, their items, and a task
// written back. Every call to the store waits at most a set time; a store that
// does not answer by then is let go and reached again at the next Reach().
//
// One object belongs to one thread (the engine's, or a dialog's worker): the
// store's notifications are delivered on a GLib main context of its own, which
// Reach() runs without blocking.

#include "platform/calendar/IcsRecords.h"

#include <QByteArray>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace rp::mailstore {

enum class TDesktopKind { Calendar, Tasks };

struct TDesktopSourceInfo {
    QString uid;
    QString name;
    QString account;       // what it belongs to: "On This Computer", an account's name
    bool enabled = false;  // switched on, and its account too
    bool selected = false; // ticked in the desktop's calendar programs
    bool signInNeeded = false;
    bool certificateRefused = false;
};

// Why the store gave nothing: not there, or there but silent.
enum class TStoreTrouble { None, NoStore, NoAnswer, Other };

// One source's items as the store has them now.
struct TDesktopRead {
    QByteArray revision; // empty when the store keeps none for this source
    bool readOnly = false;
    // The items as one VCALENDAR with the zones they use: the last good copy.
    QByteArray text;
    TIcsContents contents;
    // Of each recurring task, by UID: what it read as, to see a change made
    // elsewhere before it is written back.
    std::map<QByteArray, QByteArray> taskVersions;
};

// What came of moving a task on in the store.
struct TDesktopTaskMove {
    enum class TOutcome { Moved, NoNextOccurrence, ChangedElsewhere, Gone, Failed };
    TOutcome outcome = TOutcome::Failed;
    std::optional<TTaskRecord> task; // as it now reads, when moved
    QByteArray version;              // likewise
    QString problem;                 // when failed
};

class TDesktopStore {
public:
    static constexpr int kDefaultAnswerMs = 10000;
    static constexpr int kDefaultRetryMs = 60000;

    // After the store was not reached, or did not answer, it is tried again
    // only after `retryMs`.
    explicit TDesktopStore(int answerMs = kDefaultAnswerMs, int retryMs = kDefaultRetryMs);
    ~TDesktopStore();
    TDesktopStore(const TDesktopStore&) = delete;
    TDesktopStore& operator=(const TDesktopStore&) = delete;

    // Delivers the store's notifications and connects when not connected. False
    // when the store cannot be reached now (Trouble() and Problem() say why).
    // A store that went away since the last call is let go first; one that
    // failed a moment ago is not asked again before its retry time.
    bool Reach();
    bool Connected() const;
    TStoreTrouble Trouble() const;
    const QString& Problem() const;

    // Every calendar or task list the store knows (no call to the store).
    std::vector<TDesktopSourceInfo> Sources(TDesktopKind kind);
    // The source's revision as last announced (no call to the store); nullopt
    // until the source is open.
    std::optional<QByteArray> Revision(const QString& uid);
    // Opens the source if needed and reads all its items, the user's answers to
    // invitations for the addresses in `user`; the tasks' origin names `uid`.
    // nullopt on trouble (Problem() says what).
    std::optional<TDesktopRead> Read(TDesktopKind kind, const QString& uid,
                                     const TUserAddresses& user = {});
    // Moves the recurring task `taskUid` to its next occurrence in the store, if
    // it still reads as `version`.
    TDesktopTaskMove MoveTask(const QString& sourceUid, const QByteArray& taskUid,
                              const QByteArray& version);

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl;
};

} // namespace rp::mailstore
