// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/InstanceLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace rp {

namespace {

// O_CLOEXEC: a child (sendmail, a password command) must not inherit the lock and
// keep the folder locked after the program has ended. O_NOFOLLOW: a planted link
// must not make us create or truncate a file elsewhere.
constexpr int kOpenFlags = O_CLOEXEC | O_NOFOLLOW;

bool WriteText(int fd, const QByteArray& text) {
    return ::ftruncate(fd, 0) == 0 && ::pwrite(fd, text.constData(), text.size(), 0) == text.size();
}

} // namespace

TInstanceLock::TInstanceLock(const QString& folder)
    : folder(QDir(folder).absolutePath()),
      path(QDir(folder).absoluteFilePath(QLatin1String(InstanceLockFileName))) {
    const int opened = OpenLockFile();
    if (opened >= 0)
        Claim(opened);
}

TInstanceLock::~TInstanceLock() {
    // The file stays: removing it would let a copy that has just opened the old
    // file and a copy that creates a new one both believe they hold the lock.
    if (fd >= 0)
        ::close(fd);
}

int TInstanceLock::OpenLockFile() {
    const QByteArray name = QFile::encodeName(path);
    int opened = ::open(name.constData(), O_RDWR | O_CREAT | kOpenFlags, S_IRUSR | S_IWUSR);
    // A folder we may not write in can still hold a lock file from an earlier start.
    if (opened < 0 && (errno == EACCES || errno == EROFS))
        opened = ::open(name.constData(), O_RDONLY | kOpenFlags);
    if (opened < 0)
        problem = QStringLiteral("Cannot open %1: %2")
                      .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return opened;
}

void TInstanceLock::Claim(int opened) {
    if (::flock(opened, LOCK_EX | LOCK_NB) == 0) {
        fd = opened;
        state = TState::Held;
        NoteHolder();
        return;
    }
    const int error = errno;
    ::close(opened);
    if (error == EWOULDBLOCK) {
        state = TState::HeldElsewhere;
        return;
    }
    problem = QStringLiteral("Cannot lock %1: %2")
                  .arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

// The holder's process id, for a user who wonders which process it is.
void TInstanceLock::NoteHolder() {
    WriteText(fd, QByteArray::number(::getpid()) + '\n');
}

qint64 TInstanceLock::HolderPid() const {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readLine(32).trimmed().toLongLong();
}

QString ShowSocketPath(const QString& folder) {
    const QDir dir(folder);
    const QString beside = dir.absoluteFilePath(QLatin1String(ShowSocketFileName));
    // Room for the terminating zero, and for the temporary name the socket is
    // first made under before it gets its user-only permissions.
    constexpr qsizetype kRoom = sizeof(sockaddr_un::sun_path) - 24;
    if (QFile::encodeName(beside).size() <= kRoom)
        return beside;
    const QByteArray digest =
        QCryptographicHash::hash(QFile::encodeName(dir.absolutePath()), QCryptographicHash::Sha256)
            .toHex()
            .left(24);
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/ringpost-%1.socket").arg(QLatin1String(digest));
}

QString AlreadyRunningText(const QString& folder) {
    return QStringLiteral("Ringpost is already running in %1.")
        .arg(QDir::toNativeSeparators(folder));
}

} // namespace rp
