// SPDX-License-Identifier: GPL-3.0-or-later
// Recurring meetings read from calendar files against libical's own expansion of
// the same file: generated rules (daily and weekly with weekdays, monthly on a day,
// intervals, counts, end dates, deleted and moved occurrences) in several zones,
// with the process in several zones, at reference times around clock changes.
// The occurrence the scan picks must be the one libical expands onto the scan's
// days. RINGPOST_RECURRENCE_CASES (per process zone) and RINGPOST_RECURRENCE_SEED
// make a longer exploring run.

#include "engine/Occurrence.h"
#include "platform/calendar/IcsRecords.h"
#include "platform/mailstore/MailStoreItems.h"
#include "tests/platform/MailStoreTestSupport.h"

#include <QTimeZone>
#include <algorithm>
#include <libical/ical.h>
#include <optional>
#include <random>
#include <sstream>

using namespace rp;
using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

const char* const kCustomZone = "BEGIN:VTIMEZONE\r\n"
                                "TZID:Custom/Harbour\r\n"
                                "BEGIN:STANDARD\r\n"
                                "DTSTART:19700405T030000\r\n"
                                "RRULE:FREQ=YEARLY;BYMONTH=4;BYDAY=1SU\r\n"
                                "TZOFFSETFROM:+1030\r\n"
                                "TZOFFSETTO:+0930\r\n"
                                "END:STANDARD\r\n"
                                "BEGIN:DAYLIGHT\r\n"
                                "DTSTART:19701004T020000\r\n"
                                "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=1SU\r\n"
                                "TZOFFSETFROM:+0930\r\n"
                                "TZOFFSETTO:+1030\r\n"
                                "END:DAYLIGHT\r\n"
                                "END:VTIMEZONE\r\n";

// How a rule's times are written: in UTC, with a zone, or floating.
const char* const kRuleZones[] = {
    "UTC", "America/New_York", "Europe/Berlin", "Australia/Sydney", "Custom/Harbour", ""};
const char* const kProcessZones[] = {"America/New_York", "Europe/Berlin", "Australia/Sydney",
                                     "UTC"};

// Clock changes of 2026 and 2027 in the zones above.
const QDate kChangeovers[] = {
    {2026, 3, 8},  {2026, 11, 1}, {2026, 3, 29}, {2026, 10, 25}, {2026, 4, 5}, {2026, 10, 4},
    {2027, 3, 14}, {2027, 11, 7}, {2027, 3, 28}, {2027, 10, 31}, {2027, 4, 4}, {2027, 10, 3},
};

icaltimezone* ZoneNamed(const QByteArray& name, icalcomponent* calendar) {
    if (name == "UTC")
        return icaltimezone_get_utc_timezone();
    if (name.isEmpty())
        return nullptr;
    if (icaltimezone* own = icalcomponent_get_timezone(calendar, name.constData()))
        return own;
    return icaltimezone_get_builtin_timezone(name.constData());
}

TDateTime LocalOf(const icaltimetype& time) {
    if (!time.zone)
        return EncodeDateTime(time.year, time.month, time.day, time.hour, time.minute, time.second);
    const time_t seconds = icaltime_as_timet_with_zone(time, time.zone);
    return FromQDateTime(QDateTime::fromSecsSinceEpoch(static_cast<qint64>(seconds)));
}

bool SameWallTime(const icaltimetype& a, const icaltimetype& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
           a.minute == b.minute && a.second == b.second;
}

struct TInstance {
    TDateTime start = 0;
    QByteArray subject;
};

// Seconds of a wall time's fields, for ordering and moving wall times.
time_t WallSeconds(icaltimetype time) {
    time.zone = nullptr;
    time.is_date = 0;
    return icaltime_as_timet(time);
}

