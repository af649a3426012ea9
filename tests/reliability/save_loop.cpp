// SPDX-License-Identifier: GPL-3.0-or-later
// Saves the three state files, the settings file and a calendar source's last
// good copy over and over, each round ("generation") with different and growing
// content, and prints each generation once all five files hold it. The crash
// test kills it at random moments; "check" then says whether every file still
// loads and holds one whole generation.
//
//   save_loop run <folder> <first generation>
//   save_loop once <folder> <generation>           one save of each file; prints errors
//   save_loop check <folder> <lowest> <highest>   prints "<min> <max> <temp files>"

#include "engine/OutlookModel.h"
#include "engine/StateFiles.h"
#include "platform/calendar/SourceCache.h"
#include "platform/settings/RegistryFile.h"

#include <QDir>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

using namespace rp;

const QString kKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Amberfold\\Ringpost");
constexpr int kRecordCycle = 120; // record counts grow to this, then start small again

int RecordCount(int generation) {
    return 1 + generation % kRecordCycle;
}

QString RecordKey(int index) {
    return QStringLiteral("%1 @loc:Room %2 — record")
        .arg(index, 4, 10, QLatin1Char('0'))
        .arg(index);
}

double Stamp(int generation, int index) {
    return generation + index / 1000.0;
}

// ---- the content of one generation

TSortedList<TTaskEvent> Tasks(int generation) {
    TSortedList<TTaskEvent> list;
    for (int i = 0; i < RecordCount(generation); ++i) {
        auto record = std::make_unique<TTaskEvent>();
        record->Key = RecordKey(i);
        record->StartDate = Stamp(generation, i);
        record->DueDay = generation;
        record->LastReminder = -Stamp(generation, i);
        record->ReminderSent = (generation + i) % 2 != 0;
        record->Completed = generation % 3 == 0;
        const QString key = record->Key;
        list.Add(key, std::move(record));
    }
    return list;
}

TSortedList<TEventItem> Appointments(int generation) {
    TSortedList<TEventItem> list;
    for (int i = 0; i < RecordCount(generation); ++i) {
        auto record = std::make_unique<TEventItem>();
        record->Key = RecordKey(i);
        record->StartTime = Stamp(generation, i);
        record->ReminderTime = Stamp(generation, i) - 0.01;
        record->Notified = (generation + i) % 2 != 0;
        const QString key = record->Key;
        list.Add(key, std::move(record));
    }
    return list;
}

TSortedList<TEmailItem> Emails(int generation) {
    TSortedList<TEmailItem> list;
    for (int i = 0; i < RecordCount(generation); ++i) {
        auto record = std::make_unique<TEmailItem>();
        record->Key = RecordKey(i);
        record->SeenTime = Stamp(generation, i);
        const QString key = record->Key;
        list.Add(key, std::move(record));
    }
    return list;
}

QString CustomEmail(int generation) {
    return QString(RecordCount(generation), QLatin1Char('x')) + QStringLiteral("@example.net");
}

void WriteSettings(TRegistryFile& registry, int generation) {
    registry.WriteString(QStringLiteral("Version"), QStringLiteral("01.01.00.001"));
    registry.WriteBool(QStringLiteral("MeetingNotify"), generation % 2 != 0);
    registry.WriteInteger(QStringLiteral("Top"), generation);
    registry.WriteInteger(QStringLiteral("Left"), -generation);
    registry.WriteString(QStringLiteral("Pin"), QString::number(generation));
    registry.WriteTime(QStringLiteral("EarlyTime"), generation / 100000.0);
    registry.WriteString(QStringLiteral("CustomEmail"), CustomEmail(generation));
}

// A sync's worth of items: those of the generation, and some that never change
// and so are carried over from the copy on disk at every save. Every fifth one
// was changed here and waits to be written back.
constexpr int kSteadyItems = 5;

QString ItemKey(int index) {
    return QStringLiteral("/calendars/anna/work/item-%1.ics").arg(index);
}

