// SPDX-License-Identifier: GPL-3.0-or-later
// The engine-level figures of the benchmark, one measurement per command; each
// prints one JSON object as its last line for bench/run to collect.
//
//   ringpost_bench generate FOLDER        large store in FOLDER/store, empty one in FOLDER/empty
//   ringpost_bench load FOLDER [runs]     cold load of calendar.ics against a bare libical parse
//   ringpost_bench coverage FOLDER [runs] every calendar and task item examined once, warm
//   ringpost_bench cycle FOLDER [cycles]  steady polling cycles: CPU and bytes written
//   ringpost_bench statefiles FOLDER [runs]  save and load of 10 000 records per state file
//   ringpost_bench memory STOREFOLDER     resident memory with that store loaded
//   ringpost_bench accuracy FOLDER        recurring instances of the 2-day window the scan
//                                         meets at their local start (FOLDER/instances.tsv
//                                         lists them for the comparison with calcurse)

#include "bench/BenchEngine.h"
#include "bench/EngineStepAccess.h"
#include "bench/Measure.h"
#include "bench/StoreGenerator.h"
#include "engine/Occurrence.h"
#include "engine/StateFiles.h"
#include "platform/calendar/IcsSource.h"
#include "platform/mailstore/MailStoreApplication.h"
#include "platform/mailstore/MailStoreItems.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <libical/ical.h>
#include <malloc.h>
#include <set>

