// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/mailstore/MailStoreFiles.h"

#include "engine/DurableWrite.h"
#include "engine/OutlookModel.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcMailStore, "ringpost.mailstore")

namespace rp::mailstore {

using outlook::EAutomationError;

QString SystemErrorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

TFileStamp StampOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return {true, static_cast<int64_t>(info.st_size),
            static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
            static_cast<uint64_t>(info.st_ino)};
}

QByteArray ReadWholeFile(const QString& path, const QString& what) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EAutomationError(
            QStringLiteral("Cannot read the %1 \"%2\": %3").arg(what, path, file.errorString()));
    return file.readAll();
}

namespace {

unsigned ModeToKeep(const QString& path, unsigned fallback) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) == 0)
        return info.st_mode & 07777;
    return fallback;
}

} // namespace

void ReplaceFileAtomically(const QString& path, const QByteArray& data, unsigned newMode,
                           bool forceMode) {
    const QFileInfo target(path);
    const QByteArray finalName = QFile::encodeName(target.absoluteFilePath());
    const QByteArray tempName =
        QFile::encodeName(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                          QStringLiteral(".%1.tmp").arg(::getpid()));
    const unsigned mode = forceMode ? newMode : ModeToKeep(path, newMode);
    const int fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    bool ok = fd >= 0 && ::fchmod(fd, mode) == 0 && WriteAll(fd, data) && ::fsync(fd) == 0;
    const int error = errno;
    if (fd >= 0)
        ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(tempName.constData(), finalName.constData()) == 0)
        return;
    const int renameError = ok ? errno : error;
    ::unlink(tempName.constData());
    throw EAutomationError(QStringLiteral("Cannot write \"%1\": %2")
                               .arg(target.absoluteFilePath(), SystemErrorText(renameError)));
}

} // namespace rp::mailstore
