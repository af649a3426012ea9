// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/settings/RegistryFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace rp;

namespace {

const QString kKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Amberfold\\Ringpost");

class RegistryFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("Amberfold/Ringpost.reg"));

    void WriteRaw(const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QByteArray ReadRaw(const QString& name) const {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // A registry file reloaded from disk with our key open.
    std::unique_ptr<TRegistryFile> Reopened(bool* clean = nullptr) {
        auto registry = std::make_unique<TRegistryFile>(path);
        const bool ok = registry->Reload();
        if (clean)
            *clean = ok;
        registry->OpenKey(kKey);
        return registry;
    }
};

TEST_F(RegistryFileTest, EveryTypeSurvivesASaveAndLoad) {
    TRegistryFile registry(path);
    registry.OpenKey(kKey);
    const QString tricky = QStringLiteral("say \"hi\" C:\\dir\\ — Zoë 日本 ✓");
    QByteArray longBinary;
    for (int i = 0; i < 100; ++i)
        longBinary.append(char(i * 7));
    registry.WriteBool(QStringLiteral("Flag"), true);
    registry.WriteInteger(QStringLiteral("Negative"), -300);
    registry.WriteTime(QStringLiteral("Time"), 0.291666666666666685);
    registry.WriteBinary(QStringLiteral("Long"), longBinary);
    registry.WriteBinary(QStringLiteral("Empty"), QByteArray());
    registry.WriteString(QStringLiteral("Tricky"), tricky);
    registry.WriteString(QStringLiteral("Lines"), QStringLiteral("one\r\ntwo"));
    registry.WriteString(QStringLiteral("Blank"), QString());
    registry.Flush();

    bool clean = false;
    auto loaded = Reopened(&clean);
    EXPECT_TRUE(clean);
    EXPECT_TRUE(loaded->ReadBool(QStringLiteral("Flag")));
    EXPECT_EQ(loaded->ReadInteger(QStringLiteral("Negative")), -300);
    EXPECT_EQ(loaded->ReadTime(QStringLiteral("Time")), 0.291666666666666685);
    EXPECT_EQ(loaded->ReadBinary(QStringLiteral("Long")), longBinary);
    EXPECT_EQ(loaded->ReadBinary(QStringLiteral("Empty")), QByteArray());
    EXPECT_EQ(loaded->ReadString(QStringLiteral("Tricky")), tricky);
    EXPECT_EQ(loaded->ReadString(QStringLiteral("Lines")), QStringLiteral("one\r\ntwo"));
    EXPECT_EQ(loaded->ValueType(QStringLiteral("Blank")), TRegistryType::String);
    EXPECT_EQ(loaded->ValueType(QStringLiteral("Flag")), TRegistryType::DWord);
    EXPECT_EQ(loaded->ValueType(QStringLiteral("flag")), TRegistryType::DWord); // names ignore case
}

TEST_F(RegistryFileTest, WritesTheRegistryEditorsExportFormat) {
    TRegistryFile registry(path);
    registry.OpenKey(kKey);
    registry.WriteInteger(QStringLiteral("Count"), 10);
    registry.WriteTime(QStringLiteral("Seven"), 7.0);
    registry.WriteString(QStringLiteral("Quoted"), QStringLiteral("a\"b\\c"));
    registry.Flush();
    EXPECT_EQ(ReadRaw(path), QByteArray("Windows Registry Editor Version 5.00\n"
                                        "\n"
                                        "[HKEY_CURRENT_USER\\Software\\Amberfold\\Ringpost]\n"
                                        "\"Count\"=dword:0000000a\n"
                                        "\"Seven\"=hex:00,00,00,00,00,00,1c,40\n"
                                        "\"Quoted\"=\"a\\\"b\\\\c\"\n"));
}

TEST_F(RegistryFileTest, ReadsAHandWrittenExportWithItsQuirks) {
    // CR LF ends, a BOM, upper-case hex, a wrapped hex line, a comment and an
    // expandable string as the registry editor writes it (UTF-16LE with a NUL).
    WriteRaw("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
             "; exported by hand\r\n"
             "[HKEY_CURRENT_USER\\Software\\Amberfold\\Ringpost]\r\n"
             "\"Count\"=dword:0000FFFF\r\n"
             "\"Wrapped\"=hex:01,02,\\\r\n  03,04\r\n"
             "\"Path\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00\r\n"
             "\"Ends\"=\"C:\\\\dir\\\\\"\r\n"
             "@=\"default\"\r\n");
    bool clean = false;
    auto registry = Reopened(&clean);
    EXPECT_TRUE(clean);
    EXPECT_EQ(registry->ReadInteger(QStringLiteral("Count")), 0xFFFF);
    EXPECT_EQ(registry->ReadBinary(QStringLiteral("Wrapped")), QByteArray("\x01\x02\x03\x04"));
    EXPECT_EQ(registry->ValueType(QStringLiteral("Path")), TRegistryType::ExpandString);
    EXPECT_EQ(registry->ReadString(QStringLiteral("Path")), QStringLiteral("%HOME%"));
    EXPECT_EQ(registry->ReadString(QStringLiteral("Ends")), QStringLiteral("C:\\dir\\"));
}

TEST_F(RegistryFileTest, ReadsTheRegistryEditorsUtf16Export) {
    const QString text = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n[%1]\r\n"
                                        "\"Pin\"=\"5551234\"\r\n")
                             .arg(kKey);
    QByteArray bytes("\xFF\xFE");
    for (QChar c : text)
        bytes.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    WriteRaw(bytes);
    bool clean = false;
    auto registry = Reopened(&clean);
    EXPECT_TRUE(clean);
    EXPECT_EQ(registry->ReadString(QStringLiteral("Pin")), QStringLiteral("5551234"));
}

