// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SettingsStore.h"
#include "platform/settings/RegistryFile.h"

#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <bit>
#include <gtest/gtest.h>

using namespace rp;

namespace {

// Records what loading and saving do to the window.
class TFakeSettingsWindow : public ISettingsWindow {
public:
    SettingsRecord record;
    int top = 0;
    int left = 0;
    QSize screen{1280, 1024};
    bool firstRun = false;
    bool settingsLoaded = false;
    int welcomeBoxes = 0;
    int registryErrors = 0;
    QString registryDetails;
    int wizardPosts = 0;
    QStringList notices;
    QStringList calls; // setters and boxes, in order

    SettingsRecord Settings() const override { return record; }
    void SetMeetingNotify(bool v) override { Set("MeetingNotify", record.MeetingNotify, v); }
    void SetMorningNotify(bool v) override { Set("MorningNotify", record.MorningNotify, v); }
    void SetEveningNotify(bool v) override { Set("EveningNotify", record.EveningNotify, v); }
    void SetTaskNotify(bool v) override { Set("TaskNotify", record.TaskNotify, v); }
    void SetTaskPreNotify(bool v) override { Set("TaskPreNotify", record.TaskPreNotify, v); }
    void SetTaskReminder(bool v) override { Set("TaskReminder", record.TaskReminder, v); }
    void SetUrgentEmail(bool v) override { Set("UrgentEmail", record.UrgentEmail, v); }
    void SetTaskRemindPeriod(int32_t v) override {
        Set("TaskRemindPeriod", record.TaskRemindPeriod, v);
    }
    void SetPin(const QString& v) override { Set("Pin", record.Pin, v); }
    void SetService(uint8_t v) override { Set("Service", record.Service, v); }
    void SetEarlyTime(TDateTime v) override { Set("EarlyTime", record.EarlyTime, v); }
    void SetLateTime(TDateTime v) override { Set("LateTime", record.LateTime, v); }
    void SetCustomAddr(const QString& v) override { Set("CustomAddr", record.CustomAddr, v); }
    void SetCustomEmail(const QString& v) override { Set("CustomEmail", record.CustomEmail, v); }

    int WindowTop() const override { return top; }
    int WindowLeft() const override { return left; }
    void SetWindowTop(int v) override { Set("Top", top, v); }
    void SetWindowLeft(int v) override { Set("Left", left, v); }
    QSize ScreenSize() const override { return screen; }
    void ShowWelcomeBox() override { calls << "WelcomeBox", ++welcomeBoxes; }
    void ShowRegistryError(const QString& details) override {
        calls << "RegistryError", ++registryErrors, registryDetails = details;
    }
    void ShowNotice(const QString& text) override { notices << text; }
    void PostShowWizard() override { calls << "PostShowWizard", ++wizardPosts; }
    void SetFirstRun(bool v) override { firstRun = v; }
    void SetSettingsLoaded() override { settingsLoaded = true; }

private:
    template <class T, class V> void Set(const char* name, T& field, V value) {
        calls << QString::fromLatin1(name);
        field = value;
    }
};

QString Hex(const QByteArray& bytes) {
    QStringList items;
    for (char c : bytes)
        items << QString::asprintf("%02x", uchar(c));
    return items.join(u',');
}

QString TimeLine(double value) {
    QByteArray bytes(8, '\0');
    const auto bits = std::bit_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i)
        bytes[i] = char(bits >> (8 * i) & 0xFF);
    return QStringLiteral("hex:") + Hex(bytes);
}

const TDateTime kSevenAm = EncodeTime(7, 0);
const TDateTime kSevenPm = EncodeTime(19, 0);

class SettingsStoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("Ringpost.reg"));
    TRegistryFile registry{path};
    TSettingsStore store{registry};
    TFakeSettingsWindow window;

    // A configured store; each value's data can be replaced or (with an empty text) left out.
    QMap<QString, QString> Configured() const {
        return {{"Version", "\"01.01.00.001\""},
                {"MeetingNotify", "dword:00000001"},
                {"MorningNotify", "dword:00000000"},
                {"EveningNotify", "dword:00000005"},
                {"TaskNotify", "dword:00000001"},
                {"TaskPreNotify", "dword:00000000"},
                {"TaskReminder", "dword:00000001"},
                {"UrgentEmail", "dword:00000001"},
                {"Top", "dword:00000064"},
                {"Left", "dword:ffffff38"},
                {"TaskRemindPeriod", "dword:00000003"},
                {"Pin", "\"5551234567\""},
                {"EarlyTime", TimeLine(EncodeTime(8, 30))},
                {"LateTime", TimeLine(EncodeTime(21, 15))},
                {"Service", "dword:00000005"},
                {"CustomAddr", "\"region.example\""},
                {"CustomEmail", "\"me@example.org\""}};
    }
    void WriteStore(const QMap<QString, QString>& values) {
        QString text = QStringLiteral("Windows Registry Editor Version 5.00\n\n[%1]\n")
                           .arg(QLatin1String(SettingsKeyPath));
        for (auto it = values.begin(); it != values.end(); ++it)
            if (!it.value().isEmpty())
                text += u'"' + it.key() + QStringLiteral("\"=") + it.value() + u'\n';
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
    }
    void LoadWith(const QString& name, const QString& data) {
        auto values = Configured();
        values[name] = data;
        WriteStore(values);
        store.LoadSettings(window);
    }
    QStringList StoredNames() const {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QStringList names;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (line.startsWith('"'))
                names << QString::fromUtf8(line.mid(1, line.indexOf('"', 1) - 1));
        return names;
    }
};

TEST_F(SettingsStoreTest, AnEmptyStoreGreetsTheUserAndAsksForTheWizard) {
    store.LoadSettings(window);
    EXPECT_TRUE(window.firstRun);
    EXPECT_FALSE(window.settingsLoaded);
    EXPECT_EQ(window.calls, QStringList({"WelcomeBox", "PostShowWizard", "Service", "LateTime",
                                         "EarlyTime", "TaskRemindPeriod"}));
    EXPECT_EQ(window.record.Service, 4);
    EXPECT_EQ(window.record.EarlyTime, kSevenAm);
    EXPECT_EQ(window.record.LateTime, kSevenPm);
    EXPECT_EQ(window.record.TaskRemindPeriod, -1);
    EXPECT_FALSE(window.record.MeetingNotify || window.record.UrgentEmail);
    EXPECT_FALSE(QFile::exists(path)); // loading alone writes nothing
}

TEST_F(SettingsStoreTest, AConfiguredStoreIsReadInItsOrder) {
    WriteStore(Configured());
    store.LoadSettings(window);
    EXPECT_EQ(window.calls,
              QStringList({"MeetingNotify", "MorningNotify", "EveningNotify", "TaskNotify",
                           "TaskPreNotify", "TaskReminder", "UrgentEmail", "Top", "Left", "Pin",
                           "CustomAddr", "CustomEmail", "Service", "EarlyTime", "LateTime",
                           "TaskRemindPeriod"}));
    EXPECT_TRUE(window.settingsLoaded);
    EXPECT_FALSE(window.firstRun);
    EXPECT_TRUE(window.record.EveningNotify); // any non-zero number is true
    EXPECT_EQ(window.left, -200);
    EXPECT_EQ(window.record.EarlyTime, EncodeTime(8, 30));
    EXPECT_EQ(window.record.LateTime, EncodeTime(21, 15));
}

TEST_F(SettingsStoreTest, ASaveGivesBackEveryValueOnTheNextLoad) {
    window.record = {true,
                     false,
                     true,
                     false,
                     true,
                     false,
                     true,
                     0,
                     0,
                     3,
                     QStringLiteral("5551234567"),
                     EncodeTime(6, 45),
                     EncodeTime(22, 5),
                     8,
                     QStringLiteral("mms.\"odd\"\\region"),
                     QStringLiteral("zoë@exämple.org")};
    window.top = -40;
    window.left = 900;
    store.SaveSettings(window);

    TFakeSettingsWindow loaded;
    store.LoadSettings(loaded);
    EXPECT_TRUE(loaded.settingsLoaded);
    EXPECT_EQ(loaded.welcomeBoxes, 0);
    const SettingsRecord& a = window.record;
    const SettingsRecord& b = loaded.record;
    EXPECT_EQ(std::tie(a.MeetingNotify, a.MorningNotify, a.EveningNotify, a.TaskNotify,
                       a.TaskPreNotify, a.TaskReminder, a.UrgentEmail, a.TaskRemindPeriod, a.Pin,
                       a.EarlyTime, a.LateTime, a.Service, a.CustomAddr, a.CustomEmail),
              std::tie(b.MeetingNotify, b.MorningNotify, b.EveningNotify, b.TaskNotify,
                       b.TaskPreNotify, b.TaskReminder, b.UrgentEmail, b.TaskRemindPeriod, b.Pin,
                       b.EarlyTime, b.LateTime, b.Service, b.CustomAddr, b.CustomEmail));
    EXPECT_EQ(loaded.top, -40);
    EXPECT_EQ(loaded.left, 900);
}

