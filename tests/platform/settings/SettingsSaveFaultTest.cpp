// SPDX-License-Identifier: GPL-3.0-or-later
// A settings save that fails because the disk is full or the folder is blocked:
// the error names the file, the old settings stay whole, no temporary is left, and
// the next save after the fault has gone succeeds.

#include "platform/settings/RegistryFile.h"
#include "tests/reliability/FileSizeLimit.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>

namespace rp::test {
namespace {

const QString kKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Amberfold\\Ringpost");

class SettingsSaveFaults : public ::testing::Test {
protected:
    void SetUp() override {
        Save(QStringLiteral("5551234567"));
        before = Content();
    }

    void Save(const QString& pin) {
        TRegistryFile registry(path);
        registry.Reload();
        registry.OpenKey(kKey);
        registry.WriteString(QStringLiteral("Pin"), pin);
        registry.Flush();
    }
    QString SaveError(const QString& pin) {
        try {
            Save(pin);
        } catch (const ERegistryError& error) {
            return error.Message();
        }
        return QStringLiteral("(saved)");
    }
    QByteArray Content() const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QString StoredPin() const {
        TRegistryFile registry(path);
        EXPECT_TRUE(registry.Reload());
        registry.OpenKey(kKey);
        return registry.ReadString(QStringLiteral("Pin"));
    }
    QStringList FolderEntries() const {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("Ringpost.reg"));
    QByteArray before;
    const QString longPin = QString(4000, QLatin1Char('7'));
};

TEST_F(SettingsSaveFaults, FullDiskKeepsTheOldFileAndTheNextSaveSucceeds) {
    {
        const FileSizeLimit full(before.size());
        EXPECT_EQ(SaveError(longPin), QStringLiteral("Unable to save the settings to %1: %2")
                                          .arg(path, QString::fromLocal8Bit(strerror(EFBIG))));
    }
    EXPECT_EQ(Content(), before);
    EXPECT_EQ(FolderEntries(), QStringList{QStringLiteral("Ringpost.reg")});
    EXPECT_EQ(SaveError(longPin), QStringLiteral("(saved)"));
    EXPECT_EQ(StoredPin(), longPin);
}

TEST_F(SettingsSaveFaults, FolderThatBecameAFileFailsWithoutHarm) {
    const QString blocked = dir.filePath(QStringLiteral("Amberfold"));
    QFile file(blocked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    TRegistryFile registry(blocked + QStringLiteral("/Ringpost.reg"));
    EXPECT_TRUE(registry.Reload()); // nothing there reads as an empty registry
    registry.OpenKey(kKey);
    registry.WriteString(QStringLiteral("Pin"), longPin);
    EXPECT_THROW(registry.Flush(), ERegistryError);
    EXPECT_TRUE(QFileInfo(blocked).isFile());
}

// A save killed before its rename leaves its temporary file; later saves clear
// those away once no save can still be writing them, and touch nothing else.
TEST_F(SettingsSaveFaults, TemporariesLeftByAKilledSaveAreRemovedLater) {
    const auto place = [this](const QString& name, int ageSecs) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("Pin=\"5551234567\"");
        file.flush(); // so closing writes nothing more
        file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSecs),
                         QFileDevice::FileModificationTime);
    };
    place(QStringLiteral("Ringpost.reg.Ab12Cd.tmp"), 3600);
    place(QStringLiteral("Ringpost.reg.Xy34Zw.tmp"), 0);    // a save in flight
    place(QStringLiteral("Ringpost.reg.unreadable"), 3600); // kept aside for the user
    place(QStringLiteral("Ringpost.reg.bak"), 3600);
    place(QStringLiteral("Ringpost.reg.backup"), 3600); // the user's own copy
    Save(QStringLiteral("5550000000"));
    QStringList left = FolderEntries();
    left.sort();
    EXPECT_EQ(left, QStringList({"Ringpost.reg", "Ringpost.reg.Xy34Zw.tmp", "Ringpost.reg.backup",
                                 "Ringpost.reg.bak", "Ringpost.reg.unreadable"}));
}

} // namespace
} // namespace rp::test