TEST_F(RegistryFileTest, BadCharactersAreReplacedAndTheRestOfTheFileIsKept) {
    // Half a surrogate pair in a UTF-16 export, and a byte that is not UTF-8.
    QString text = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n[%1]\r\n"
                                  "\"Pin\"=\"555X\"\r\n\"Count\"=dword:00000003\r\n")
                       .arg(kKey);
    text.replace(u'X', QChar(0xD800));
    QByteArray utf16("\xFF\xFE");
    for (QChar c : text)
        utf16.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    const QByteArray utf8 = "Windows Registry Editor Version 5.00\n\n[" + kKey.toUtf8() +
                            "]\n\"Pin\"=\"555\xFF\"\n\"Count\"=dword:00000003\n";
    for (const QByteArray& bytes : {utf16, utf8}) {
        WriteRaw(bytes);
        bool clean = true;
        auto registry = Reopened(&clean);
        EXPECT_FALSE(clean);
        EXPECT_EQ(ReadRaw(path + QStringLiteral(".unreadable")), bytes);
        const QString pin = registry->ReadString(QStringLiteral("Pin"));
        EXPECT_EQ(pin, QStringLiteral("555\uFFFD"));
        EXPECT_EQ(registry->ReadInteger(QStringLiteral("Count")), 3);

        registry->WriteInteger(QStringLiteral("Count"), 4);
        registry->Flush(); // what was read is what comes back
        auto saved = Reopened(&clean);
        EXPECT_TRUE(clean);
        EXPECT_EQ(saved->ReadString(QStringLiteral("Pin")), pin);
        EXPECT_EQ(saved->ReadInteger(QStringLiteral("Count")), 4);
        QFile::remove(path + QStringLiteral(".unreadable"));
    }
}

TEST_F(RegistryFileTest, AStringWithHalfASurrogatePairSurvivesASave) {
    const QString lone = QStringLiteral("a") + QChar(0xDC00) + QStringLiteral("b");
    TRegistryFile registry(path);
    registry.OpenKey(kKey);
    registry.WriteString(QStringLiteral("Lone"), lone);
    registry.Flush();
    EXPECT_EQ(Reopened()->ReadString(QStringLiteral("Lone")), lone);
}

TEST_F(RegistryFileTest, ReadsOfTheWrongTypeFail) {
    TRegistryFile registry(path);
    registry.OpenKey(kKey);
    registry.WriteInteger(QStringLiteral("Number"), 1);
    registry.WriteString(QStringLiteral("Text"), QStringLiteral("1"));
    registry.WriteBinary(QStringLiteral("Short"), QByteArray(4, '\0'));
    EXPECT_THROW(registry.ReadString(QStringLiteral("Number")), ERegistryError);
    EXPECT_THROW(registry.ReadInteger(QStringLiteral("Text")), ERegistryError);
    EXPECT_THROW(registry.ReadBool(QStringLiteral("Text")), ERegistryError);
    EXPECT_THROW(registry.ReadTime(QStringLiteral("Short")), ERegistryError);
    EXPECT_THROW(registry.ReadBinary(QStringLiteral("Number")), ERegistryError);
    EXPECT_THROW(registry.ReadInteger(QStringLiteral("Missing")), ERegistryError);
    EXPECT_EQ(registry.ReadString(QStringLiteral("Missing")), QString());
    EXPECT_EQ(registry.ValueType(QStringLiteral("Missing")), TRegistryType::None);
}

TEST_F(RegistryFileTest, OtherKeysAndValuesAreKeptAsTheyWere) {
    const QByteArray others = "[HKEY_CURRENT_USER\\Software\\Other]\n"
                              "\"List\"=hex(7):41,00,00,00,42,00,00,00,00,00\n"
                              "\"Odd\"=hex(b):01,00,00,00,00,00,00,00\n"
                              "; a note\n"
                              "\n";
    WriteRaw("Windows Registry Editor Version 5.00\n\n" + others +
             "[HKEY_CURRENT_USER\\Software\\Amberfold\\Ringpost]\n"
             "\"Unknown\"=dword:DEADBEEF\n"
             "\"Pin\"=\"old\"\n");
    auto registry = Reopened();
    registry->WriteString(QStringLiteral("Pin"), QStringLiteral("new"));
    registry->WriteInteger(QStringLiteral("Added"), 2);
    registry->Flush();

    const QByteArray saved = ReadRaw(path);
    EXPECT_TRUE(saved.contains(others)) << saved.constData();
    EXPECT_TRUE(
        saved.contains("\"Unknown\"=dword:DEADBEEF\n\"Pin\"=\"new\"\n\"Added\"=dword:00000002"))
        << saved.constData();
    EXPECT_EQ(Reopened()->ReadString(QStringLiteral("Pin")), QStringLiteral("new"));
}