TEST_F(SettingsStoreTest, ASaveWritesEveryValueInItsOrder) {
    store.SaveSettings(window);
    store.SaveSettings(window); // a second save rewrites, it does not repeat
    EXPECT_EQ(StoredNames(),
              QStringList({"Version", "MeetingNotify", "MorningNotify", "EveningNotify",
                           "TaskNotify", "TaskPreNotify", "TaskReminder", "UrgentEmail", "Top",
                           "Left", "TaskRemindPeriod", "Pin", "EarlyTime", "LateTime", "Service",
                           "CustomAddr", "CustomEmail"}));
    registry.Reload();
    registry.OpenKey(QLatin1String(SettingsKeyPath));
    EXPECT_EQ(registry.ReadString(QStringLiteral("Version")), QStringLiteral("01.01.00.001"));
    EXPECT_EQ(registry.ValueType(QStringLiteral("Service")), TRegistryType::DWord);
    EXPECT_EQ(registry.ReadBinary(QStringLiteral("LateTime")).size(), 8);
}

TEST_F(SettingsStoreTest, AVersionThatDiffersIsAFirstRun) {
    for (const char* version : {"\"01.01.00.002\"", "\"1.01.00.001\"", "\"01.01.00.001 \"",
                                "\"01.01.00.00\"", "dword:00000001", ""}) {
        TFakeSettingsWindow fresh;
        auto values = Configured();
        values["Version"] = QLatin1String(version);
        WriteStore(values);
        store.LoadSettings(fresh);
        EXPECT_TRUE(fresh.firstRun) << version;
        EXPECT_EQ(fresh.welcomeBoxes, 1) << version;
        EXPECT_TRUE(fresh.record.Pin.isEmpty()) << version; // stored values are not read
        EXPECT_EQ(fresh.record.TaskRemindPeriod, -1) << version;
    }
}

// One mistyped value costs that value alone: it takes its default, the box names
// it, and the next save writes every other value back as it was.
TEST_F(SettingsStoreTest, OneMistypedValueTakesItsDefaultAndTheRestIsKept) {
    window.top = 77;
    LoadWith("EarlyTime", "\"abc\"");
    EXPECT_EQ(window.registryErrors, 1);
    EXPECT_EQ(window.registryDetails,
              QStringLiteral("These values in %1 could not be read and take their defaults "
                             "until they are set again:\nEarlyTime: 07:00")
                  .arg(path));
    EXPECT_FALSE(window.settingsLoaded); // the window starts visible, beside the box
    EXPECT_FALSE(window.firstRun);
    EXPECT_TRUE(window.notices.isEmpty()); // the file itself reads well
    EXPECT_EQ(window.record.EarlyTime, kSevenAm);
    EXPECT_EQ(window.record.LateTime, EncodeTime(21, 15));
    EXPECT_EQ(window.record.Pin, QStringLiteral("5551234567"));
    EXPECT_EQ(window.record.CustomEmail, QStringLiteral("me@example.org"));
    EXPECT_EQ(window.record.CustomAddr, QStringLiteral("region.example"));
    EXPECT_EQ(window.record.Service, 5);
    EXPECT_EQ(window.record.TaskRemindPeriod, 3);
    EXPECT_TRUE(window.record.MeetingNotify && window.record.UrgentEmail);
    EXPECT_EQ(window.top, 100);

    store.SaveSettings(window); // what hiding the window does
    TFakeSettingsWindow next;
    store.LoadSettings(next);
    EXPECT_EQ(next.registryErrors, 0);
    EXPECT_TRUE(next.settingsLoaded);
    EXPECT_EQ(std::tie(next.record.Pin, next.record.Service, next.record.LateTime,
                       next.record.EarlyTime, next.record.TaskRemindPeriod, next.top, next.left),
              std::tie(window.record.Pin, window.record.Service, window.record.LateTime,
                       window.record.EarlyTime, window.record.TaskRemindPeriod, window.top,
                       window.left));
}