std::vector<icaltimetype> Rdates(icalcomponent* master, icaltimezone* zone) {
    std::vector<icaltimetype> result;
    for (icalproperty* p = icalcomponent_get_first_property(master, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(master, ICAL_RDATE_PROPERTY)) {
        const icaldatetimeperiodtype value = icalproperty_get_rdate(p);
        icaltimetype time = icaltime_is_null_time(value.time) ? value.period.start : value.time;
        if (icaltime_is_utc(time) && zone)
            time = icaltime_convert_to_zone(time, zone);
        result.push_back(time);
    }
    return result;
}

bool IsThisAndFuture(icalcomponent* override) {
    icalproperty* id = icalcomponent_get_first_property(override, ICAL_RECURRENCEID_PROPERTY);
    icalparameter* range = icalproperty_get_first_parameter(id, ICAL_RANGE_PARAMETER);
    return range && icalparameter_get_range(range) == ICAL_RANGE_THISANDFUTURE;
}

bool IsCancelled(icalcomponent* component) {
    icalproperty* status = icalcomponent_get_first_property(component, ICAL_STATUS_PROPERTY);
    return status && icalproperty_get_status(status) == ICAL_STATUS_CANCELLED;
}

// The occurrence of `original` as the overrides have it: moved alone, or with
// every later one by the last "this and future" change before it.
std::optional<TInstance> Instance(const icaltimetype& original, icalcomponent* master,
                                  const std::vector<icalcomponent*>& overrides,
                                  icaltimezone* zone) {
    icalcomponent* single = nullptr;
    icalcomponent* future = nullptr;
    for (icalcomponent* o : overrides) {
        const icaltimetype id = icalcomponent_get_recurrenceid(o);
        if (!IsThisAndFuture(o) && SameWallTime(id, original))
            single = o;
        else if (IsThisAndFuture(o) && WallSeconds(id) <= WallSeconds(original) &&
                 (!future || WallSeconds(icalcomponent_get_recurrenceid(future)) < WallSeconds(id)))
            future = o;
    }
    icalcomponent* applies = single ? single : future;
    if (!applies) {
        icaltimetype start = original;
        start.zone = zone;
        return TInstance{LocalOf(start), icalcomponent_get_summary(master)};
    }
    if (IsCancelled(applies))
        return std::nullopt;
    icaltimetype moved = icalcomponent_get_dtstart(applies);
    if (!single) { // the move of the changed occurrence, in wall time
        moved = original;
        const time_t shift = WallSeconds(icalcomponent_get_dtstart(applies)) -
                             WallSeconds(icalcomponent_get_recurrenceid(applies));
        icaltime_adjust(&moved, 0, 0, 0, static_cast<int>(shift));
    }
    moved.zone = zone;
    return TInstance{LocalOf(moved), icalcomponent_get_summary(applies)};
}

// libical's expansion of the file's one recurring event with its extra dates,
// from the first occurrence to `until` (local), with EXDATE, RECURRENCE-ID and
// RANGE=THISANDFUTURE applied as RFC 5545 has them.
std::vector<TInstance> Expand(const QByteArray& text, const QByteArray& zoneName, TDateTime until) {
    std::vector<TInstance> result;
    icalcomponent* root = icalparser_parse_string(text.constData());
    icalcomponent* master = nullptr;
    std::vector<icalcomponent*> overrides;
    for (icalcomponent* event = icalcomponent_get_first_component(root, ICAL_VEVENT_COMPONENT);
         event; event = icalcomponent_get_next_component(root, ICAL_VEVENT_COMPONENT)) {
        if (icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY))
            overrides.push_back(event);
        else
            master = event;
    }
    icaltimezone* zone = ZoneNamed(zoneName, root);
    icaltimetype start = icalcomponent_get_dtstart(master);
    start.zone = zone;
    const icalrecurrencetype rule =
        icalproperty_get_rrule(icalcomponent_get_first_property(master, ICAL_RRULE_PROPERTY));
    std::vector<icaltimetype> deleted;
    for (icalproperty* p = icalcomponent_get_first_property(master, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(master, ICAL_EXDATE_PROPERTY))
        deleted.push_back(icalproperty_get_exdate(p));
    // Changed occurrences move up to two days: look that far past the end.
    std::vector<icaltimetype> originals = Rdates(master, zone);
    icalrecur_iterator* iterator = icalrecur_iterator_new(rule, start);
    for (icaltimetype next = icalrecur_iterator_next(iterator); !icaltime_is_null_time(next);
         next = icalrecur_iterator_next(iterator)) {
        // Every occurrence has the start's time of day; libical carries a start
        // that a clock change skipped over into every later day.
        next.hour = start.hour;
        next.minute = start.minute;
        next.second = start.second;
        next.zone = zone;
        if (LocalOf(next) > until + 3)
            break;
        originals.push_back(next);
    }
    icalrecur_iterator_free(iterator);
    std::sort(originals.begin(), originals.end(),
              [](const auto& a, const auto& b) { return WallSeconds(a) < WallSeconds(b); });
    originals.erase(std::unique(originals.begin(), originals.end(), SameWallTime), originals.end());
    for (const icaltimetype& original : originals) {
        const auto matches = [&](const icaltimetype& t) { return SameWallTime(t, original); };
        if (std::any_of(deleted.begin(), deleted.end(), matches))
            continue;
        if (const std::optional<TInstance> instance = Instance(original, master, overrides, zone);
            instance && instance->start <= until)
            result.push_back(*instance);
    }
    icalcomponent_free(root);
    return result;
}

// The scan's days: today and tomorrow, for weekly rules the day after too; an
// occurrence more than an hour past no longer counts.
std::optional<TInstance> ScanChoice(const std::vector<TInstance>& instances, TDateTime reference,
                                    bool weekly) {
    const TDateTime last = WholeDay(reference) + (weekly ? 2 : 1);
    std::optional<TInstance> best;
    for (const TInstance& instance : instances)
        if (instance.start >= reference - kOneHour &&
            WholeDay(instance.start) >= WholeDay(reference) && WholeDay(instance.start) <= last &&
            (!best || instance.start < best->start ||
             (instance.start == best->start && instance.subject != "Series")))
            best = instance;
    return best;
}

class TRuleWriter {
public:
    TRuleWriter(std::mt19937& random, QByteArray zone) : random(random), zone(std::move(zone)) {}

    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }

    // A wall time of the rule's zone as DTSTART, EXDATE or RECURRENCE-ID write it.
    QByteArray Property(const char* name, const QDateTime& wall) const {
        const QByteArray text = wall.toString(u"yyyyMMdd'T'HHmmss").toLatin1();
        if (zone == "UTC")
            return QByteArray(name) + ":" + text + "Z\r\n";
        if (zone.isEmpty())
            return QByteArray(name) + ":" + text + "\r\n";
        return QByteArray(name) + ";TZID=" + zone + ":" + text + "\r\n";
    }

    // UNTIL is in UTC for zoned rules and floating for floating ones.
    QByteArray Until(const QDateTime& wall) const {
        if (zone.isEmpty())
            return wall.toString(u"yyyyMMdd'T'HHmmss").toLatin1();
        return Utc(wall);
    }

    QByteArray Utc(const QDateTime& wall) const {
        icaltimetype time = icaltime_null_time();
        time.year = wall.date().year();
        time.month = wall.date().month();
        time.day = wall.date().day();
        time.hour = wall.time().hour();
        time.minute = wall.time().minute();
        time.second = wall.time().second();
        icalcomponent* root = icalparser_parse_string(Calendar("").constData());
        time.zone = ZoneNamed(zone, root);
        const icaltimetype utc = icaltime_convert_to_zone(time, icaltimezone_get_utc_timezone());
        icalcomponent_free(root);
        return QByteArray(icaltime_as_ical_string(utc));
    }

    // An extra date as a start in the rule's zone, in UTC, or as a period.
    QByteArray Rdate(const QDateTime& wall) {
        const int form = Below(3);
        if (form == 1 && !zone.isEmpty())
            return "RDATE:" + Utc(wall) + "\r\n";
        if (form == 2) {
            const QByteArray period = Property("RDATE;VALUE=PERIOD", wall);
            return period.left(period.size() - 2) + "/PT1H\r\n";
        }
        return Property("RDATE", wall);
    }

    static QByteArray Calendar(const QByteArray& events) {
        return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Ringpost//Test//EN\r\n" +
               QByteArray(kCustomZone) + events + "END:VCALENDAR\r\n";
    }

private:
    std::mt19937& random;
    QByteArray zone;
};

