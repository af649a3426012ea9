// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/StoreGenerator.h"

#include <QDir>
#include <QFile>
#include <array>
#include <stdexcept>

namespace rp::bench {

uint32_t TRandom::Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

namespace {

constexpr int kSpanDays = 1826; // five years
const std::array<const char*, 12> kWords{"budget",  "review",   "planning",  "design",
                                         "status",  "customer", "quarterly", "hiring",
                                         "roadmap", "launch",   "training",  "support"};
const std::array<const char*, 6> kRooms{"Room 101", "Board room",          "Cafeteria",
                                        "Online",   "Building B, floor 3", ""};
const std::array<const char*, 7> kDayNames{"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
const std::array<int, 6> kAlarmMinutes{5, 10, 15, 30, 60, 1440};

// Two zones with their own rules, as a calendar program exports them.
const char* const kTimeZones = "BEGIN:VTIMEZONE\r\n"
                               "TZID:America/New_York\r\n"
                               "BEGIN:DAYLIGHT\r\n"
                               "TZOFFSETFROM:-0500\r\nTZOFFSETTO:-0400\r\nTZNAME:EDT\r\n"
                               "DTSTART:19700308T020000\r\n"
                               "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\r\n"
                               "END:DAYLIGHT\r\n"
                               "BEGIN:STANDARD\r\n"
                               "TZOFFSETFROM:-0400\r\nTZOFFSETTO:-0500\r\nTZNAME:EST\r\n"
                               "DTSTART:19701101T020000\r\n"
                               "RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\r\n"
                               "END:STANDARD\r\n"
                               "END:VTIMEZONE\r\n"
                               "BEGIN:VTIMEZONE\r\n"
                               "TZID:Europe/Berlin\r\n"
                               "BEGIN:DAYLIGHT\r\n"
                               "TZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\nTZNAME:CEST\r\n"
                               "DTSTART:19700329T020000\r\n"
                               "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\n"
                               "END:DAYLIGHT\r\n"
                               "BEGIN:STANDARD\r\n"
                               "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nTZNAME:CET\r\n"
                               "DTSTART:19701025T030000\r\n"
                               "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\n"
                               "END:STANDARD\r\n"
                               "END:VTIMEZONE\r\n";

enum class TTimeForm { AllDay, Zoned, Utc, Floating };

// How an event's times are written.
struct TTimeStyle {
    TTimeForm form = TTimeForm::Floating;
    QByteArray zone;
};

QByteArray Line(const QByteArray& name, const QByteArray& value) {
    return name + ':' + value + "\r\n";
}

QByteArray Word(TRandom& random) {
    return kWords[static_cast<size_t>(random.Below(static_cast<int>(kWords.size())))];
}

QByteArray Sentence(TRandom& random, int words) {
    QByteArray text;
    for (int i = 0; i < words; ++i)
        text += (i ? " " : "") + Word(random);
    return text;
}

QByteArray DateText(const QDate& date) {
    return date.toString(QStringLiteral("yyyyMMdd")).toLatin1();
}

QByteArray DateTimeText(const QDateTime& time, bool utc) {
    return time.toString(QStringLiteral("yyyyMMdd'T'HHmmss")).toLatin1() + (utc ? "Z" : "");
}

QDate DayAround(TRandom& random, const QDate& centre) {
    return centre.addDays(random.Below(kSpanDays) - kSpanDays / 2);
}

TTimeStyle PickStyle(TRandom& random, TStoreCounts& counts) {
    const int roll = random.Below(100);
    if (roll < 10) {
        ++counts.allDayEvents;
        return {TTimeForm::AllDay, {}};
    }
    if (roll < 43) {
        ++counts.zonedEvents;
        return {TTimeForm::Zoned, random.Below(2) ? "America/New_York" : "Europe/Berlin"};
    }
    if (roll < 71) {
        ++counts.utcEvents;
        return {TTimeForm::Utc, {}};
    }
    ++counts.floatingEvents;
    return {TTimeForm::Floating, {}};
}

// A DTSTART-like property in the event's own form.
QByteArray TimeProperty(const QByteArray& name, const TTimeStyle& style, const QDateTime& time) {
    switch (style.form) {
    case TTimeForm::AllDay:
        return name + ";VALUE=DATE:" + DateText(time.date()) + "\r\n";
    case TTimeForm::Zoned:
        return name + ";TZID=" + style.zone + ':' + DateTimeText(time, false) + "\r\n";
    case TTimeForm::Utc:
        return Line(name, DateTimeText(time, true));
    case TTimeForm::Floating:
        break;
    }
    return Line(name, DateTimeText(time, false));
}

// UNTIL is UTC for zoned and UTC starts, a date for all-day ones.
QByteArray UntilText(const TTimeStyle& style, const QDateTime& until) {
    if (style.form == TTimeForm::AllDay)
        return DateText(until.date());
    return DateTimeText(until, style.form != TTimeForm::Floating);
}

struct TRule {
    QByteArray text;
    int stepDays = 0;   // daily and weekly rules: days between occurrences
    int stepMonths = 0; // monthly rules
};

TRule PickFrequency(TRandom& random, const QDate& start) {
    const int interval = 1 + random.Below(2);
    const QByteArray every = ";INTERVAL=" + QByteArray::number(interval);
    switch (random.Below(3)) {
    case 0:
        return {"FREQ=DAILY" + every, interval, 0};
    case 1: {
        QByteArray days = kDayNames[static_cast<size_t>(start.dayOfWeek() % 7)];
        if (random.Percent(40))
            days += QByteArray(",") + kDayNames[static_cast<size_t>((start.dayOfWeek() + 2) % 7)];
        return {"FREQ=WEEKLY" + every + ";BYDAY=" + days, 7 * interval, 0};
    }
    default:
        return {"FREQ=MONTHLY" + every + ";BYMONTHDAY=" + QByteArray::number(start.day()), 0,
                interval};
    }
}

QDateTime Step(const TRule& rule, const QDateTime& start, int times) {
    return rule.stepMonths ? start.addMonths(rule.stepMonths * times)
                           : start.addDays(static_cast<qint64>(rule.stepDays) * times);
}

QByteArray Recurrence(TRandom& random, const TTimeStyle& style, const QDateTime& start,
                      TStoreCounts& counts) {
    const TRule rule = PickFrequency(random, start.date());
    QByteArray text = rule.text;
    switch (random.Below(3)) {
    case 0:
        text += ";COUNT=" + QByteArray::number(5 + random.Below(60));
        break;
    case 1:
        text += ";UNTIL=" + UntilText(style, start.addDays(30 + random.Below(400)));
        break;
    default:
        break; // no end
    }
    QByteArray lines = Line("RRULE", text);
    if (random.Percent(30)) {
        ++counts.eventsWithExdate;
        lines += TimeProperty("EXDATE", style, Step(rule, start, 1 + random.Below(4)));
    }
    return lines;
}

QByteArray Alarm(TRandom& random) {
    const int minutes = kAlarmMinutes[static_cast<size_t>(random.Below(kAlarmMinutes.size()))];
    return "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Reminder\r\n" +
           Line("TRIGGER", "-PT" + QByteArray::number(minutes) + "M") + "END:VALARM\r\n";
}

QByteArray Event(TRandom& random, int index, const QDate& centre, TStoreCounts& counts) {
    const TTimeStyle style = PickStyle(random, counts);
    const QDate day = DayAround(random, centre);
    const QTime time(7 + random.Below(12), 15 * random.Below(4));
    const QDateTime start(day, style.form == TTimeForm::AllDay ? QTime(0, 0) : time);
    const QDateTime end = style.form == TTimeForm::AllDay
                              ? start.addDays(1)
                              : start.addSecs(60 * (30 + 30 * random.Below(4)));
    QByteArray text = "BEGIN:VEVENT\r\n" +
                      Line("UID", "event-" + QByteArray::number(index) + "@bench.ringpost.invalid");
    text += Line("DTSTAMP", "20240101T000000Z");
    text += TimeProperty("DTSTART", style, start) + TimeProperty("DTEND", style, end);
    text += Line("SUMMARY", "Meeting " + Word(random) + ' ' + QByteArray::number(index));
    text += Line("LOCATION", kRooms[static_cast<size_t>(random.Below(kRooms.size()))]);
    if (random.Percent(50))
        text += Line("DESCRIPTION", Sentence(random, 8));
    if (random.Percent(10)) {
        ++counts.recurringEvents;
        text += Recurrence(random, style, start, counts);
    }
    if (random.Percent(60)) {
        ++counts.eventsWithAlarm;
        text += Alarm(random);
    }
    ++counts.events;
    return text + "END:VEVENT\r\n";
}

QByteArray Calendar(const QByteArray& body, bool zones) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Amberfold//Ringpost bench//EN\r\n" +
           QByteArray(zones ? kTimeZones : "") + body + "END:VCALENDAR\r\n";
}

QByteArray TaskDates(TRandom& random, const QDate& centre) {
    const QDate start = DayAround(random, centre);
    const QDate due = start.addDays(random.Below(30));
    switch (random.Below(4)) {
    case 0:
        return Line("DTSTART;VALUE=DATE", DateText(start));
    case 1:
        return Line("DUE", DateTimeText(QDateTime(due, QTime(17, 0)), false));
    case 2:
        return Line("DTSTART;VALUE=DATE", DateText(start)) + Line("DUE;VALUE=DATE", DateText(due));
    default:
        return {}; // neither
    }
}

QByteArray Task(TRandom& random, int index, const QDate& centre, TStoreCounts& counts) {
    QByteArray text = "BEGIN:VTODO\r\n" +
                      Line("UID", "task-" + QByteArray::number(index) + "@bench.ringpost.invalid");
    text += Line("DTSTAMP", "20240101T000000Z");
    text += Line("SUMMARY", "Task " + Word(random) + ' ' + QByteArray::number(index));
    const QByteArray dates = TaskDates(random, centre);
    text += dates;
    text += Line("PRIORITY", QByteArray::number(1 + random.Below(9)));
    if (random.Percent(20)) {
        ++counts.completedTasks;
        text += Line("STATUS", "COMPLETED") + Line("COMPLETED", "20240101T120000Z");
    } else {
        text += Line("STATUS", "NEEDS-ACTION");
    }
    if (!dates.isEmpty() && random.Percent(2)) {
        ++counts.recurringTasks;
        text += Line("RRULE", "FREQ=WEEKLY;COUNT=" + QByteArray::number(4 + random.Below(20)));
    }
    if (!dates.isEmpty() && random.Percent(40)) {
        ++counts.tasksWithReminder;
        text += "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Reminder\r\n"
                "TRIGGER;RELATED=END:-PT1H\r\nEND:VALARM\r\n";
    }
    ++counts.tasks;
    return text + "END:VTODO\r\n";
}

void WriteFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content) != content.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

void MakeFolder(const QString& path) {
    if (!QDir().mkpath(path))
        throw std::runtime_error("cannot create " + path.toStdString());
}

void MakeMaildir(const QString& path) {
    for (const char* sub : {"cur", "new", "tmp"})
        MakeFolder(path + QLatin1Char('/') + QLatin1String(sub));
}

QByteArray Message(TRandom& random, int index, const QDateTime& received, bool urgent) {
    const QByteArray sender = "Colleague " + QByteArray::number(random.Below(200));
    QByteArray text = "From: " + sender + " <colleague" + QByteArray::number(index % 200) +
                      "@example.invalid>\r\n";
    text += "To: User <user@example.invalid>\r\n";
    text += "Subject: About the " + Word(random) + ' ' + QByteArray::number(index) + "\r\n";
    text += "Date: " + received.toString(Qt::RFC2822Date).toLatin1() + "\r\n";
    text += "Message-ID: <" + QByteArray::number(index) + "@bench.ringpost.invalid>\r\n";
    if (urgent)
        text += "Importance: high\r\nX-Priority: 1 (Highest)\r\n";
    text += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n";
    for (int line = 0; line < 5 + random.Below(20); ++line)
        text += Sentence(random, 10) + "\r\n";
    return text;
}

// One in a hundred is unread and urgent; the rest have been read.
void WriteInbox(const QString& inbox, const TStoreShape& shape, TRandom& random,
                TStoreCounts& counts) {
    MakeMaildir(inbox);
    const QDateTime now = ToQDateTime(shape.now);
    for (int index = 0; index < shape.messages; ++index) {
        const bool urgent = index % 100 == 0;
        const QDateTime received = now.addSecs(-random.Below(60 * 86400));
        const QString unique =
            QStringLiteral("%1.M%2P1.bench").arg(received.toSecsSinceEpoch()).arg(index);
        const QString file =
            urgent ? inbox + QStringLiteral("/new/") + unique
                   : inbox + QStringLiteral("/cur/") + unique + QStringLiteral(":2,S");
        WriteFile(file, Message(random, index, received, urgent));
        ++counts.messages;
        counts.urgentUnread += urgent ? 1 : 0;
    }
}

void WriteProfile(const QString& folder) {
    const QByteArray text = "[Calendar]\nPath=" + folder.toUtf8() + "/calendar.ics\n\n" +
                            "[Tasks]\nPath=" + folder.toUtf8() + "/tasks.ics\n\n" +
                            "[Inbox]\nPath=" + folder.toUtf8() + "/Inbox\n\n" +
                            "[Send]\nTransport=outbox\nOutboxPath=" + folder.toUtf8() +
                            "/Outbox\nFrom=ringpost@bench.invalid\n";
    WriteFile(ProfilePath(folder), text);
}

} // namespace

