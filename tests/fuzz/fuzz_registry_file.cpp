// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the settings file's reader. Whatever it reads, a save
// must write a file that reads back cleanly with the same values, and a text
// value written from the input must come back as written.

#include "platform/settings/RegistryFile.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QList>
#include <tuple>

namespace {

using namespace rp;

const QString kKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Amberfold\\Ringpost");

const QStringList& ValueNames() {
    static const QStringList names{QStringLiteral("Version"),
                                   QStringLiteral("MeetingNotify"),
                                   QStringLiteral("MorningNotify"),
                                   QStringLiteral("EveningNotify"),
                                   QStringLiteral("TaskNotify"),
                                   QStringLiteral("TaskPreNotify"),
                                   QStringLiteral("TaskReminder"),
                                   QStringLiteral("UrgentEmail"),
                                   QStringLiteral("Top"),
                                   QStringLiteral("Left"),
                                   QStringLiteral("TaskRemindPeriod"),
                                   QStringLiteral("Pin"),
                                   QStringLiteral("EarlyTime"),
                                   QStringLiteral("LateTime"),
                                   QStringLiteral("Service"),
                                   QStringLiteral("CustomAddr"),
                                   QStringLiteral("CustomEmail"),
                                   QString()};
    return names;
}

using Snapshot = QList<std::tuple<TRegistryType, QByteArray, QString>>;

// Every known value as the settings store would read it.
Snapshot Read(const TRegistryFile& registry) {
    Snapshot values;
    for (const QString& name : ValueNames()) {
        const TRegistryType type = registry.ValueType(name);
        QByteArray bytes;
        QString text;
        if (type == TRegistryType::Binary)
            bytes = registry.ReadBinary(name);
        else if (type == TRegistryType::DWord)
            bytes = QByteArray::number(registry.ReadInteger(name));
        else if (type == TRegistryType::String || type == TRegistryType::ExpandString)
            text = registry.ReadString(name);
        if (type == TRegistryType::Binary && bytes.size() == 8)
            registry.ReadTime(name);
        values.append({type, bytes, text});
    }
    return values;
}

void TryFlush(TRegistryFile& registry) {
    try {
        registry.Flush();
    } catch (const ERegistryError&) {
        fuzz::Fail("a save into a writable folder failed");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString folder = fuzz::ScratchFolder() + QStringLiteral("/registry");
    QDir(folder).removeRecursively(); // kept-aside copies of earlier inputs
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/Ringpost.reg");
    fuzz::WriteInput(path, data, size);

    TRegistryFile registry(path);
    registry.Reload();
    registry.TakeNotice();
    registry.OpenKey(kKey);
    Read(registry);

    // A string made of the input: values hold whatever the user typed.
    QString typed = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const qsizetype nul = typed.indexOf(QChar(0)); nul >= 0)
        typed.truncate(nul); // string values end at their first NUL, as on Windows
    registry.WriteString(QStringLiteral("CustomEmail"), typed);
    registry.WriteTime(QStringLiteral("EarlyTime"), double(size) / 7.0);
    const Snapshot written = Read(registry);
    TryFlush(registry);

    TRegistryFile reread(path);
    if (!reread.Reload())
        fuzz::Fail("a saved settings file does not read back cleanly");
    reread.OpenKey(kKey);
    if (Read(reread) != written)
        fuzz::Fail("a saved settings file reads back other values");
    return 0;
}