QByteArray ItemText(int generation, int index) {
    return "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:" + QByteArray::number(index) +
           "\r\nSUMMARY:generation " + QByteArray::number(generation) + ' ' +
           QByteArray((generation + index) % 300, 'x') + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

QByteArray ItemEtag(int generation, int index) {
    return '"' + QByteArray::number(generation) + '-' + QByteArray::number(index) + '"';
}

void FillCache(mailstore::TSourceCache& cache, int generation) {
    std::vector<QString> dropped;
    for (const auto& [key, item] : cache.Items())
        dropped.push_back(key);
    for (const QString& key : dropped)
        if (!key.startsWith(QLatin1String("steady-")))
            cache.Remove(key);
    for (int i = 0; i < kSteadyItems; ++i)
        if (!cache.Find(QStringLiteral("steady-%1").arg(i)))
            cache.Put(QStringLiteral("steady-%1").arg(i), ItemEtag(0, i), ItemText(0, i));
    for (int i = 0; i < RecordCount(generation); ++i) {
        cache.Put(ItemKey(i), ItemEtag(generation, i), ItemText(generation, i));
        if (i % 5 == 0)
            cache.ChangeHere(ItemKey(i), ItemText(-generation, i));
    }
    cache.SetState("syncToken", QByteArray::number(generation));
}

// ---- paths

struct Paths {
    explicit Paths(const QString& folder) : dir(folder) {}
    QString Task() const { return dir.filePath(QStringLiteral("TASK.CLD")); }
    QString Notify() const { return dir.filePath(QStringLiteral("NOTIFY.CLD")); }
    QString Email() const { return dir.filePath(QStringLiteral("EMAIL.CLD")); }
    QString Settings() const { return dir.filePath(QStringLiteral("Ringpost.reg")); }
    QString Cache() const { return dir.filePath(QStringLiteral("calendar.cache")); }
    QDir dir;
};

// ---- run

void SaveSettings(const Paths& paths, int generation) {
    TRegistryFile registry(paths.Settings());
    registry.Reload(); // as the settings store does before each save
    registry.OpenKey(kKey);
    WriteSettings(registry, generation);
    registry.Flush();
}

// Read at the start and written once, as a sync does it.
void SaveCache(const Paths& paths, int generation) {
    mailstore::TSourceCache cache(paths.Cache());
    FillCache(cache, generation);
    cache.Save();
}

void SaveGeneration(const Paths& paths, int generation) {
    SaveTaskFile(paths.Task(), Tasks(generation));
    SaveNotifyFile(paths.Notify(), Appointments(generation));
    SaveEmailFile(paths.Email(), Emails(generation));
    SaveSettings(paths, generation);
    SaveCache(paths, generation);
}

// Each file on its own, as the engine and the window save them; prints the error
// of every save that fails. 1 when one failed.
int SaveEachFile(const Paths& paths, int generation) {
    int failed = 0;
    const auto report = [&failed](const QString& message) {
        std::printf("%s\n", qPrintable(message));
        failed = 1;
    };
    const std::function<void()> saves[] = {
        [&] { SaveTaskFile(paths.Task(), Tasks(generation)); },
        [&] { SaveNotifyFile(paths.Notify(), Appointments(generation)); },
        [&] { SaveEmailFile(paths.Email(), Emails(generation)); },
        [&] { SaveSettings(paths, generation); }, [&] { SaveCache(paths, generation); }};
    for (const auto& save : saves) {
        try {
            save();
        } catch (const EStateFileError& error) {
            report(error.Message());
        } catch (const ERegistryError& error) {
            report(error.Message());
        } catch (const outlook::EAutomationError& error) {
            report(error.Message());
        }
    }
    return failed;
}

int Run(const Paths& paths, int first) {
    for (int generation = first;; ++generation) {
        SaveGeneration(paths, generation);
        std::printf("%d\n", generation);
        std::fflush(stdout);
    }
}

// ---- check

// The generation a loaded list holds, 0 for a missing file, -1 when it is not
// exactly one generation's content.
template <class Record>
int GenerationOf(const TSortedList<Record>& loaded, TSortedList<Record> (*expected)(int),
                 double (*stamp)(const Record&)) {
    if (loaded.Count() == 0)
        return 0;
    const int generation = int(stamp(loaded.At(0)));
    const TSortedList<Record> want = expected(generation);
    if (want.Count() != loaded.Count())
        return -1;
    for (int i = 0; i < want.Count(); ++i)
        if (EncodeRecord(want.At(i)) != EncodeRecord(loaded.At(i)))
            return -1;
    return generation;
}

template <class Record>
int LoadedGeneration(const QString& path, void (*load)(const QString&, TSortedList<Record>&),
                     TSortedList<Record> (*expected)(int), double (*stamp)(const Record&)) {
    TSortedList<Record> loaded;
    try {
        load(path, loaded);
    } catch (const EStateFileError& error) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(error.Message()));
        return -1;
    }
    if (QFile::exists(path) && loaded.Count() == 0) {
        std::fprintf(stderr, "%s: no records\n", qPrintable(path));
        return -1;
    }
    return GenerationOf(loaded, expected, stamp);
}