QByteArray GenerateCalendar(const TStoreShape& shape, TStoreCounts& counts) {
    TRandom random(shape.seed);
    const QDate centre = ToQDate(shape.now);
    QByteArray body;
    body.reserve(shape.events * 400);
    for (int index = 0; index < shape.events; ++index)
        body += Event(random, index, centre, counts);
    return Calendar(body, true);
}

QByteArray GenerateTasks(const TStoreShape& shape, TStoreCounts& counts) {
    TRandom random(shape.seed + 1);
    const QDate centre = ToQDate(shape.now);
    QByteArray body;
    for (int index = 0; index < shape.tasks; ++index)
        body += Task(random, index, centre, counts);
    return Calendar(body, false);
}

QString ProfilePath(const QString& folder) {
    return folder + QStringLiteral("/MailStore.ini");
}

TStoreCounts WriteStore(const QString& folder, const TStoreShape& shape) {
    TStoreCounts counts;
    MakeFolder(folder);
    WriteFile(folder + QStringLiteral("/calendar.ics"), GenerateCalendar(shape, counts));
    WriteFile(folder + QStringLiteral("/tasks.ics"), GenerateTasks(shape, counts));
    TRandom random(shape.seed + 2);
    WriteInbox(folder + QStringLiteral("/Inbox"), shape, random, counts);
    MakeMaildir(folder + QStringLiteral("/Outbox"));
    WriteProfile(folder);
    return counts;
}

void WriteEmptyStore(const QString& folder) {
    MakeFolder(folder);
    WriteFile(folder + QStringLiteral("/calendar.ics"), Calendar({}, false));
    WriteFile(folder + QStringLiteral("/tasks.ics"), Calendar({}, false));
    MakeMaildir(folder + QStringLiteral("/Inbox"));
    MakeMaildir(folder + QStringLiteral("/Outbox"));
    WriteProfile(folder);
}

} // namespace rp::bench
