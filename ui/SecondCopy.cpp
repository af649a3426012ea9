// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SecondCopy.h"

#include "ui/MessageBoxes.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace rp {

namespace {

const QByteArray kShowRequest = QByteArrayLiteral("show\n");
const QByteArray kShownAnswer = QByteArrayLiteral("shown\n");
constexpr qint64 kLongestLine = 64;
// A connection that says nothing is dropped, so it cannot hold a socket forever.
constexpr int kSilentClientMs = 5000;
constexpr qint64 kRetryMs = 100;

// The socket is the user's alone already; the peer's user id makes sure of it
// even where the folder's permissions are looser than they should be.
bool FromThisUser(const QLocalSocket& socket) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return false;
    return peer.uid == ::getuid();
}

bool ReadAnswer(QLocalSocket& socket, const QDeadlineTimer& deadline) {
    while (!socket.canReadLine() && socket.bytesAvailable() < kLongestLine) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    return socket.readLine(kLongestLine) == kShownAnswer;
}

// The running copy opens its socket a moment after it took the lock, so a start
// right behind it (a double click) keeps trying for a while.
bool Connect(QLocalSocket& socket, const QString& socketPath, const QDeadlineTimer& deadline) {
    for (;;) {
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(int(deadline.remainingTime())))
            return true;
        if (deadline.remainingTime() < kRetryMs)
            return false;
        QThread::msleep(kRetryMs);
    }
}

} // namespace

TStartDecision DecideStart(const TInstanceLock& lock, IMessageBoxes& boxes,
                           const TAskRunningCopy& askRunningCopy) {
    switch (lock.State()) {
    case TInstanceLock::TState::Held:
        return TStartDecision::Start;
    case TInstanceLock::TState::Unavailable:
        std::fprintf(stderr, "ringpost: %s; a second copy in this folder would not be noticed.\n",
                     qPrintable(lock.Problem()));
        return TStartDecision::Start;
    case TInstanceLock::TState::HeldElsewhere:
        break;
    }
    if (askRunningCopy && askRunningCopy())
        return TStartDecision::BroughtForward;
    // An older copy, or one that is stuck: the user still learns why nothing starts.
    const QString text = AlreadyRunningText(lock.Folder());
    std::fprintf(stderr, "ringpost: %s\n", qPrintable(text));
    boxes.Information(text);
    return TStartDecision::Refused;
}

bool AskToShow(const QString& socketPath, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    if (!Connect(socket, socketPath, deadline))
        return false;
    socket.write(kShowRequest);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return false;
    return ReadAnswer(socket, deadline);
}

TShowRequestServer::TShowRequestServer(const QString& socketPath,
                                       std::function<void()> bringForward, QObject* parent)
    : QObject(parent), server(new QLocalServer(this)), bringForward(std::move(bringForward)),
      path(socketPath) {
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // Whoever left this file is gone: the folder's lock is ours.
    QLocalServer::removeServer(path);
    if (!server->listen(path)) {
        problem = QStringLiteral("Cannot listen on %1: %2").arg(path, server->errorString());
        return;
    }
    connect(server, &QLocalServer::newConnection, this, &TShowRequestServer::Accept);
}

TShowRequestServer::~TShowRequestServer() {
    // Closing removes the socket file, so the next start finds none.
    server->close();
}

bool TShowRequestServer::Listening() const {
    return server->isListening();
}

void TShowRequestServer::Accept() {
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!FromThisUser(*socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Answer(socket); });
        QTimer::singleShot(kSilentClientMs, socket, [socket] { socket->abort(); });
        if (socket->bytesAvailable() > 0)
            Answer(socket);
    }
}

void TShowRequestServer::Answer(QLocalSocket* socket) {
    if (!socket->canReadLine() && socket->bytesAvailable() < kLongestLine)
        return;
    const QByteArray request = socket->readLine(kLongestLine);
    const bool show = request == kShowRequest;
    if (show)
        socket->write(kShownAnswer);
    socket->disconnectFromServer();
    if (show && bringForward)
        bringForward();
}

} // namespace rp