TEST_F(SettingsStoreTest, EachValueOfTheWrongTypeIsNamedWithTheDefaultItTakes) {
    const QMap<QString, QString> expected{
        {"MeetingNotify", "off"}, {"MorningNotify", "off"},       {"EveningNotify", "off"},
        {"TaskNotify", "off"},    {"TaskPreNotify", "off"},       {"TaskReminder", "off"},
        {"UrgentEmail", "off"},   {"Top", "where the window is"}, {"Left", "where the window is"},
        {"Pin", "empty"},         {"CustomAddr", "empty"},        {"CustomEmail", "empty"},
        {"Service", "4"},         {"EarlyTime", "07:00"},         {"LateTime", "19:00"},
        {"TaskRemindPeriod", "2"}};
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        TFakeSettingsWindow fresh;
        fresh.top = 9;
        auto values = Configured();
        // A text where a number belongs, and a number where a text belongs.
        values[it.key()] = values[it.key()].startsWith(u'"') ? "dword:00000001" : "\"x\"";
        WriteStore(values);
        store.LoadSettings(fresh);
        EXPECT_EQ(fresh.registryErrors, 1) << it.key().toStdString();
        EXPECT_TRUE(fresh.registryDetails.endsWith(u'\n' + it.key() + ": " + it.value()))
            << fresh.registryDetails.toStdString();
        // Every other value as stored.
        EXPECT_EQ(fresh.record.Pin.isEmpty(), it.key() == "Pin") << it.key().toStdString();
        EXPECT_EQ(fresh.record.Service, it.key() == "Service" ? 4 : 5) << it.key().toStdString();
        EXPECT_EQ(fresh.record.MeetingNotify, it.key() != "MeetingNotify");
        EXPECT_EQ(fresh.top, it.key() == "Top" ? 9 : 100) << it.key().toStdString();
        EXPECT_EQ(fresh.record.LateTime, it.key() == "LateTime" ? kSevenPm : EncodeTime(21, 15));
    }

    // A missing value is unreadable too; a missing text is empty text, as ever.
    LoadWith("MeetingNotify", QString());
    EXPECT_TRUE(window.registryDetails.endsWith(u'\n' + QStringLiteral("MeetingNotify: off")));
    EXPECT_EQ(window.record.Pin, QStringLiteral("5551234567"));
    LoadWith("Service", "dword:0000012c"); // 300 keeps its low 8 bits
    EXPECT_EQ(window.record.Service, 44);
}

TEST_F(SettingsStoreTest, MissingTextsReadAsEmpty) {
    window.record.Pin = QStringLiteral("stale");
    LoadWith("Pin", QString());
    EXPECT_TRUE(window.record.Pin.isEmpty());
    EXPECT_TRUE(window.settingsLoaded);
}

TEST_F(SettingsStoreTest, AWindowOffTheScreenIsBroughtBack) {
    window.screen = QSize(1280, 1024);
    auto values = Configured();
    values["Top"] = "dword:00001388";  // 5000
    values["Left"] = "dword:fffffed4"; // -300
    WriteStore(values);
    store.LoadSettings(window);
    EXPECT_EQ(window.top, 1004);
    EXPECT_EQ(window.left, -300);

    values["Top"] = "dword:00000400";  // exactly the screen height stays
    values["Left"] = "dword:00000bb8"; // 3000
    WriteStore(values);
    store.LoadSettings(window);
    EXPECT_EQ(window.top, 1024);
    EXPECT_EQ(window.left, 1260);
}

TEST_F(SettingsStoreTest, AnUnparsableFileIsReportedOnceAndKeptAside) {
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("garbage that is no registry file\n");
    }
    store.LoadSettings(window);
    store.SaveSettings(window);
    store.LoadSettings(window);
    EXPECT_EQ(window.notices.size(), 1);
    EXPECT_EQ(window.welcomeBoxes, 1); // the saved store is configured again
    EXPECT_TRUE(QFile::exists(path + QStringLiteral(".unreadable")));
}

TEST_F(SettingsStoreTest, AFailingSaveReportsAReadableError) {
    QFile file(dir.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    TRegistryFile blocked(file.fileName() + QStringLiteral("/Ringpost.reg"));
    TSettingsStore failing(blocked);
    try {
        failing.SaveSettings(window);
        FAIL() << "the save should fail";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("blocker"), std::string::npos) << error.what();
    }
}

} // namespace