const char* const kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

struct TCase {
    QByteArray text;
    QByteArray zone;
    TDateTime reference = 0;
    bool weekly = false;
    std::string description;
};

QByteArray RulePart(TRuleWriter& w, const QDateTime& start, bool& weekly) {
    const int interval = 1 + w.Below(4);
    const int startDay = start.date().dayOfWeek() % 7; // 0 = Sunday
    QByteArray rule;
    const int kind = w.Below(3);
    weekly = kind == 1;
    if (kind == 2)
        return "FREQ=MONTHLY;INTERVAL=" + QByteArray::number(interval) +
               ";BYMONTHDAY=" + QByteArray::number(start.date().day());
    rule = kind == 0 ? "FREQ=DAILY" : "FREQ=WEEKLY";
    rule += ";INTERVAL=" + QByteArray::number(interval);
    if (kind == 1 || w.Below(3) == 0) {
        QByteArray days = kDays[startDay];
        for (int extra = w.Below(3); extra > 0; --extra) {
            const char* day = kDays[w.Below(7)];
            if (!days.contains(day))
                days += QByteArray(",") + day;
        }
        rule += ";BYDAY=" + days;
    }
    // Weeks from Sunday or Monday, as calendar programs write them. libical 3.0
    // counts weeks from some later days wrongly (it drops the start itself).
    if (weekly && w.Below(2) == 0)
        rule += w.Below(2) == 0 ? ";WKST=SU" : ";WKST=MO";
    return rule;
}