namespace rp::bench {

namespace {

using Access = TOutlookProcessorBenchAccess;

// A function, not a constant: the date helpers are not ready during static set-up.
TDateTime BenchNow() {
    return TStoreShape{}.now;
}

QString StoreOf(const QString& folder) {
    return folder + QStringLiteral("/store");
}

void Print(const TJson& json) {
    std::printf("%s\n", json.Text().constData());
}

int64_t FileSize(const QString& path) {
    return QFileInfo(path).size();
}

int Generate(const QString& folder) {
    const TStoreCounts counts = WriteStore(StoreOf(folder), TStoreShape{});
    WriteEmptyStore(folder + QStringLiteral("/empty"));
    TJson json;
    json.Add("events", int64_t{counts.events})
        .Add("recurring_events", int64_t{counts.recurringEvents})
        .Add("events_with_alarm", int64_t{counts.eventsWithAlarm})
        .Add("zoned_events", int64_t{counts.zonedEvents})
        .Add("utc_events", int64_t{counts.utcEvents})
        .Add("floating_events", int64_t{counts.floatingEvents})
        .Add("all_day_events", int64_t{counts.allDayEvents})
        .Add("events_with_exdate", int64_t{counts.eventsWithExdate})
        .Add("tasks", int64_t{counts.tasks})
        .Add("completed_tasks", int64_t{counts.completedTasks})
        .Add("recurring_tasks", int64_t{counts.recurringTasks})
        .Add("tasks_with_reminder", int64_t{counts.tasksWithReminder})
        .Add("messages", int64_t{counts.messages})
        .Add("urgent_unread", int64_t{counts.urgentUnread})
        .Add("calendar_bytes", FileSize(StoreOf(folder) + QStringLiteral("/calendar.ics")))
        .Add("tasks_bytes", FileSize(StoreOf(folder) + QStringLiteral("/tasks.ics")));
    Print(json);
    return 0;
}

double CpuOf(const std::function<void()>& work) {
    const double start = ProcessCpuSeconds();
    work();
    return ProcessCpuSeconds() - start;
}

// What any program that reads the file with libical pays at least.
void BareParse(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    const QByteArray text = file.readAll();
    icalcomponent* root = icalparser_parse_string(text.constData());
    if (!root)
        throw std::runtime_error("libical could not parse " + path.toStdString());
    icalcomponent_free(root);
}

size_t StoreLoad(const QString& path) {
    mailstore::TIcsSource source(path, QStringLiteral("calendar"));
    return source.Contents()->appointments.size();
}

int Load(const QString& folder, int runs) {
    const QString path = StoreOf(folder) + QStringLiteral("/calendar.ics");
    size_t loaded = StoreLoad(path); // first use of the zone data is not the load's cost
    BareParse(path);
    std::vector<double> bare, store, ratios;
    for (int run = 0; run < runs; ++run) {
        bare.push_back(CpuOf([&] { BareParse(path); }));
        store.push_back(CpuOf([&] { loaded = StoreLoad(path); }));
        ratios.push_back(store.back() / bare.back());
    }
    Print(TJson()
              .Add("runs", int64_t{runs})
              .Add("appointments", static_cast<int64_t>(loaded))
              .Add("bare_parse_ms", Median(bare) * 1e3)
              .Add("store_load_ms", Median(store) * 1e3)
              .Add("ratio", Median(ratios)));
    return 0;
}

// The calls of the engine's scan step it takes to examine every item once.
int CoverageCalls(const QString& store) {
    mailstore::TIcsSource calendar(store + QStringLiteral("/calendar.ics"), QStringLiteral("c"));
    mailstore::TIcsSource tasks(store + QStringLiteral("/tasks.ics"), QStringLiteral("t"));
    const size_t items =
        std::max(calendar.Contents()->appointments.size(), tasks.Contents()->tasks.size());
    return static_cast<int>((items + ScanBatchLimit - 1) / ScanBatchLimit);
}

void CoverOnce(TOutlookProcessor& engine, int calls) {
    for (int call = 0; call < calls; ++call)
        Access::ProcessCheckes(engine);
}

// How often the store has parsed its files: a warm pass should add none.
int64_t StoreParses(TOutlookProcessor& engine) {
    auto* store = dynamic_cast<mailstore::TStoreApplication*>(&Access::Outlook(engine).App());
    if (!store)
        return -1;
    const auto parts = store->Parts();
    return parts->calendar->ParseCount() + parts->tasks->ParseCount();
}

int Coverage(const QString& folder, int runs) {
    const QString store = StoreOf(folder);
    const int calls = CoverageCalls(store);
    QTemporaryDir data;
    TBenchEngine bench(store, data.path(), BenchNow(), true);
    TOutlookProcessor& engine = bench.Engine();
    const double cold = CpuOf([&] { CoverOnce(engine, calls); }); // loads the store too
    const int64_t parsesBefore = StoreParses(engine);
    std::vector<double> warm;
    for (int run = 0; run < runs; ++run)
        warm.push_back(CpuOf([&] { CoverOnce(engine, calls); }));
    Print(TJson()
              .Add("runs", int64_t{runs})
              .Add("scan_calls", int64_t{calls})
              .Add("appointments_tracked", int64_t{Access::Appointments(engine).Count()})
              .Add("tasks_tracked", int64_t{Access::Tasks(engine).Count()})
              .Add("warm_store_parses", StoreParses(engine) - parsesBefore)
              .Add("first_pass_ms", cold * 1e3)
              .Add("warm_ms", Median(warm) * 1e3));
    return 0;
}

int OutboxCount(const QString& store) {
    return static_cast<int>(QDir(store + QStringLiteral("/Outbox/new")).count() - 2);
}

// What a cycle may change: the tracked records, byte for byte, and the mail sent.
struct TFingerprint {
    QByteArray records;
    int sent = 0;
    bool operator==(const TFingerprint&) const = default;
};

template <class Record> void AppendRecords(QByteArray& out, const TSortedList<Record>& list) {
    for (int i = 0; i < list.Count(); ++i)
        out += EncodeRecord(list.At(i));
}

TFingerprint FingerprintOf(TOutlookProcessor& engine, const QString& store) {
    TFingerprint print;
    AppendRecords(print.records, Access::Appointments(engine));
    AppendRecords(print.records, Access::Tasks(engine));
    AppendRecords(print.records, Access::Emails(engine));
    print.sent = OutboxCount(store);
    return print;
}

// Cycles on moving time first (sends what falls due), then on still time until
// every item has been seen at it; the measured cycles come after that. A
// measured cycle that changed nothing must write nothing.
struct TCycleRecorder {
    int settleCycles = 0;
    int measuredCycles = 0;
    std::vector<double> cpu;
    double lastCpu = 0;
    int64_t lastWritten = 0;
    TFingerprint last;
    bool lastChanged = true;
    int quietCycles = 0;
    int64_t quietBytes = 0;
    int64_t allBytes = 0;
    int sends = 0;

