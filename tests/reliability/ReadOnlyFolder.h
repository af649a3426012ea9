// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A folder where nothing can be created, renamed or removed while a ReadOnlyFolder
// lives. Mode 0500 stops a user; root ignores modes, so for root the folder is
// also made immutable where the file system allows. Blocks() tells whether it took.

#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace rp::test {

class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& folder) : folder(folder) {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        if (::geteuid() == 0)
            SetImmutable(true);
    }
    ~ReadOnlyFolder() {
        if (immutable)
            SetImmutable(false);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    bool Blocks() const {
        const QByteArray probe = QFile::encodeName(folder + QStringLiteral("/probe"));
        const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            return true;
        ::close(fd);
        ::unlink(probe.constData());
        return false;
    }

private:
    void SetImmutable(bool on) {
        const int fd =
            ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return;
        int flags = 0;
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
            immutable = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0 && on;
        }
        ::close(fd);
    }

    QString folder;
    bool immutable = false;
};

} // namespace rp::test