TCase MakeCase(std::mt19937& random) {
    TCase c;
    c.zone = kRuleZones[std::uniform_int_distribution<int>(0, 5)(random)];
    TRuleWriter w(random, c.zone);
    const bool nearChangeover = w.Below(2) == 0;
    const QDate around = nearChangeover ? kChangeovers[w.Below(12)].addDays(w.Below(3) - 1)
                                        : QDate(2026, 1, 1).addDays(w.Below(700));
    QDate startDay = around.addDays(-w.Below(90));
    if (w.Below(4) == 0) // the days that months lack
        startDay = QDate(startDay.year(), startDay.month(), 1).addDays(27 + w.Below(4));
    const QDateTime start(startDay, QTime(w.Below(24), 15 * w.Below(4)), Qt::UTC);
    QByteArray rule = RulePart(w, start, c.weekly);
    const int end = w.Below(10);
    if (end < 3)
        rule += ";COUNT=" + QByteArray::number(1 + w.Below(40));
    else if (end < 6)
        rule += ";UNTIL=" + w.Until(start.addDays(w.Below(120)).addSecs(3600 * (w.Below(5) - 2)));

    QByteArray master = "BEGIN:VEVENT\r\nUID:series\r\nDTSTAMP:20260101T000000Z\r\n" +
                        w.Property("DTSTART", start) + "RRULE:" + rule +
                        "\r\nSUMMARY:Series\r\nLOCATION:Room 4\r\n";
    const QByteArray plain = w.Calendar(master + "END:VEVENT\r\n");
    const std::vector<TInstance> all =
        Expand(plain, c.zone, EncodeDate(around.year(), around.month(), around.day()) + 30);
    // Deleted and moved occurrences among the first ones the rule has.
    QByteArray overrides;
    icalcomponent* root = icalparser_parse_string(plain.constData());
    icalcomponent* event = icalcomponent_get_first_component(root, ICAL_VEVENT_COMPONENT);
    icaltimetype first = icalcomponent_get_dtstart(event);
    icalrecur_iterator* iterator = icalrecur_iterator_new(
        icalproperty_get_rrule(icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY)),
        first);
    std::vector<QDateTime> walls;
    for (icaltimetype next = icalrecur_iterator_next(iterator);
         !icaltime_is_null_time(next) && walls.size() < 120;
         next = icalrecur_iterator_next(iterator))
        walls.emplace_back(QDate(next.year, next.month, next.day),
                           QTime(next.hour, next.minute, next.second), Qt::UTC);
    icalrecur_iterator_free(iterator);
    icalcomponent_free(root);
    // Each occurrence deleted or moved at most once, as calendar programs write them.
    std::shuffle(walls.begin(), walls.end(), random);
    size_t used = 0;
    const auto pick = [&]() { return walls[used++]; };
    for (int n = w.Below(3); n > 0 && used < walls.size(); --n)
        master += w.Property("EXDATE", pick());
    // Extra dates near the reference day, some deleted again.
    for (int n = w.Below(3) == 0 ? 1 + w.Below(2) : 0; n > 0; --n) {
        const QDateTime extra(around.addDays(w.Below(7) - 3), QTime(w.Below(24), 15 * w.Below(4)),
                              Qt::UTC);
        master += w.Rdate(extra);
        if (w.Below(4) == 0)
            master += w.Property("EXDATE", extra);
    }
    QByteArray others;
    for (int n = w.Below(3); n > 0 && used < walls.size(); --n) {
        const QDateTime original = pick();
        static const int kMoves[] = {3600, -3600, 86400, -86400, 9000, 2 * 86400};
        others += "BEGIN:VEVENT\r\nUID:series\r\nDTSTAMP:20260101T000000Z\r\n" +
                  w.Property("RECURRENCE-ID", original) +
                  w.Property("DTSTART", original.addSecs(kMoves[w.Below(6)])) +
                  (w.Below(4) == 0 ? "STATUS:CANCELLED\r\n" : "") +
                  "SUMMARY:Moved\r\nLOCATION:Room 9\r\nEND:VEVENT\r\n";
    }
    // This and every later occurrence moved. A monthly rule on a day that months
    // lack cannot be moved by whole days as a pattern; those are left unmoved.
    const bool dayMovesHold = !rule.startsWith("FREQ=MONTHLY") || start.date().day() <= 28;
    for (int n = w.Below(4) == 0 ? 1 + w.Below(2) : 0; n > 0 && used < walls.size(); --n) {
        static const int kFutureMoves[] = {3600, -5400, 86400, -86400, 0, 2 * 86400};
        const int move = dayMovesHold ? kFutureMoves[w.Below(6)] : 0;
        const QDateTime original = pick();
        others += "BEGIN:VEVENT\r\nUID:series\r\nDTSTAMP:20260101T000000Z\r\n" +
                  w.Property("RECURRENCE-ID;RANGE=THISANDFUTURE", original) +
                  w.Property("DTSTART", original.addSecs(move)) +
                  (w.Below(6) == 0 ? "STATUS:CANCELLED\r\n" : "") +
                  "SUMMARY:Future\r\nLOCATION:Room 7\r\nEND:VEVENT\r\n";
    }
    c.text = w.Calendar(master + "END:VEVENT\r\n" + others);

    // Mostly shortly before an occurrence, else anywhere near the chosen day.
    const TDateTime minute = kOneMinute;
    if (!all.empty() && w.Below(3) != 0) {
        const TInstance& target =
            all[static_cast<size_t>(w.Below(int(std::min<size_t>(all.size(), 200))))];
        c.reference = target.start - w.Below(60 * 60) * minute + 61 * minute;
    } else {
        c.reference =
            EncodeDate(around.year(), around.month(), around.day()) + w.Below(24 * 60) * minute;
    }
    c.description = c.text.toStdString();
    return c;
}