int SettingsGeneration(const QString& path) {
    if (!QFile::exists(path))
        return 0;
    TRegistryFile registry(path);
    if (!registry.Reload())
        return -1;
    registry.OpenKey(kKey);
    try {
        const int generation = registry.ReadInteger(QStringLiteral("Top"));
        TRegistryFile want(QDir::temp().filePath(QStringLiteral("unused.reg")));
        want.OpenKey(kKey);
        WriteSettings(want, generation);
        for (const QString& name :
             {QStringLiteral("Version"), QStringLiteral("Pin"), QStringLiteral("CustomEmail")})
            if (registry.ReadString(name) != want.ReadString(name))
                return -1;
        const bool same =
            registry.ReadInteger(QStringLiteral("Left")) == -generation &&
            registry.ReadBool(QStringLiteral("MeetingNotify")) == (generation % 2 != 0) &&
            registry.ReadTime(QStringLiteral("EarlyTime")) == generation / 100000.0;
        return same ? generation : -1;
    } catch (const ERegistryError&) {
        return -1;
    }
}

// The generation the copy holds, item for item, with the steady items whole.
int CacheGeneration(const QString& path) {
    if (!QFile::exists(path))
        return 0;
    mailstore::TSourceCache cache(path);
    if (!cache.WasRead())
        return -1;
    const int generation = cache.State("syncToken").toInt();
    mailstore::TSourceCache want(QDir::temp().filePath(QStringLiteral("unused.cache")));
    FillCache(want, generation);
    if (cache.Items().size() != want.Items().size())
        return -1;
    try {
        for (const auto& [key, item] : want.Items()) {
            const mailstore::TCachedItem* found = cache.Find(key);
            if (!found || found->etag != item.etag || found->changedHere != item.changedHere ||
                cache.Text(key) != want.Text(key))
                return -1;
        }
    } catch (const outlook::EAutomationError&) {
        return -1;
    }
    return generation;
}

int TempFiles(const Paths& paths) {
    return int(paths.dir
                   .entryList({QStringLiteral("*.tmp"), QStringLiteral("Ringpost.reg.*")},
                              QDir::Files | QDir::Hidden)
                   .size());
}

int Check(const Paths& paths, int lowest, int highest) {
    const int generations[] = {
        LoadedGeneration<TTaskEvent>(paths.Task(), LoadTaskFile, Tasks,
                                     [](const TTaskEvent& r) { return r.StartDate; }),
        LoadedGeneration<TEventItem>(paths.Notify(), LoadNotifyFile, Appointments,
                                     [](const TEventItem& r) { return r.StartTime; }),
        LoadedGeneration<TEmailItem>(paths.Email(), LoadEmailFile, Emails,
                                     [](const TEmailItem& r) { return r.SeenTime; }),
        SettingsGeneration(paths.Settings()), CacheGeneration(paths.Cache())};
    const char* names[] = {"TASK.CLD", "NOTIFY.CLD", "EMAIL.CLD", "Ringpost.reg", "calendar.cache"};
    int min = highest;
    int max = lowest;
    bool ok = true;
    for (int i = 0; i < 5; ++i) {
        if (generations[i] < lowest || generations[i] > highest) {
            std::fprintf(stderr, "%s holds generation %d, expected %d..%d\n", names[i],
                         generations[i], lowest, highest);
            ok = false;
        }
        min = std::min(min, generations[i]);
        max = std::max(max, generations[i]);
    }
    std::printf("%d %d %d\n", min, max, TempFiles(paths));
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const QString mode = argc > 2 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == QLatin1String("run") && argc == 4)
        return Run(Paths(QString::fromLocal8Bit(argv[2])), std::atoi(argv[3]));
    if (mode == QLatin1String("once") && argc == 4)
        return SaveEachFile(Paths(QString::fromLocal8Bit(argv[2])), std::atoi(argv[3]));
    if (mode == QLatin1String("check") && argc == 5)
        return Check(Paths(QString::fromLocal8Bit(argv[2])), std::atoi(argv[3]),
                     std::atoi(argv[4]));
    std::fprintf(stderr,
                 "usage: save_loop run|once <folder> <generation> | check <folder> <low> <high>\n");
    return 2;
}
