// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/TaskRecurrence.h"

#include "engine/OutlookModel.h"
#include "platform/calendar/IcalTime.h"
#include "platform/calendar/SourceCache.h"
#include "platform/common/Files.h"

#include <QRegularExpression>
#include <functional>
#include <libical/ical.h>
#include <vector>

namespace rp::mailstore {

using outlook::EAutomationError;

namespace {

// The next occurrence lies behind the anchor and the excluded dates; a rule that
// never gets past them (a start before 1902, say) must not walk on for ever.
constexpr int kMaxOccurrencesTried = 1000;

struct TComponentDeleter {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};

// The new values of the task's recurrence properties, as iCalendar value texts.
struct TTaskShift {
    std::optional<QByteArray> dtstart;
    std::optional<QByteArray> due;
    std::optional<int> count;
};

icalcomponent* FindTask(icalcomponent* component, int ordinal, int& seen) {
    const icalcomponent_kind kind = icalcomponent_isa(component);
    if (kind == ICAL_VTODO_COMPONENT)
        return seen++ == ordinal ? component : nullptr;
    if (kind != ICAL_VCALENDAR_COMPONENT && kind != ICAL_XROOT_COMPONENT)
        return nullptr;
    for (icalcomponent* child = icalcomponent_get_first_component(component, ICAL_ANY_COMPONENT);
         child; child = icalcomponent_get_next_component(component, ICAL_ANY_COMPONENT))
        if (icalcomponent* found = FindTask(child, ordinal, seen))
            return found;
    return nullptr;
}

QByteArray ValueText(const icaltimetype& time) {
    char* text = icaltime_as_ical_string_r(time);
    QByteArray result(text);
    icalmemory_free_buffer(text);
    return result;
}

// Wall-clock seconds, the same for every zone: shifts keep the time of day.
time_t WallSeconds(const icaltimetype& time) {
    icaltimetype wall = time;
    wall.zone = nullptr;
    return icaltime_as_timet(wall);
}

bool IsExcluded(icalcomponent* task, const icaltimetype& when) {
    for (icalproperty* exdate = icalcomponent_get_first_property(task, ICAL_EXDATE_PROPERTY);
         exdate; exdate = icalcomponent_get_next_property(task, ICAL_EXDATE_PROPERTY)) {
        const icaltimetype excluded = icalproperty_get_exdate(exdate);
        if (excluded.is_date ? icaltime_compare_date_only(excluded, when) == 0
                             : WallSeconds(excluded) == WallSeconds(when))
            return true;
    }
    return false;
}

std::optional<icaltimetype> NextOccurrence(icalcomponent* task, const icalrecurrencetype& rule,
                                           const icaltimetype& anchor) {
    icalrecur_iterator* iterator = icalrecur_iterator_new(rule, anchor);
    if (!iterator)
        return std::nullopt;
    std::optional<icaltimetype> result;
    int tried = 0;
    for (icaltimetype next = icalrecur_iterator_next(iterator);
         !icaltime_is_null_time(next) && tried < kMaxOccurrencesTried;
         next = icalrecur_iterator_next(iterator), ++tried) {
        next.zone = anchor.zone;
        if (WallSeconds(next) > WallSeconds(anchor) && !IsExcluded(task, next)) {
            result = next;
            break;
        }
    }
    icalrecur_iterator_free(iterator);
    return result;
}

icaltimetype Shifted(icaltimetype time, time_t seconds) {
    if (time.is_date)
        icaltime_adjust(&time, static_cast<int>(seconds / 86400), 0, 0, 0);
    else
        icaltime_adjust(&time, 0, 0, 0, static_cast<int>(seconds));
    return time;
}

std::optional<TTaskShift> ShiftOf(icalcomponent* task) {
    icalproperty* rrule = icalcomponent_get_first_property(task, ICAL_RRULE_PROPERTY);
    if (!rrule)
        return std::nullopt;
    const icalrecurrencetype rule = icalproperty_get_rrule(rrule);
    icalcomponent* calendar = CalendarOf(task);
    const std::optional<icaltimetype> start = PropertyTime(task, ICAL_DTSTART_PROPERTY, calendar);
    const std::optional<icaltimetype> due = PropertyTime(task, ICAL_DUE_PROPERTY, calendar);
    // A task without a start recurs from its due date.
    const std::optional<icaltimetype> anchor = start ? start : due;
    if (!anchor || rule.freq == ICAL_NO_RECURRENCE)
        return std::nullopt;
    const std::optional<icaltimetype> next = NextOccurrence(task, rule, *anchor);
    if (!next)
        return std::nullopt;
    const time_t delta = WallSeconds(*next) - WallSeconds(*anchor);
    TTaskShift shift;
    if (start)
        shift.dtstart = ValueText(Shifted(*start, delta));
    if (due)
        shift.due = ValueText(Shifted(*due, delta));
    // COUNT counted from the old start: one occurrence is now behind the task.
    if (rule.count > 0)
        shift.count = rule.count - 1;
    return shift;
}

// One content line of the file, with its folded continuation lines.
struct TContentLine {
    qsizetype begin = 0;
    qsizetype end = 0; // past the line break of the last physical line
    QByteArray unfolded;
};

std::vector<TContentLine> ContentLines(const QByteArray& text) {
    std::vector<TContentLine> lines;
    qsizetype position = 0;
    while (position < text.size()) {
        qsizetype lineEnd = text.indexOf('\n', position);
        lineEnd = lineEnd < 0 ? text.size() : lineEnd + 1;
        QByteArray physical = text.mid(position, lineEnd - position);
        while (physical.endsWith('\n') || physical.endsWith('\r'))
            physical.chop(1);
        const bool continuation =
            !lines.empty() && (physical.startsWith(' ') || physical.startsWith('\t'));
        if (continuation) {
            lines.back().unfolded += physical.mid(1);
            lines.back().end = lineEnd;
        } else {
            lines.push_back({position, lineEnd, physical});
        }
        position = lineEnd;
    }
    return lines;
}

QByteArray PropertyName(const QByteArray& line) {
    qsizetype cut = 0;
    while (cut < line.size() && line[cut] != ';' && line[cut] != ':')
        ++cut;
    return line.left(cut).trimmed().toUpper();
}

// Where the value starts: after the first colon outside a quoted parameter.
qsizetype ValueStart(const QByteArray& line) {
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted)
            return i + 1;
    }
    return -1;
}

