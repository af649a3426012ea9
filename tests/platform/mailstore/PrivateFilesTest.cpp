// SPDX-License-Identifier: GPL-3.0-or-later
// Every file that holds the user's data is readable by the user alone, even
// under a umask that would let everyone read it, and also when an older copy of
// the file was left readable by others.

#include "platform/desktop/InstanceLock.h"
#include "platform/mailstore/MailStoreProfile.h"
#include "platform/settings/RegistryFile.h"
#include "tests/platform/StoreEngine.h"
#include "tests/support/ScopedUmask.h"

#include <QDirIterator>
#include <sys/stat.h>

namespace rp::test {
namespace {

unsigned ModeOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 07777; // missing: fails every comparison below
    return info.st_mode & 0777;
}

TEST(PrivateFilesTest, EverythingTheProgramWritesIsTheUsersAlone) {
    const TScopedUmask permissive(0);
    TStoreEngine e;
    e.host.UpdateSettings([](SettingsRecord& s) { s.TaskNotify = true; });
    TStoreEngine::Write(
        e.StorePath(QStringLiteral("calendar.ics")),
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\nBEGIN:VEVENT\r\nUID:a\r\n"
        "DTSTAMP:20240101T000000Z\r\nDTSTART:20240304T121000Z\r\nSUMMARY:Budget\r\nEND:VEVENT\r\n"
        "BEGIN:VTODO\r\nUID:t\r\nDTSTAMP:20240101T000000Z\r\nDUE:20240305T100000Z\r\n"
        "SUMMARY:Report\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
    TStoreEngine::Write(e.StorePath(QStringLiteral("tasks.ics")),
                        TStoreEngine::Read(e.StorePath(QStringLiteral("calendar.ics"))));
    // Left by an older version, readable by everyone.
    TStoreEngine::Write(e.Path(QStringLiteral("Test-Note.NST")), "old key\r\n");
    ::chmod(QFile::encodeName(e.Path(QStringLiteral("Test-Note.NST"))).constData(), 0666);
    const TInstanceLock lock(e.dir.path());

    ASSERT_TRUE(e.RunWaits(3));
    e.Destroy();

    QStringList files = {"TASK.CLD",      "NOTIFY.CLD",    "EMAIL.CLD",    "DEBUG.LOG",
                         "Ringpost.lock", "Test-Note.NST", "Test-Task.NST"};
    for (QString& name : files)
        name = e.Path(name);
    QDirIterator outbox(e.StorePath(QStringLiteral("Outbox/new")), QDir::Files);
    ASSERT_TRUE(outbox.hasNext()) << "the reminder was not sent";
    while (outbox.hasNext())
        files << outbox.next();

    mailstore::TMailStoreProfile profile;
    profile.send.password = QStringLiteral("secret");
    mailstore::SaveProfile(profile, e.ProfilePath());
    files << e.ProfilePath();
    TRegistryFile settings(e.Path(QStringLiteral("Ringpost.reg")));
    settings.OpenKey(QStringLiteral("Software\\Amberfold\\Ringpost"));
    settings.WriteString(QStringLiteral("Pin"), QStringLiteral("5551234567"));
    settings.Flush();
    files << settings.Path();

    for (const QString& file : files)
        EXPECT_EQ(ModeOf(file), 0600u) << file.toStdString();
}

} // namespace
} // namespace rp::test
