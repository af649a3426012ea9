// SPDX-License-Identifier: GPL-3.0-or-later
// The mail store's server figures, against the real servers the tests start
// (Radicale, Dovecot, the tests' small .ics server); each command prints one
// JSON object as its last line for bench/run to collect.
//
//   server_bench caldav FOLDER [runs] [items]  first load of the first `items` events
//                                      (by UID, default 1000) of FOLDER/store/calendar.ics
//                                      served by Radicale, against curl fetching Radicale's
//                                      answer to the same question and a bare libical parse
//                                      of its items; then steady polls, against curl asking
//                                      the same on a resumed TLS session
//   server_bench subscription FOLDER [runs]  steady polls of the calendar as a subscription
//   server_bench imap FOLDER [runs]    steady looks at the store's inbox served by Dovecot
//   server_bench desktop FOLDER [runs] first load of FOLDER/store/calendar.ics as a calendar
//                                      of the desktop's own store (evolution-data-server on a
//                                      private bus), against the file source reading the same
//                                      file; then steady cycles with nothing changed

#include "bench/Measure.h"
#include "platform/calendar/CalDavMirror.h"
#include "platform/calendar/CalDavXml.h"
#include "platform/calendar/DesktopSource.h"
#include "platform/calendar/IcsSource.h"
#include "platform/inbox/ImapInbox.h"
#include "tests/platform/CalDavTestSupport.h"
#include "tests/platform/DesktopStoreTestSupport.h"
#include "tests/platform/inbox/ImapTestServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <libical/ical.h>
#include <map>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace rp::bench {

namespace {

using mailstore::TCalDavMirror;
using mailstore::TSourceSettings;

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return file.readAll();
}

void WriteAll(const QString& path, const QByteArray& data) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + path.toStdString());
    file.write(data);
}

void Print(const TJson& json) {
    std::printf("%s\n", json.Text().constData());
}

// One file per UID, each with the calendar's time zones, as a CalDAV server
// keeps a calendar; written straight into Radicale's collection folder.
int SplitIntoCollection(const QString& calendarPath, const QString& collection, int most) {
    icalcomponent* root = icalparser_parse_string(ReadAll(calendarPath).constData());
    if (!root)
        throw std::runtime_error("libical could not parse the calendar");
    QByteArray zones;
    for (icalcomponent* zone = icalcomponent_get_first_component(root, ICAL_VTIMEZONE_COMPONENT);
         zone; zone = icalcomponent_get_next_component(root, ICAL_VTIMEZONE_COMPONENT))
        zones += icalcomponent_as_ical_string(zone);
    std::map<QByteArray, QByteArray> byUid;
    for (icalcomponent* event = icalcomponent_get_first_component(root, ICAL_VEVENT_COMPONENT);
         event; event = icalcomponent_get_next_component(root, ICAL_VEVENT_COMPONENT))
        byUid[icalcomponent_get_uid(event)] += icalcomponent_as_ical_string(event);
    icalcomponent_free(root);
    int index = 0;
    for (const auto& [uid, events] : byUid) {
        if (index == most)
            break;
        WriteAll(collection + QStringLiteral("/item-%1.ics").arg(index++),
                 "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Ringpost//bench//EN\r\n" + zones +
                     events + "END:VCALENDAR\r\n");
    }
    return index;
}

// curl's arguments to ask Radicale, with its password and trust, then `extra`,
// of the collection `times` times in one run.
QStringList CurlArguments(const mailstore::testing::TRadicale& server, const QStringList& extra,
                          int times = 1) {
    QStringList arguments{
        QStringLiteral("-sSf"), QStringLiteral("--cacert"), server.CaFile(), QStringLiteral("-u"),
        QStringLiteral("%1:%2").arg(QLatin1String(server.kUser), QLatin1String(server.kPassword))};
    arguments += extra;
    for (int time = 0; time < times; ++time)
        arguments << server.Url();
    return arguments;
}

void RunCurl(const mailstore::testing::TRadicale& server, const QStringList& extra) {
    QProcess curl;
    curl.start(QStringLiteral("curl"), CurlArguments(server, extra));
    if (!curl.waitForFinished(600000) || curl.exitCode() != 0)
        throw std::runtime_error("curl failed: " + curl.readAllStandardError().toStdString());
}

