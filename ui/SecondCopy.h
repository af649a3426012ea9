// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the program does when another copy already runs in its data folder: it
// asks that copy to bring its window forward, and only when that copy does not
// answer does it say that Ringpost is already running there.

#include "platform/desktop/InstanceLock.h"

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;
class QLocalSocket;

namespace rp {

class IMessageBoxes;

enum class TStartDecision {
    Start,          // this copy runs the engine
    BroughtForward, // the running copy showed its window; this one ends quietly
    Refused,        // the running copy did not answer; the user was told why
};

// Asks the copy that holds the folder to show its window; true once it said so.
using TAskRunningCopy = std::function<bool()>;

// A second copy in the same folder asks the first to come forward and must not
// start. A folder that cannot be locked at all is reported on standard error
// and the program starts unguarded: refusing would leave the user with no
// Ringpost at all.
TStartDecision DecideStart(const TInstanceLock& lock, IMessageBoxes& boxes,
                           const TAskRunningCopy& askRunningCopy);

inline constexpr int ShowRequestTimeoutMs = 3000;

// The second start's side: true when the copy listening at `socketPath`
// answered that it has shown its window.
bool AskToShow(const QString& socketPath, int timeoutMs = ShowRequestTimeoutMs);

// The running copy's side: listens beside the lock file for as long as it lives
// and runs `bringForward` for each request. Only the holder of the folder's lock
// may create it, which is what makes a socket file found there stale.
class TShowRequestServer : public QObject {
    Q_OBJECT
public:
    TShowRequestServer(const QString& socketPath, std::function<void()> bringForward,
                       QObject* parent = nullptr);
    ~TShowRequestServer() override;

    bool Listening() const;
    // Why it does not listen; empty when it does.
    QString Problem() const { return problem; }

private:
    void Accept();
    void Answer(QLocalSocket* socket);

    QLocalServer* server = nullptr;
    std::function<void()> bringForward;
    QString path;
    QString problem;
};

} // namespace rp