std::optional<QByteArray> NewValue(const QByteArray& name, const QByteArray& value,
                                   const TTaskShift& shift) {
    if (name == "DTSTART")
        return shift.dtstart;
    if (name == "DUE")
        return shift.due;
    if (name == "RRULE" && shift.count) {
        QString rule = QString::fromUtf8(value);
        static const QRegularExpression count(QStringLiteral("(^|;)COUNT=\\d+"),
                                              QRegularExpression::CaseInsensitiveOption);
        rule.replace(count, QStringLiteral("\\1COUNT=%1").arg(*shift.count));
        return rule.toUtf8();
    }
    return std::nullopt;
}

QByteArray LineBreakOf(const QByteArray& text) {
    const qsizetype firstBreak = text.indexOf('\n');
    return firstBreak > 0 && text[firstBreak - 1] == '\r' ? QByteArrayLiteral("\r\n")
                                                          : QByteArrayLiteral("\n");
}

bool IsMarker(const QByteArray& line, const char* marker) {
    return line.trimmed().toUpper() == marker;
}

// The text with the target task's properties replaced; everything else as it was.
QByteArray RewrittenText(const QByteArray& text, int ordinal, const TTaskShift& shift) {
    const QByteArray lineBreak = LineBreakOf(text);
    QByteArray result;
    int seen = 0;
    int depth = -1; // -1 outside the target task, 0 on its own properties
    qsizetype copied = 0;
    for (const TContentLine& line : ContentLines(text)) {
        if (depth < 0) {
            if (IsMarker(line.unfolded, "BEGIN:VTODO") && seen++ == ordinal)
                depth = 0;
            continue;
        }
        const QByteArray name = PropertyName(line.unfolded);
        if (name == "BEGIN")
            ++depth;
        else if (name == "END")
            --depth;
        const qsizetype valueStart = ValueStart(line.unfolded);
        if (depth != 0 || valueStart < 0)
            continue;
        const std::optional<QByteArray> value =
            NewValue(name, line.unfolded.mid(valueStart), shift);
        if (!value)
            continue;
        result += text.mid(copied, line.begin - copied);
        result += line.unfolded.left(valueStart) + *value + lineBreak;
        copied = line.end;
    }
    result += text.mid(copied);
    return result;
}

[[noreturn]] void TaskMoved(const TTaskOrigin& origin) {
    throw EAutomationError(QStringLiteral("The task is no longer where it was in \"%1\"; it "
                                          "changed on disk and will be read again.")
                               .arg(origin.filePath));
}

// The text the task was read from, and a way to put the changed text back.
struct TTaskDocument {
    QByteArray text;
    std::function<void(const QByteArray&)> replace;
};

TTaskDocument DocumentOf(const TTaskOrigin& origin) {
    if (origin.cache) {
        // Only the engine's thread changes the copy: nothing can come between.
        const std::shared_ptr<TSourceCache> cache = origin.cache;
        return {cache->Text(origin.filePath),
                [cache, key = origin.filePath](const QByteArray& text) {
                    cache->ChangeHere(key, text);
                    cache->Save();
                }};
    }
    const TFileStamp before = StampOf(origin.filePath);
    return {ReadWholeFile(origin.filePath, QStringLiteral("task file")),
            [before, origin](const QByteArray& text) {
                if (StampOf(origin.filePath) != before)
                    TaskMoved(origin);
                ReplaceFileAtomically(origin.filePath, text);
            }};
}

} // namespace

bool HasNextOccurrence(icalcomponent* task) {
    return ShiftOf(task).has_value();
}

std::optional<QByteArray> MovedTaskText(const QByteArray& text, const TTaskOrigin& origin) {
    std::unique_ptr<icalcomponent, TComponentDeleter> root(
        icalparser_parse_string(text.constData()));
    int seen = 0;
    icalcomponent* task = root ? FindTask(root.get(), origin.ordinal, seen) : nullptr;
    if (!task ||
        QByteArray(icalcomponent_get_uid(task) ? icalcomponent_get_uid(task) : "") != origin.uid)
        TaskMoved(origin);
    const std::optional<TTaskShift> shift = ShiftOf(task);
    if (!shift)
        return std::nullopt;
    return RewrittenText(text, origin.ordinal, *shift);
}

std::optional<TTaskRecord> SkipTaskToNextOccurrence(const TTaskOrigin& origin) {
    const TTaskDocument document = DocumentOf(origin);
    const std::optional<QByteArray> rewritten = MovedTaskText(document.text, origin);
    if (!rewritten)
        return std::nullopt;
    document.replace(*rewritten);
    TIcsContents contents;
    ParseIcsText(*rewritten, origin.filePath, contents, origin.cache);
    if (origin.ordinal >= static_cast<int>(contents.tasks.size()))
        TaskMoved(origin);
    return *contents.tasks[static_cast<size_t>(origin.ordinal)];
}

} // namespace rp::mailstore