// The CPU seconds (user and system) one run of curl took.
double CurlCpuSeconds(const QStringList& arguments) {
    std::vector<QByteArray> owned{"curl"};
    for (const QString& argument : arguments)
        owned.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : owned)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("curl could not be started");
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("curl failed");
    const auto seconds = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// curl asking the question the store asks: a sync-collection REPORT with the body in `bodyFile`.
QStringList SyncReport(const QString& bodyFile) {
    return {QStringLiteral("-X"),
            QStringLiteral("REPORT"),
            QStringLiteral("-H"),
            QStringLiteral("Depth: 1"),
            QStringLiteral("-H"),
            QStringLiteral("Content-Type: application/xml; charset=utf-8"),
            QStringLiteral("--data-binary"),
            QLatin1Char('@') + bodyFile};
}

struct TFloor {
    double fetch = 0; // curl fetching Radicale's answer to the store's first question
    double parse = 0; // a bare libical parse of each item in it
    qint64 bytes = 0;
    double Total() const { return fetch + parse; }
};

// What any program pays that asks the server the store's own question and reads
// the items it gets with libical: the floor of a first load.
TFloor CurlSyncReportAndParse(const mailstore::testing::TRadicale& server, const QString& bodyFile,
                              const QString& into) {
    TFloor floor;
    double start = WallSeconds();
    RunCurl(server, SyncReport(bodyFile) + QStringList{QStringLiteral("-o"), into});
    floor.fetch = WallSeconds() - start;
    const QByteArray answer = ReadAll(into);
    floor.bytes = answer.size();
    const mailstore::TMultistatus status = mailstore::ParseMultistatus(answer);
    start = WallSeconds();
    for (const mailstore::TDavResource& resource : status.resources) {
        if (resource.calendarData.isEmpty())
            continue;
        icalcomponent* item = icalparser_parse_string(resource.calendarData.constData());
        if (!item)
            throw std::runtime_error("libical could not parse an item");
        icalcomponent_free(item);
    }
    floor.parse = WallSeconds() - start;
    return floor;
}

TSourceSettings Patient(TSourceSettings settings) {
    settings.timeoutSeconds = 300; // 10 000 items take Radicale a while
    return settings;
}

struct TLoad {
    double wall = 0;
    double cpu = 0;
    double sync = 0; // the server's answers fetched and written to the cache
    size_t appointments = 0;
    int requests = 0;
    qint64 bytes = 0;
};

// A first start: an empty cache, the whole collection read and parsed.
TLoad FirstLoad(const mailstore::testing::TRadicale& server) {
    QTemporaryDir cache;
    TLoad load;
    const double wall = WallSeconds();
    const double cpu = ProcessCpuSeconds();
    auto mirror =
        std::make_shared<TCalDavMirror>(Patient(server.Settings()), "calendar", cache.path(), 300);
    mirror->SyncNow();
    load.sync = WallSeconds() - wall;
    mailstore::TIcsSource source(mirror, QStringLiteral("calendar"));
    load.appointments = source.Contents()->appointments.size();
    load.wall = WallSeconds() - wall;
    load.cpu = ProcessCpuSeconds() - cpu;
    load.requests = mirror->RequestCount();
    load.bytes = mirror->BytesExchanged();
    if (!mirror->LastProblem().isEmpty())
        throw std::runtime_error(mirror->LastProblem().toStdString());
    return load;
}

struct TPollCost {
    std::vector<double> cpu;
    std::vector<double> threadCpu; // of the polling thread alone
    std::vector<double> requests;
    std::vector<double> bytes;

    TJson& AddTo(TJson& json) const {
        return json.Add("poll_cpu_ms", Median(cpu) * 1e3)
            .Add("poll_thread_cpu_ms", Median(threadCpu) * 1e3)
            .Add("poll_requests", Median(requests))
            .Add("poll_bytes", Median(bytes));
    }
};

// Polls of a mirror that is up to date: each should be one small request.
TPollCost SteadyPolls(TCalDavMirror& mirror, int runs) {
    TPollCost cost;
    for (int run = 0; run < runs; ++run) {
        const int requests = mirror.RequestCount();
        const qint64 bytes = mirror.BytesExchanged();
        const double cpu = ProcessCpuSeconds();
        const double thread = ThreadCpuSeconds();
        const QString failure = mirror.SyncNow();
        cost.cpu.push_back(ProcessCpuSeconds() - cpu);
        cost.threadCpu.push_back(ThreadCpuSeconds() - thread);
        if (!failure.isEmpty())
            throw std::runtime_error(failure.toStdString());
        cost.requests.push_back(mirror.RequestCount() - requests);
        cost.bytes.push_back(static_cast<double>(mirror.BytesExchanged() - bytes));
    }
    return cost;
}