int EnvCount(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

std::string Text(TDateTime value) {
    return ToQDateTime(value).toString(Qt::ISODate).toStdString();
}

// What the scan records of the items one file gives: the earliest occurrence
// any of them has near the reference. Each item's occurrence must be one the
// file has; `phantom` names one that is not.
struct TScanned {
    TDateTime start = 0;
    QByteArray subject;
    std::string phantom;
};

TScanned Scan(const TIcsContents& contents, TDateTime reference,
              const std::vector<TInstance>& instances) {
    TScanned result;
    for (const auto& record : contents.appointments) {
        const auto item = MakeAppointment(record);
        TOccurrence got = NearOccurrence(*item->GetRecurrencePattern(), reference);
        if (!item->IsRecurring()) // the scan's bounds for a single appointment
            got.start = item->Start() >= reference - kOneHour && item->Start() <= reference + 2
                            ? item->Start()
                            : 0;
        if (got.start == 0)
            continue;
        const QByteArray subject =
            (got.changed ? got.changed->Subject() : item->Subject()).toUtf8();
        const bool real = std::any_of(instances.begin(), instances.end(), [&](const auto& i) {
            return std::abs(i.start - got.start) < 1.0 / 86400 && i.subject == subject;
        });
        if (!real)
            result.phantom = Text(got.start) + " " + subject.toStdString();
        const bool tie = std::abs(got.start - result.start) < 1.0 / 86400;
        if (result.start == 0 || (!tie && got.start < result.start) || (tie && subject != "Series"))
            result = {got.start, subject, result.phantom};
    }
    return result;
}

TEST(RecurrenceExpansionTest, ScanPicksTheOccurrenceLibicalExpands) {
    const int cases = EnvCount("RINGPOST_RECURRENCE_CASES", 400);
    const auto seed = static_cast<unsigned>(EnvCount("RINGPOST_RECURRENCE_SEED", 20261208));
    int found = 0;
    int failures = 0;
    for (const char* processZone : kProcessZones) {
        TScopedTimeZone local(processZone);
        std::mt19937 random(seed);
        for (int i = 0; i < cases && failures < 10; ++i) {
            const TCase c = MakeCase(random);
            TIcsContents contents;
            ASSERT_TRUE(ParseIcsText(c.text, QStringLiteral("generated.ics"), contents));
            const std::vector<TInstance> instances = Expand(c.text, c.zone, c.reference + 4);
            const TScanned got = Scan(contents, c.reference, instances);
            const std::optional<TInstance> want = ScanChoice(instances, c.reference, c.weekly);
            const QByteArray& subject = got.subject;
            const bool same =
                got.phantom.empty() &&
                (want ? std::abs(got.start - want->start) < 1.0 / 86400 && subject == want->subject
                      : got.start == 0);
            found += want ? 1 : 0;
            if (!same) {
                ++failures;
                ADD_FAILURE() << "process zone " << processZone << ", reference "
                              << Text(c.reference) << ": scan " << Text(got.start) << " "
                              << subject.toStdString() << " " << got.phantom << ", libical "
                              << (want ? Text(want->start) + " " + want->subject.toStdString()
                                       : std::string("none"))
                              << "\n"
                              << c.description;
            }
        }
    }
    // The generator must mostly land near occurrences, or the comparison says little.
    EXPECT_GT(found, cases);
}

} // namespace

