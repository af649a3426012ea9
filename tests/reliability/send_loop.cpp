// SPDX-License-Identifier: GPL-3.0-or-later
// The engine over the real mail store and state files, sending meeting reminders
// into the outbox as fast as it can, for kill_send_test.sh to kill at random
// instants. Only time and input are fakes: the clock stands still inside the day
// window and the user is away, so every reminder is due at once.
//
//   send_loop prepare <folder> <generation> <count>  a calendar of <count> meetings due now
//   send_loop run <folder>                           sends until a notice pass finds nothing due
//   send_loop check <folder> <generation> <count>
//       prints "<messages of the generation> <repeats> <meetings notified> <meetings with a
//       message>"; exits 1 when NOTIFY.CLD does not load whole or a kept-aside copy appeared

#include "engine/OutlookProcessor.h"
#include "engine/StateFiles.h"
#include "platform/mailstore/MailStoreApplication.h"
#include "platform/mailstore/MailStoreProfile.h"
#include "tests/platform/StoreEngineDeps.h"
#include "tests/support/EngineFakes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QThread>
#include <atomic>
#include <cstdio>

namespace {

using namespace rp;
using namespace rp::test;

// The meetings start at 12:10 on that day, in local time.
TDateTime Now() {
    return EncodeDateTime(2024, 3, 4, 12, 0);
}
// The first wait only finds the user away; the second follows the pass that sends.
constexpr int kWaits = 3;

QString StoreFolder(const QString& folder) {
    return folder + QStringLiteral("/store");
}

QString Subject(int generation, int index) {
    return QStringLiteral("G%1 meeting %2").arg(generation).arg(index);
}

// How the key, and so the notice, ends: the location, then the subject.
QString KeyEnd(int generation, int index) {
    return QStringLiteral("@loc:Room") + Subject(generation, index);
}

// Starts in ten minutes with the default 15-minute lead: due now.
int Prepare(const QString& folder, int generation, int count) {
    mailstore::CreateDefaultStore(StoreFolder(folder));
    QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Amberfold//send loop//EN\r\n";
    for (int i = 0; i < count; ++i)
        text += QStringLiteral(
                    "BEGIN:VEVENT\r\nUID:g%1-%2@ringpost.test\r\nDTSTAMP:20240301T000000Z\r\n"
                    "DTSTART:20240304T121000\r\nDURATION:PT30M\r\nSUMMARY:%3\r\nLOCATION:Room\r\n"
                    "END:VEVENT\r\n")
                    .arg(generation)
                    .arg(i)
                    .arg(Subject(generation, i))
                    .toUtf8();
    text += "END:VCALENDAR\r\n";
    QFile file(StoreFolder(folder) + QStringLiteral("/calendar.ics"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        return 1;
    return 0;
}

int Run(const QString& folder) {
    FakeHost host;
    host.UpdateSettings([](SettingsRecord& s) {
        s.MeetingNotify = true;
        s.EarlyTime = EncodeTime(0, 1);
        s.LateTime = EncodeTime(23, 59);
    });
    auto clock = std::make_unique<FakeClock>(Now());
    clock->SetFrozen(true);
    auto wake = std::make_unique<FakeWakeEvent>(*clock);
    wake->SetMovesClock(false);
    std::atomic<TOutlookProcessor*> engine{nullptr};
    wake->OnWait = [&engine](int wait, int) {
        if (wait < kWaits)
            return;
        while (!engine.load()) // the thread can get here before the constructor returns
            QThread::yieldCurrentThread();
        engine.load()->Stop();
    };
    TOutlookProcessor processor(
        &host, StoreEngineDeps(std::move(clock), std::make_unique<FakeInput>(), std::move(wake),
                               {folder + QStringLiteral("/MailStore.ini"), StoreFolder(folder), 0,
                                folder + QStringLiteral("/cache"), 300, nullptr},
                               folder));
    engine = &processor;
    processor.wait();
    for (const QString& box : host.ErrorBoxes())
        std::fprintf(stderr, "error box: %s\n", qPrintable(box));
    return host.ErrorBoxes().isEmpty() ? 0 : 1;
}

// The subject of each message in the outbox.
QStringList OutboxSubjects(const QString& folder) {
    QStringList subjects;
    const QDir outbox(StoreFolder(folder) + QStringLiteral("/Outbox/new"));
    for (const QString& name : outbox.entryList(QDir::Files)) {
        QFile file(outbox.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (line.startsWith("Subject: "))
                subjects << QString::fromUtf8(line.mid(9).trimmed());
    }
    return subjects;
}

int Check(const QString& folder, int generation, int count) {
    TSortedList<TEventItem> records;
    try {
        LoadNotifyFile(folder + QStringLiteral("/NOTIFY.CLD"), records);
    } catch (const EStateFileError& error) {
        std::fprintf(stderr, "NOTIFY.CLD: %s\n", qPrintable(error.Message()));
        return 1;
    }
    if (!QDir(folder).entryList({QStringLiteral("*.unreadable*")}).isEmpty()) {
        std::fprintf(stderr, "a state file was kept aside as unreadable\n");
        return 1;
    }
    QMap<QString, int> messages; // per meeting of this generation
    int total = 0;
    for (const QString& subject : OutboxSubjects(folder))
        for (int i = 0; i < count; ++i)
            if (subject.endsWith(KeyEnd(generation, i))) {
                ++messages[KeyEnd(generation, i)];
                ++total;
            }
    int notified = 0;
    for (int i = 0; i < records.Count(); ++i)
        if (records.At(i).Notified &&
            records.At(i).Key.contains(QStringLiteral("@loc:RoomG%1 ").arg(generation)))
            ++notified;
    std::printf("%d %d %d %d\n", total, total - int(messages.size()), notified,
                int(messages.size()));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("prepare"))
        return Prepare(args[2], args[3].toInt(), args[4].toInt());
    if (args.size() == 3 && args[1] == QLatin1String("run"))
        return Run(args[2]);
    if (args.size() == 5 && args[1] == QLatin1String("check"))
        return Check(args[2], args[3].toInt(), args[4].toInt());
    std::fprintf(stderr, "usage: send_loop prepare|run|check <folder> [generation count]\n");
    return 2;
}