    void Measure(TBenchEngine& bench, const QString& store, double now) {
        cpu.push_back(now - lastCpu);
        const int64_t written = WrittenBytes() - lastWritten;
        const TFingerprint current = FingerprintOf(bench.Engine(), store);
        allBytes += written;
        sends += current.sent - last.sent;
        // The key dumps catch up with a removal at the next scan that meets a
        // tracked item, so a cycle right after a change is not counted as quiet.
        const bool changed = !(current == last);
        if (!changed && !lastChanged) {
            ++quietCycles;
            quietBytes += written;
        }
        lastChanged = changed;
    }

    void OnWait(int wait, TBenchEngine& bench, const QString& store) {
        // A wait's time-out moves the clock before the next cycle.
        bench.wake.SetMovesClock(wait < settleCycles);
        bench.clock.SetFrozen(wait >= settleCycles);
        const double now = ThreadCpuSeconds();
        if (wait > 2 * settleCycles)
            Measure(bench, store, now);
        if (wait == 2 * settleCycles + measuredCycles)
            bench.RequestStop();
        last = FingerprintOf(bench.Engine(), store);
        lastWritten = WrittenBytes();
        lastCpu = ThreadCpuSeconds();
    }
};

int Cycle(const QString& folder, int cycles) {
    const QString store = StoreOf(folder);
    QTemporaryDir data;
    TCycleRecorder recorder;
    recorder.settleCycles = CoverageCalls(store) + ScanBatchLimit;
    recorder.measuredCycles = cycles;
    TBenchEngine* running = nullptr;
    std::atomic<bool> ready{false};
    TBenchEngine bench(store, data.path(), BenchNow(), false, [&](int wait) {
        while (!ready.load())
            QThread::yieldCurrentThread();
        recorder.OnWait(wait, *running, store);
    });
    running = &bench;
    ready = true;
    bench.Join();
    Print(TJson()
              .Add("cycles", static_cast<int64_t>(recorder.cpu.size()))
              .Add("median_cycle_ms", Median(recorder.cpu) * 1e3)
              .Add("mean_cycle_ms", Mean(recorder.cpu) * 1e3)
              .Add("quiet_cycles", int64_t{recorder.quietCycles})
              .Add("quiet_bytes_written", recorder.quietBytes)
              .Add("bytes_written", recorder.allBytes)
              .Add("sends_while_measured", int64_t{recorder.sends}));
    return 0;
}

constexpr int kStateRecords = 10000;

QString RecordKey(const char* kind, int index) {
    return QStringLiteral("%1 %2 about the quarterly budget review:12/06/2024")
        .arg(QLatin1String(kind))
        .arg(index, 5, 10, QLatin1Char('0'));
}

template <class Record> void Fill(TSortedList<Record>& list, const char* kind) {
    for (int index = 0; index < kStateRecords; ++index) {
        const QString key = RecordKey(kind, index);
        auto record = std::make_unique<Record>();
        record->Key = key;
        list.Add(key, std::move(record));
    }
}

// Save to a new file, save again unchanged, load into an empty list.
struct TStateTimes {
    std::vector<double> save, saveWall, unchanged, load;
    int64_t bytes = 0;
};

template <class Record, class Save, class Load>
void MeasureStateFile(const QString& path, const char* kind, Save save, Load load,
                      TStateTimes& times) {
    TSortedList<Record> list;
    Fill(list, kind);
    QFile::remove(path);
    const double wall = WallSeconds();
    times.save.push_back(CpuOf([&] { save(path, list); }));
    times.saveWall.push_back(WallSeconds() - wall);
    times.unchanged.push_back(CpuOf([&] { save(path, list); }));
    TSortedList<Record> loaded;
    times.load.push_back(CpuOf([&] { load(path, loaded); }));
    if (loaded.Count() != list.Count())
        throw std::runtime_error("a state file lost records");
    times.bytes = FileSize(path);
}

void AddStateTimes(TJson& json, const char* name, const TStateTimes& times) {
    const QByteArray prefix(name);
    json.Add(prefix + "_save_ms", Median(times.save) * 1e3)
        .Add(prefix + "_save_wall_ms", Median(times.saveWall) * 1e3)
        .Add(prefix + "_unchanged_save_ms", Median(times.unchanged) * 1e3)
        .Add(prefix + "_load_ms", Median(times.load) * 1e3)
        .Add(prefix + "_bytes", times.bytes);
}

int StateFiles(const QString& folder, int runs) {
    TStateTimes task, notify, email;
    for (int run = 0; run < runs; ++run) {
        MeasureStateFile<TTaskEvent>(folder + QStringLiteral("/TASK.CLD"), "Task", SaveTaskFile,
                                     LoadTaskFile, task);
        MeasureStateFile<TEventItem>(folder + QStringLiteral("/NOTIFY.CLD"), "Meeting",
                                     SaveNotifyFile, LoadNotifyFile, notify);
        MeasureStateFile<TEmailItem>(folder + QStringLiteral("/EMAIL.CLD"), "Mail", SaveEmailFile,
                                     LoadEmailFile, email);
    }
    TJson json;
    json.Add("runs", int64_t{runs}).Add("records", int64_t{kStateRecords});
    AddStateTimes(json, "task", task);
    AddStateTimes(json, "notify", notify);
    AddStateTimes(json, "email", email);
    Print(json);
    return 0;
}

// Everything the engine reads is loaded and every item examined once.
int Memory(const QString& store) {
    QTemporaryDir data;
    TBenchEngine bench(store, data.path(), BenchNow(), true);
    CoverOnce(bench.Engine(), CoverageCalls(store));
    Access::CheckUrgentEmail(bench.Engine());
    Print(TJson()
              .Add("rss_kb", StatusKilobytes("VmRSS"))
              .Add("rss_anon_kb", StatusKilobytes("RssAnon"))
              .Add("rss_file_kb", StatusKilobytes("RssFile"))
              .Add("peak_rss_kb", StatusKilobytes("VmHWM"))
              // What the allocator counts in use, without its free pages and overhead.
              .Add("heap_in_use_kb", static_cast<int64_t>(mallinfo2().uordblks / 1024)));
    return 0;
}

struct TInstance {
    QByteArray subject;
    TDateTime start = 0;
};

icaltimezone* ZoneOf(icalproperty* property, icalcomponent* root) {
    icalparameter* tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
    if (!tzid)
        return nullptr;
    const char* name = icalparameter_get_tzid(tzid);
    if (icaltimezone* own = icalcomponent_get_timezone(root, name))
        return own;
    return icaltimezone_get_builtin_timezone(name);
}

TDateTime LocalOf(icaltimetype time) {
    if (time.is_date)
        return EncodeDate(time.year, time.month, time.day);
    if (!time.zone)
        return EncodeDateTime(time.year, time.month, time.day, time.hour, time.minute, time.second);
    return FromQDateTime(QDateTime::fromSecsSinceEpoch(
        static_cast<qint64>(icaltime_as_timet_with_zone(time, time.zone))));
}

icaltimetype ZonedTime(icalproperty* property, icaltimetype time, icalcomponent* root) {
    if (icaltime_is_utc(time))
        time.zone = icaltimezone_get_utc_timezone();
    else if (!time.is_date)
        time.zone = ZoneOf(property, root);
    return time;
}

// libical's expansion of every recurring event into [from, from + 2 days).
std::vector<TInstance> ExpandedInstances(icalcomponent* root, TDateTime from) {
    std::vector<TInstance> result;
    for (icalcomponent* event = icalcomponent_get_first_component(root, ICAL_VEVENT_COMPONENT);
         event; event = icalcomponent_get_next_component(root, ICAL_VEVENT_COMPONENT)) {
        icalproperty* rrule = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY);
        icalproperty* dtstart = icalcomponent_get_first_property(event, ICAL_DTSTART_PROPERTY);
        if (!rrule || !dtstart)
            continue;
        const icaltimetype start = ZonedTime(dtstart, icalproperty_get_dtstart(dtstart), root);
        std::set<int64_t> deleted;
        for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_EXDATE_PROPERTY); p;
             p = icalcomponent_get_next_property(event, ICAL_EXDATE_PROPERTY))
            deleted.insert(
                std::llround(LocalOf(ZonedTime(p, icalproperty_get_exdate(p), root)) * 1440));
        icalrecur_iterator* it = icalrecur_iterator_new(icalproperty_get_rrule(rrule), start);
        for (icaltimetype next = icalrecur_iterator_next(it); !icaltime_is_null_time(next);
             next = icalrecur_iterator_next(it)) {
            next.zone = start.zone;
            const TDateTime local = LocalOf(next);
            if (local >= from + 2)
                break;
            if (local >= from && !deleted.count(std::llround(local * 1440)))
                result.push_back({icalcomponent_get_summary(event), local});
        }
        icalrecur_iterator_free(it);
    }
    return result;
}