namespace {

// The examples of RFC 5545 (3.8.5.3) that daily, weekly and monthly patterns hold,
// scanned every five hours over their run from Sydney, whose clock changes fall
// elsewhere in the year than New York's.
TEST(RecurrenceExpansionTest, Rfc5545ExamplesMatchLibicalAtEveryScan) {
    TScopedTimeZone sydney("Australia/Sydney");
    struct Example {
        const char* start;
        const char* rule;
    };
    const Example examples[] = {
        {"19970902T090000", "FREQ=DAILY;COUNT=10"},
        {"19970902T090000", "FREQ=DAILY;UNTIL=19971224T000000Z"},
        {"19970902T090000", "FREQ=DAILY;INTERVAL=2"},
        {"19970902T090000", "FREQ=DAILY;INTERVAL=10;COUNT=5"},
        {"19970902T090000", "FREQ=WEEKLY;COUNT=10"},
        {"19970902T090000", "FREQ=WEEKLY;UNTIL=19971224T000000Z"},
        {"19970902T090000", "FREQ=WEEKLY;INTERVAL=2;WKST=SU"},
        {"19970902T090000", "FREQ=WEEKLY;UNTIL=19971007T000000Z;WKST=SU;BYDAY=TU,TH"},
        {"19970902T090000", "FREQ=WEEKLY;COUNT=10;WKST=SU;BYDAY=TU,TH"},
        {"19970901T090000", "FREQ=WEEKLY;INTERVAL=2;UNTIL=19971224T000000Z;WKST=SU;BYDAY=MO,WE,FR"},
        {"19970902T090000", "FREQ=WEEKLY;INTERVAL=2;COUNT=8;WKST=SU;BYDAY=TU,TH"},
        {"19970805T090000", "FREQ=WEEKLY;INTERVAL=2;COUNT=4;BYDAY=TU,SU;WKST=MO"},
        {"19970805T090000", "FREQ=WEEKLY;INTERVAL=2;COUNT=4;BYDAY=TU,SU;WKST=SU"},
    };
    for (const Example& example : examples) {
        const QByteArray text = TRuleWriter::Calendar(
            QByteArray("BEGIN:VEVENT\r\nUID:rfc\r\nDTSTAMP:19970901T000000Z\r\n"
                       "DTSTART;TZID=America/New_York:") +
            example.start + "\r\nRRULE:" + example.rule + "\r\nSUMMARY:Example\r\nEND:VEVENT\r\n");
        TIcsContents contents;
        ASSERT_TRUE(ParseIcsText(text, QStringLiteral("rfc.ics"), contents));
        const bool weekly = QByteArray(example.rule).startsWith("FREQ=WEEKLY");
        const TDateTime first = EncodeDate(1997, 8, 1);
        int met = 0;
        for (TDateTime reference = first; reference < first + 150; reference += 5 * kOneHour) {
            const std::vector<TInstance> instances =
                Expand(text, "America/New_York", reference + 4);
            const std::optional<TInstance> want = ScanChoice(instances, reference, weekly);
            const TScanned got = Scan(contents, reference, instances);
            met += want ? 1 : 0;
            EXPECT_NEAR(got.start, want ? want->start : 0, 1.0 / 86400)
                << example.rule << " at " << Text(reference) << " " << got.phantom;
        }
        EXPECT_GT(met, 0) << example.rule;
    }
}

} // namespace