// The CPU of one steady poll's question asked by curl on a resumed TLS session:
// curl asking it once, and 1 + `times` times in one run, where Radicale closes
// each connection and every later one resumes the session of the one before.
double CurlResumedPollCpu(const mailstore::testing::TRadicale& server, const QString& bodyFile,
                          int times) {
    QStringList once = SyncReport(bodyFile);
    QStringList many = once;
    for (int time = 0; time <= times; ++time)
        many << QStringLiteral("-o") << QStringLiteral("/dev/null");
    once << QStringLiteral("-o") << QStringLiteral("/dev/null");
    const double single = CurlCpuSeconds(CurlArguments(server, once));
    return (CurlCpuSeconds(CurlArguments(server, many, times + 1)) - single) / times;
}

// Steady polls of the mirror and curl's resumed requests, side by side.
void PollsAgainstCurl(const mailstore::testing::TRadicale& server, TCalDavMirror& mirror,
                      const QString& bodyFile, int runs, TJson& json) {
    WriteAll(bodyFile, mailstore::SyncCollectionBody(mirror.Cache()->State("syncToken")));
    constexpr int kPollsEach = 5;
    TPollCost ours;
    std::vector<double> curl, ratios;
    for (int run = 0; run < std::max(runs, 4); ++run) {
        const TPollCost polls = SteadyPolls(mirror, kPollsEach);
        curl.push_back(CurlResumedPollCpu(server, bodyFile, kPollsEach));
        ratios.push_back(Median(polls.cpu) / curl.back());
        for (const auto& [to, from] : {std::pair{&ours.cpu, &polls.cpu},
                                       {&ours.threadCpu, &polls.threadCpu},
                                       {&ours.requests, &polls.requests},
                                       {&ours.bytes, &polls.bytes}})
            to->insert(to->end(), from->begin(), from->end());
    }
    ours.AddTo(json)
        .Add("curl_resumed_poll_cpu_ms", Median(curl) * 1e3)
        .Add("poll_ratio", Median(ratios));
}

int CalDav(const QString& folder, int runs, int most) {
    mailstore::testing::TRadicale server;
    if (!server.ready)
        throw std::runtime_error("Radicale did not start");
    const int items = SplitIntoCollection(folder + QStringLiteral("/store/calendar.ics"),
                                          server.CollectionFolder(), most);
    QTemporaryDir scratch;
    const QString syncBody = scratch.filePath("sync.xml");
    WriteAll(syncBody, mailstore::SyncCollectionBody({}));
    const QString answer = scratch.filePath("answer.xml");
    CurlSyncReportAndParse(server, syncBody, answer); // Radicale's own cache
    FirstLoad(server);
    std::vector<double> fetches, parses, ours, ourCpu, ourSync, ratios;
    TFloor floor;
    TLoad load;
    for (int run = 0; run < runs; ++run) {
        floor = CurlSyncReportAndParse(server, syncBody, answer);
        fetches.push_back(floor.fetch);
        parses.push_back(floor.parse);
        load = FirstLoad(server);
        ours.push_back(load.wall);
        ourCpu.push_back(load.cpu);
        ourSync.push_back(load.sync);
        ratios.push_back(load.wall / floor.Total());
    }
    TJson json;
    json.Add("runs", int64_t{runs})
        .Add("items", int64_t{items})
        .Add("appointments", static_cast<int64_t>(load.appointments))
        .Add("floor_fetch_ms", Median(fetches) * 1e3)
        .Add("floor_parse_ms", Median(parses) * 1e3)
        .Add("floor_bytes", static_cast<int64_t>(floor.bytes))
        .Add("load_ms", Median(ours) * 1e3)
        .Add("load_cpu_ms", Median(ourCpu) * 1e3)
        .Add("load_sync_ms", Median(ourSync) * 1e3)
        .Add("load_requests", int64_t{load.requests})
        .Add("load_bytes", static_cast<int64_t>(load.bytes))
        .Add("ratio", Median(ratios));
    QTemporaryDir cache;
    TCalDavMirror mirror(Patient(server.Settings()), "calendar", cache.path(), 0);
    if (const QString failure = mirror.SyncNow(); !failure.isEmpty())
        throw std::runtime_error(failure.toStdString());
    PollsAgainstCurl(server, mirror, scratch.filePath("poll.xml"), runs, json);
    Print(json);
    return 0;
}