// What the scan records from each recurring appointment when it passes over the
// calendar every quarter of an hour through the window.
std::set<std::pair<QByteArray, int64_t>> ScannedOccurrences(const QString& path, TDateTime from) {
    std::set<std::pair<QByteArray, int64_t>> met;
    mailstore::TIcsSource source(path, QStringLiteral("calendar"));
    for (const auto& record : source.Contents()->appointments) {
        if (!record->recurrence)
            continue;
        const auto item = mailstore::MakeAppointment(record);
        const auto pattern = item->GetRecurrencePattern();
        for (TDateTime now = from - kOneHour; now < from + 2; now += kFifteenMinutes) {
            const TOccurrence found = NearOccurrence(*pattern, now);
            if (found.start != 0 && found.start >= now - kOneHour && found.start <= now + 2)
                met.insert({record->subject, std::llround(found.start * 1440)});
        }
    }
    return met;
}

int Accuracy(const QString& folder) {
    const QString path = StoreOf(folder) + QStringLiteral("/calendar.ics");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    icalcomponent* root = icalparser_parse_string(file.readAll().constData());
    const TDateTime from = WholeDay(BenchNow());
    const std::vector<TInstance> instances = ExpandedInstances(root, from);
    icalcomponent_free(root);
    const auto met = ScannedOccurrences(path, from);
    QFile list(folder + QStringLiteral("/instances.tsv"));
    if (!list.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write instances.tsv");
    int64_t right = 0;
    for (const TInstance& instance : instances) {
        right += met.count({instance.subject, std::llround(instance.start * 1440)});
        list.write(ToQDateTime(instance.start).toString(u"MM/dd/yy\tHH:mm\t").toUtf8() +
                   instance.subject + '\n');
    }
    Print(
        TJson().Add("instances", static_cast<int64_t>(instances.size())).Add("scan_right", right));
    return 0;
}

} // namespace

} // namespace rp::bench

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr,
                     "usage: %s generate|load|coverage|cycle|statefiles|memory|accuracy FOLDER "
                     "[runs]\n",
                     argv[0]);
        return 2;
    }
    const QString command = args.at(1);
    const QString folder = QDir(args.at(2)).absolutePath();
    const int count = args.size() > 3 ? args.at(3).toInt() : 0;
    using namespace rp::bench;
    try {
        if (command == QLatin1String("generate"))
            return Generate(folder);
        if (command == QLatin1String("load"))
            return Load(folder, count > 0 ? count : 7);
        if (command == QLatin1String("coverage"))
            return Coverage(folder, count > 0 ? count : 7);
        if (command == QLatin1String("cycle"))
            return Cycle(folder, count > 0 ? count : 200);
        if (command == QLatin1String("statefiles"))
            return StateFiles(folder, count > 0 ? count : 5);
        if (command == QLatin1String("memory"))
            return Memory(folder);
        if (command == QLatin1String("accuracy"))
            return Accuracy(folder);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(command), error.what());
        return 1;
    }
    std::fprintf(stderr, "unknown command %s\n", qPrintable(command));
    return 2;
}