TEST_F(RegistryFileTest, AnUnparsableFileIsKeptAsideAndReportedOnce) {
    const QByteArray garbage = "this is not a registry file\n\"Pin\"=\"5551234\"\n";
    WriteRaw(garbage);
    TRegistryFile registry(path);
    EXPECT_FALSE(registry.Reload());
    const QString notice = registry.TakeNotice();
    EXPECT_TRUE(notice.contains(path + QStringLiteral(".unreadable"))) << notice.toStdString();
    EXPECT_EQ(ReadRaw(path + QStringLiteral(".unreadable")), garbage);
    EXPECT_TRUE(registry.TakeNotice().isEmpty());

    EXPECT_FALSE(registry.Reload()); // the same file again: no second notice, no second copy
    EXPECT_TRUE(registry.TakeNotice().isEmpty());
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".unreadable.1")));

    registry.OpenKey(kKey);
    registry.WriteInteger(QStringLiteral("Count"), 1);
    registry.Flush();
    EXPECT_TRUE(TRegistryFile(path).Reload());
    EXPECT_EQ(ReadRaw(path + QStringLiteral(".unreadable")), garbage);
}

TEST_F(RegistryFileTest, AFileWithSomeBadLinesKeepsItsGoodValues) {
    WriteRaw("Windows Registry Editor Version 5.00\n\n"
             "[HKEY_CURRENT_USER\\Software\\Amberfold\\Ringpost]\n"
             "\"Good\"=dword:00000007\n"
             "\"BadHex\"=hex:zz,01\n"
             "\"BadDword\"=dword:0000000g\n"
             "\"Unterminated\"=\"abc\n"
             "stray text\n");
    bool clean = true;
    auto registry = Reopened(&clean);
    EXPECT_FALSE(clean);
    EXPECT_FALSE(registry->TakeNotice().isEmpty());
    EXPECT_EQ(registry->ReadInteger(QStringLiteral("Good")), 7);
    EXPECT_EQ(registry->ValueType(QStringLiteral("BadHex")), TRegistryType::None);
    EXPECT_TRUE(QFile::exists(path + QStringLiteral(".unreadable")));
}

TEST_F(RegistryFileTest, HostileFilesNeitherCrashNorHang) {
    const QByteArray header = "Windows Registry Editor Version 5.00\n\n[K]\n";
    const QByteArray cases[] = {
        header + "\"Huge\"=hex:" + QByteArray(4 << 20, '0') + "\n",
        header + "\"Wrap\"=hex:00,\\\n" + QByteArray("  00,\\\n").repeated(200000),
        header + "\"Name\"=hex(ffffffffff):00\n",
        header + "\"Quote\"=\"" + QByteArray(2 << 20, '\\') + "\n",
        QByteArray("\xFF\xFF\xFF\x00 invalid UTF-8", 18),
        QByteArray(17 << 20, 'x'), // too big to read at all
    };
    for (const QByteArray& bytes : cases) {
        WriteRaw(bytes);
        TRegistryFile registry(path);
        registry.Reload();
        registry.OpenKey(QStringLiteral("K"));
        EXPECT_EQ(registry.ValueType(QStringLiteral("Name")), TRegistryType::None);
    }
}

TEST_F(RegistryFileTest, SavesPrivatelyAndLeavesNoTemporaryFiles) {
    TRegistryFile registry(path);
    registry.OpenKey(kKey);
    registry.WriteString(QStringLiteral("Pin"), QStringLiteral("5551234"));
    registry.Flush();
    registry.Flush();
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files),
              QStringList{QStringLiteral("Ringpost.reg")});
}

TEST_F(RegistryFileTest, AFailedSaveThrowsAReadableError) {
    WriteRaw("not a folder");
    TRegistryFile registry(path + QStringLiteral("/Ringpost.reg"));
    registry.OpenKey(kKey);
    registry.WriteInteger(QStringLiteral("Count"), 1);
    try {
        registry.Flush();
        FAIL() << "the save should fail";
    } catch (const ERegistryError& error) {
        EXPECT_TRUE(error.Message().contains(path)) << error.what();
    }
}

TEST(RegistryFileDefaultPath, FollowsXdgConfigHome) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/somewhere/config");
    EXPECT_EQ(TRegistryFile::DefaultPath(),
              QStringLiteral("/somewhere/config/Amberfold/Ringpost.reg"));
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(TRegistryFile::DefaultPath(), QDir::homePath() + "/.config/Amberfold/Ringpost.reg");
    if (!saved.isEmpty())
        qputenv("XDG_CONFIG_HOME", saved);
}

} // namespace