int Subscription(const QString& folder, int runs) {
    QProcess feed;
    feed.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QTemporaryDir scratch;
    feed.start(QStringLiteral("/usr/bin/python3"),
               {mailstore::testing::DataDir() + QStringLiteral("/ics_server.py"),
                folder + QStringLiteral("/store/calendar.ics"), scratch.filePath("requests.log")});
    while (!feed.canReadLine() && feed.waitForReadyRead(10000)) {
    }
    const QByteArray line = feed.readLine().trimmed();
    if (!line.startsWith("READY "))
        throw std::runtime_error("the .ics server did not start");
    TSourceSettings settings;
    settings.url = QStringLiteral("http://127.0.0.1:%1/calendar.ics").arg(line.mid(6).toInt());
    settings.timeoutSeconds = 60;
    QTemporaryDir cache;
    TCalDavMirror mirror(settings, "calendar", cache.path(), 0);
    const QString failure = mirror.SyncNow();
    TJson json;
    json.Add("first_requests", int64_t{mirror.RequestCount()})
        .Add("first_bytes", static_cast<int64_t>(mirror.BytesExchanged()));
    if (!failure.isEmpty() || mirror.Kind() != mailstore::TRemoteKind::Subscription)
        throw std::runtime_error("not read as a subscription: " + failure.toStdString());
    SteadyPolls(mirror, std::max(runs, 5) * 4).AddTo(json);
    feed.kill();
    feed.waitForFinished(5000);
    Print(json);
    return 0;
}

// The generated inbox, moved into Dovecot's Maildir in one go (one chown).
int FillMaildir(const QString& store, mailstore::testing::TDovecot& server) {
    int count = 0;
    QString last;
    for (const char* sub : {"new", "cur"}) {
        const QDir from(store + QStringLiteral("/Inbox/") + QLatin1String(sub));
        for (const QString& name : from.entryList(QDir::Files)) {
            last = QStringLiteral("%1/%2/%3").arg(server.Maildir(), QLatin1String(sub), name);
            QFile::copy(from.filePath(name), last);
            ++count;
        }
    }
    server.Deliver(QStringLiteral("1700000000.M0P0.bench"),
                   "From: Bench <b@example.org>\r\nSubject: last\r\n\r\n");
    return count + 1;
}

int Imap(const QString& folder, int runs) {
    mailstore::testing::TDovecot server;
    if (!server.Ready())
        throw std::runtime_error("Dovecot did not start");
    const int messages = FillMaildir(folder + QStringLiteral("/store"), server);
    QTemporaryDir cache;
    mailstore::TImapInbox inbox(
        server.Settings(),
        [] { return QString::fromLatin1(mailstore::testing::TDovecot::kPassword); },
        cache.filePath("inbox.imap"), 3600);
    const double firstWall = WallSeconds();
    inbox.PollNow();
    const double firstMs = (WallSeconds() - firstWall) * 1e3;
    if (!inbox.StatusText().isEmpty())
        throw std::runtime_error(inbox.StatusText().toStdString());
    const mailstore::TImapTraffic first = inbox.Traffic();
    TPollCost cost;
    for (int run = 0; run < std::max(runs, 5) * 4; ++run) {
        const mailstore::TImapTraffic before = inbox.Traffic();
        const int copies = inbox.CopiesWritten();
        const double cpu = ProcessCpuSeconds();
        inbox.PollNow();
        cost.cpu.push_back(ProcessCpuSeconds() - cpu);
        const mailstore::TImapTraffic after = inbox.Traffic();
        if (!inbox.StatusText().isEmpty() || inbox.CopiesWritten() != copies)
            throw std::runtime_error("a steady look failed or wrote the copy");
        cost.requests.push_back(after.commands - before.commands);
        cost.bytes.push_back(static_cast<double>(after.bytesSent + after.bytesReceived -
                                                 before.bytesSent - before.bytesReceived));
    }
    TJson json;
    json.Add("messages", int64_t{messages})
        .Add("first_ms", firstMs)
        .Add("first_commands", int64_t{first.commands})
        .Add("first_bytes", static_cast<int64_t>(first.bytesSent + first.bytesReceived));
    cost.AddTo(json);
    Print(json);
    return 0;
}

