// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/DurableWrite.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rp {

namespace {

constexpr int kNameAttempts = 100;
constexpr int kSuffixLength = 6;
// Far longer than any save takes, so a temporary this old belongs to no save in flight.
constexpr int kStaleTemporarySecs = 600;
constexpr int kMaxUnreadableCopies = 100;
constexpr qint64 kCopyChunk = 1 << 16;

QString RandomTemporaryName(const QString& path) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString suffix;
    for (int i = 0; i < kSuffixLength; ++i)
        suffix += QLatin1Char(kAlphabet[QRandomGenerator::global()->bounded(62)]);
    return path + u'.' + suffix + QStringLiteral(".tmp");
}

TWriteResult Failure(TWriteStep step, int error, const QString& path) {
    return {step, error,
            QStringLiteral("Cannot write \"%1\": %2")
                .arg(path, QString::fromLocal8Bit(std::strerror(error)))};
}

// Every byte, going on after short writes and signals; 0 or the errno.
int WriteAll(int fd, const QByteArray& bytes) {
    const char* next = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        if (written == 0)
            return EIO;
        next += written;
        left -= written;
    }
    return 0;
}

// The file's own mode whatever the umask, its bytes, on disk; 0 or the errno.
int FillAndClose(int fd, const QByteArray& bytes, mode_t mode) {
    int error = ::fchmod(fd, mode) == 0 ? WriteAll(fd, bytes) : errno;
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    // A full disk may only show when the last blocks are written out at close.
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

// Flushes the folder's entries, so the rename into it survives a power cut. A
// folder that cannot be opened for this still holds the new file.
void SyncFolder(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

struct TTemporary {
    int fd = -1;
    int error = 0;
    QByteArray name;
};

// A name nobody holds: O_EXCL refuses an existing file and O_NOFOLLOW a link
// planted there, so the bytes never land anywhere else.
TTemporary CreateTemporary(const std::function<QString()>& nextName, mode_t mode) {
    TTemporary temporary;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        temporary.name = QFile::encodeName(nextName());
        temporary.fd = ::open(temporary.name.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        temporary.error = temporary.fd < 0 ? errno : 0;
        if (temporary.error != EEXIST)
            break;
    }
    return temporary;
}

TWriteResult Replace(const QString& path, const QByteArray& bytes, mode_t mode,
                     const std::function<QString()>& nextName) {
    const TTemporary temporary = CreateTemporary(nextName, mode);
    if (temporary.fd < 0)
        return Failure(TWriteStep::CreateTemporary, temporary.error, path);
    TWriteStep step = TWriteStep::Write;
    int error = FillAndClose(temporary.fd, bytes, mode);
    if (error == 0 &&
        ::rename(temporary.name.constData(), QFile::encodeName(path).constData()) != 0) {
        step = TWriteStep::Rename;
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.name.constData());
        return Failure(step, error, path);
    }
    SyncFolder(QFileInfo(path).absolutePath());
    return {};
}

QByteArray FileDigest(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result();
}

// Copies into a name nobody holds (O_EXCL), so no earlier copy is ever replaced;
// a copy that fails half-way is removed.
bool CopyInto(const QString& source, const QString& target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray name = QFile::encodeName(target);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd < 0)
        return false;
    int error = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 ? 0 : errno;
    while (error == 0 && !in.atEnd()) {
        const QByteArray chunk = in.read(kCopyChunk);
        error = in.error() != QFileDevice::NoError ? EIO : WriteAll(fd, chunk);
    }
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        ::unlink(name.constData());
        return false;
    }
    SyncFolder(QFileInfo(target).absolutePath());
    return true;
}

} // namespace

QString KeepUnreadableCopy(const QString& path) {
    const QByteArray digest = FileDigest(path);
    if (digest.isEmpty())
        return {};
    for (int n = 0; n < kMaxUnreadableCopies; ++n) {
        const QString candidate =
            path + QStringLiteral(".unreadable") + (n ? u'.' + QString::number(n) : QString());
        const QFileInfo held(candidate);
        if (held.isSymLink())
            continue; // not ours: a copy must not land where a link points
        if (held.exists()) {
            if (FileDigest(candidate) == digest)
                return candidate;
            continue;
        }
        return CopyInto(path, candidate) ? candidate : QString();
    }
    return {};
}

bool IsTemporaryOf(const QString& path, const QString& fileName) {
    const QRegularExpression temporary(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(QFileInfo(path).fileName()) +
        QStringLiteral("\\.[A-Za-z0-9]{%1}\\.tmp").arg(kSuffixLength)));
    return temporary.match(fileName).hasMatch();
}

void RemoveStaleTemporaries(const QString& path) {
    const QFileInfo target(path);
    const QDateTime stale = QDateTime::currentDateTimeUtc().addSecs(-kStaleTemporarySecs);
    const QFileInfoList entries =
        target.absoluteDir().entryInfoList({target.fileName() + QStringLiteral(".*.tmp")},
                                           QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& entry : entries)
        if (IsTemporaryOf(path, entry.fileName()) && entry.lastModified().toUTC() < stale)
            QFile::remove(entry.absoluteFilePath());
}

TWriteResult WriteFileDurably(const QString& path, const QByteArray& bytes, mode_t mode) {
    return Replace(path, bytes, mode, [&path] { return RandomTemporaryName(path); });
}

TWriteResult WriteFileDurably(const QString& path, const QByteArray& bytes, mode_t mode,
                              const std::function<QString()>& nextName) {
    return Replace(path, bytes, mode, nextName);
}

} // namespace rp
