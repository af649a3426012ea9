// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/common/Files.h"

#include "engine/DurableWrite.h"
#include "engine/OutlookModel.h"

#include <QDir>
#include <QFileInfo>
#include <cstring>
#include <sys/stat.h>

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
    const QString target = QFileInfo(path).absoluteFilePath();
    const unsigned mode = forceMode ? newMode : ModeToKeep(path, newMode);
    const TWriteResult result = WriteFileDurably(target, data, mode);
    if (!result.Ok())
        throw EAutomationError(result.text);
}

void EnsureFolder(const QString& path) {
    if (!QDir().mkpath(path))
        throw EAutomationError(QStringLiteral("Cannot create the folder \"%1\".").arg(path));
}

void EnsureMaildir(const QString& path) {
    for (const char* sub : {"cur", "new", "tmp"})
        EnsureFolder(path + QLatin1Char('/') + QLatin1String(sub));
}

} // namespace rp::mailstore