// The fixed-seed calendar as a calendar "On This Computer" of the desktop's
// store, opened by a calendar program first, as a desktop session keeps it.
int Desktop(const QString& folder, int runs) {
    using mailstore::TDesktopKind;
    mailstore::testing::TDesktopStoreServer server;
    if (!server.Usable())
        throw std::runtime_error("evolution-data-server or dbus-daemon is not installed");
    const QString calendar = folder + QStringLiteral("/store/calendar.ics");
    server.AddLocalSource(TDesktopKind::Calendar, QStringLiteral("bench"), QStringLiteral("Bench"));
    QDir().mkpath(server.dir.filePath("data/evolution/calendar/bench"));
    WriteAll(server.dir.filePath("data/evolution/calendar/bench/calendar.ics"), ReadAll(calendar));
    if (!server.Start())
        throw std::runtime_error("evolution-data-server did not start");
    const double openWall = WallSeconds();
    mailstore::testing::TCalendarProgram holder(TDesktopKind::Calendar, QStringLiteral("bench"));
    const double openMs = (WallSeconds() - openWall) * 1e3;
    const mailstore::TDesktopSelection bench{true, {QStringLiteral("Bench")}};

    std::vector<double> fileMs, fileCpuMs, storeMs, storeCpuMs;
    size_t events = 0;
    for (int run = 0; run < runs; ++run) {
        double wall = WallSeconds();
        double cpu = ProcessCpuSeconds();
        {
            mailstore::TIcsSource file(calendar, QStringLiteral("calendar"), 0);
            events = file.Contents()->appointments.size();
        }
        fileMs.push_back((WallSeconds() - wall) * 1e3);
        fileCpuMs.push_back((ProcessCpuSeconds() - cpu) * 1e3);
        QTemporaryDir cache;
        wall = WallSeconds();
        cpu = ProcessCpuSeconds();
        {
            mailstore::TDesktopSource source(std::make_shared<mailstore::TDesktopStore>(),
                                             TDesktopKind::Calendar, bench,
                                             QStringLiteral("calendar"), cache.path(), 60);
            if (source.Contents()->appointments.size() != events || !source.Problem().isEmpty())
                throw std::runtime_error("the store's copy differs: " +
                                         source.Problem().toStdString());
        }
        storeMs.push_back((WallSeconds() - wall) * 1e3);
        storeCpuMs.push_back((ProcessCpuSeconds() - cpu) * 1e3);
    }

    QTemporaryDir cache;
    mailstore::TDesktopSource source(std::make_shared<mailstore::TDesktopStore>(),
                                     TDesktopKind::Calendar, bench, QStringLiteral("calendar"),
                                     cache.path(), 60);
    source.Contents();
    std::vector<double> cycleCpuMs;
    const int64_t written = WrittenBytes();
    for (int cycle = 0; cycle < std::max(runs, 5) * 40; ++cycle) {
        const double cpu = ProcessCpuSeconds();
        source.Contents();
        cycleCpuMs.push_back((ProcessCpuSeconds() - cpu) * 1e3);
    }
    if (source.ReadCount() != 1)
        throw std::runtime_error("a steady cycle read the calendar again");
    TJson json;
    json.Add("events", static_cast<int64_t>(events))
        .Add("store_open_ms", openMs)
        .Add("file_ms", Median(fileMs))
        .Add("file_cpu_ms", Median(fileCpuMs))
        .Add("store_ms", Median(storeMs))
        .Add("store_cpu_ms", Median(storeCpuMs))
        .Add("ratio", Median(storeMs) / Median(fileMs))
        .Add("cycle_cpu_ms", Median(cycleCpuMs))
        .Add("cycle_bytes", WrittenBytes() - written);
    Print(json);
    return 0;
}

} // namespace

} // namespace rp::bench

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: %s caldav|subscription|imap|desktop FOLDER [runs] [items]\n",
                     argv[0]);
        return 2;
    }
    const QString command = args.at(1);
    const QString folder = QDir(args.at(2)).absolutePath();
    const int runs = args.size() > 3 && args.at(3).toInt() > 0 ? args.at(3).toInt() : 5;
    using namespace rp::bench;
    try {
        if (command == QLatin1String("caldav"))
            return CalDav(folder, runs, args.size() > 4 ? args.at(4).toInt() : 1000);
        if (command == QLatin1String("subscription"))
            return Subscription(folder, runs);
        if (command == QLatin1String("imap"))
            return Imap(folder, runs);
        if (command == QLatin1String("desktop"))
            return Desktop(folder, runs);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(command), error.what());
        return 1;
    }
    std::fprintf(stderr, "unknown command %s\n", qPrintable(command));
    return 2;
}
