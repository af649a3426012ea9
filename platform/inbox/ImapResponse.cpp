// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/inbox/ImapResponse.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <algorithm>
#include <array>

namespace rp::mailstore {

namespace {

// Deeper nesting than this is no answer to anything the inbox asks.
constexpr int kMaxDepth = 16;
// A literal length has at most this many digits before it is surely too large.
constexpr int kMaxLiteralDigits = 10;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The length of a literal announced at the end of the line `line` ("{12}" or
// "{12+}"), or nullopt when the line ends otherwise.
std::optional<qsizetype> AnnouncedLiteral(QByteArrayView line) {
    if (!line.endsWith('}'))
        return std::nullopt;
    qsizetype open = line.lastIndexOf('{');
    if (open < 0)
        return std::nullopt;
    QByteArrayView digits = line.sliced(open + 1, line.size() - open - 2);
    if (digits.endsWith('+'))
        digits.chop(1);
    if (digits.isEmpty() || digits.size() > kMaxLiteralDigits ||
        !std::all_of(digits.begin(), digits.end(), IsDigit))
        return std::nullopt;
    return static_cast<qsizetype>(digits.toLongLong());
}

std::optional<uint64_t> Number(QByteArrayView text) {
    if (text.isEmpty() || text.size() > 20 || !std::all_of(text.begin(), text.end(), IsDigit))
        return std::nullopt;
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok);
    return ok ? std::optional<uint64_t>(value) : std::nullopt;
}

std::optional<uint32_t> Number32(QByteArrayView text) {
    const std::optional<uint64_t> value = Number(text);
    if (!value || *value > 0xFFFFFFFFu)
        return std::nullopt;
    return static_cast<uint32_t>(*value);
}

bool IsStatusCondition(const QByteArray& word) {
    static const std::array<QByteArray, 5> conditions{"OK", "NO", "BAD", "BYE", "PREAUTH"};
    const QByteArray upper = word.toUpper();
    return std::find(conditions.begin(), conditions.end(), upper) != conditions.end();
}

class TParser {
public:
    explicit TParser(const QByteArray& bytes) : bytes(bytes) {}

    TImapResponse Parse() {
        TImapResponse response;
        response.tag = Word();
        if (response.tag.isEmpty())
            throw EImapProtocol("a response without a tag");
        response.line = FirstLine();
        if (response.tag == "+")
            return response;
        SkipSpaces();
        // The text of a status response is free prose: it is kept, not tokenized.
        const qsizetype before = pos;
        const QByteArray first = Word();
        if (IsStatusCondition(first)) {
            response.values.push_back({TImapValue::TKind::Atom, first.toUpper(), {}});
            return response;
        }
        pos = before;
        while (SkipSpaces(), !AtLineEnd())
            response.values.push_back(Value(0));
        return response;
    }

private:
    bool AtEnd() const { return pos >= bytes.size(); }
    bool AtLineEnd() const { return AtEnd() || bytes[pos] == '\r' || bytes[pos] == '\n'; }

    void SkipSpaces() {
        while (!AtEnd() && bytes[pos] == ' ')
            ++pos;
    }

    QByteArray FirstLine() const {
        qsizetype end = bytes.indexOf('\n');
        if (end < 0)
            end = bytes.size();
        QByteArray line = bytes.left(end);
        if (line.endsWith('\r'))
            line.chop(1);
        return line;
    }

    QByteArray Word() {
        const qsizetype begin = pos;
        while (!AtLineEnd() && bytes[pos] != ' ')
            ++pos;
        return bytes.mid(begin, pos - begin);
    }

    TImapValue Value(int depth) {
        if (depth > kMaxDepth)
            throw EImapProtocol("a response nested too deeply");
        switch (bytes[pos]) {
        case '(':
            return List(depth);
        case '"':
            return Quoted();
        case '{':
            return Literal();
        case ')':
            throw EImapProtocol("a response with an unmatched parenthesis");
        default:
            return Atom();
        }
    }

    TImapValue List(int depth) {
        TImapValue list{TImapValue::TKind::List, {}, {}};
        ++pos;
        for (;;) {
            SkipSpaces();
            if (AtLineEnd())
                throw EImapProtocol("a response with an unclosed parenthesis");
            if (bytes[pos] == ')') {
                ++pos;
                return list;
            }
            list.items.push_back(Value(depth + 1));
        }
    }

    TImapValue Quoted() {
        TImapValue value{TImapValue::TKind::String, {}, {}};
        ++pos;
        for (;;) {
            if (AtLineEnd())
                throw EImapProtocol("a response with an unclosed quoted string");
            char c = bytes[pos++];
            if (c == '"')
                return value;
            if (c == '\\') {
                if (AtLineEnd())
                    throw EImapProtocol("a response with an unclosed quoted string");
                c = bytes[pos++];
            }
            value.text += c;
        }
    }

    TImapValue Literal() {
        const qsizetype close = bytes.indexOf('}', pos);
        if (close < 0)
            throw EImapProtocol("a response with a broken literal");
        const std::optional<qsizetype> size = AnnouncedLiteral(bytes.sliced(pos, close - pos + 1));
        pos = close + 1;
        if (!size)
            throw EImapProtocol("a response with a broken literal");
        if (!AtEnd() && bytes[pos] == '\r')
            ++pos;
        if (AtEnd() || bytes[pos] != '\n')
            throw EImapProtocol("a response with a broken literal");
        ++pos;
        if (*size > bytes.size() - pos)
            throw EImapProtocol("a response with a literal longer than the response");
        TImapValue value{TImapValue::TKind::String, bytes.mid(pos, *size), {}};
        pos += *size;
        return value;
    }

    // Brackets belong to the atom ("BODY[HEADER.FIELDS (SUBJECT)]"), spaces and all.
    TImapValue Atom() {
        const qsizetype begin = pos;
        int brackets = 0;
        while (!AtLineEnd()) {
            const char c = bytes[pos];
            if (brackets == 0 && (c == ' ' || c == '(' || c == ')' || c == '"' || c == '{'))
                break;
            if (c == '[')
                ++brackets;
            else if (c == ']' && brackets > 0)
                --brackets;
            ++pos;
        }
        if (brackets != 0)
            throw EImapProtocol("a response with an unclosed bracket");
        if (pos == begin)
            throw EImapProtocol("a response with an unexpected character");
        TImapValue value{TImapValue::TKind::Atom, bytes.mid(begin, pos - begin), {}};
        if (value.text.compare("NIL", Qt::CaseInsensitive) == 0)
            value = {TImapValue::TKind::Nil, {}, {}};
        return value;
    }

    const QByteArray& bytes;
    qsizetype pos = 0;
};

// The text after the tag and the condition word.
QByteArrayView AfterCondition(const TImapResponse& response) {
    QByteArrayView rest(response.line);
    for (int word = 0; word < 2; ++word) {
        const qsizetype space = rest.indexOf(' ');
        rest = space < 0 ? QByteArrayView() : rest.sliced(space + 1);
    }
    return rest;
}

bool IsUntagged(const TImapResponse& response, int minimumValues) {
    return response.tag == "*" && static_cast<int>(response.values.size()) >= minimumValues;
}

bool IsAtom(const TImapValue& value, const char* upperName) {
    return value.kind == TImapValue::TKind::Atom && value.text.toUpper() == upperName;
}

void ReadStatusItems(const TImapValue& list, TMailboxStatus& status) {
    for (size_t i = 0; i + 1 < list.items.size(); i += 2) {
        const QByteArray name = list.items[i].text.toUpper();
        const QByteArray& text = list.items[i + 1].text;
        if (name == "MESSAGES")
            status.messages = Number32(text);
        else if (name == "UIDNEXT")
            status.uidNext = Number32(text);
        else if (name == "UIDVALIDITY")
            status.uidValidity = Number32(text);
        else if (name == "UNSEEN")
            status.unseen = Number32(text);
        else if (name == "HIGHESTMODSEQ")
            status.highestModSeq = Number(text);
    }
}

void ReadStatusCode(const QByteArray& code, TMailboxStatus& status) {
    const qsizetype space = code.indexOf(' ');
    if (space < 0)
        return;
    const QByteArray name = code.left(space).toUpper();
    const QByteArrayView value = QByteArrayView(code).sliced(space + 1);
    // [UNSEEN n] here is the first unseen message's number, not a count.
    if (name == "UIDNEXT")
        status.uidNext = Number32(value);
    else if (name == "UIDVALIDITY")
        status.uidValidity = Number32(value);
    else if (name == "HIGHESTMODSEQ")
        status.highestModSeq = Number(value);
}

void ReadFetchItem(const QByteArray& name, const TImapValue& value, TFetchedMessage& message) {
    if (name == "UID") {
        message.uid = Number32(value.text).value_or(0);
    } else if (name == "FLAGS" && value.kind == TImapValue::TKind::List) {
        std::vector<QByteArray> flags;
        for (const TImapValue& flag : value.items)
            flags.push_back(flag.text);
        message.flags = std::move(flags);
    } else if (name == "MODSEQ" && value.kind == TImapValue::TKind::List && !value.items.empty()) {
        message.modSeq = Number(value.items.front().text);
    } else if (name == "INTERNALDATE") {
        message.internalDate = ParseInternalDate(value.text);
    } else if (name.startsWith("BODY[")) {
        message.header = value.text; // NIL: the message has none of the fields
    }
}

int MonthNumber(QByteArrayView name) {
    static const std::array<const char*, 12> months{"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                    "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    const QByteArray upper = name.toByteArray().toUpper();
    for (size_t i = 0; i < months.size(); ++i)
        if (upper == months[i])
            return static_cast<int>(i) + 1;
    return 0;
}

} // namespace

std::optional<qsizetype> TImapReader::ResponseEnd() const {
    qsizetype lineStart = start;
    for (;;) {
        const qsizetype newline = buffer.indexOf('\n', lineStart);
        if (newline < 0) {
            if (buffer.size() - start > maxResponseBytes)
                throw EImapProtocol("a response larger than any inbox needs");
            return std::nullopt;
        }
        QByteArrayView line = QByteArrayView(buffer).sliced(lineStart, newline - lineStart);
        if (line.endsWith('\r'))
            line.chop(1);
        const std::optional<qsizetype> literal = AnnouncedLiteral(line);
        if (!literal)
            return newline + 1;
        if (*literal > maxResponseBytes || newline + 1 - start + *literal > maxResponseBytes)
            throw EImapProtocol("a response larger than any inbox needs");
        lineStart = newline + 1 + *literal;
        if (lineStart > buffer.size())
            return std::nullopt;
    }
}

std::optional<TImapResponse> TImapReader::Next() {
    const std::optional<qsizetype> end = ResponseEnd();
    if (!end)
        return std::nullopt;
    const QByteArray bytes = buffer.mid(start, *end - start);
    start = *end;
    // Give back what has been read once it is most of the buffer.
    if (start > 64 * 1024 && start * 2 > buffer.size()) {
        buffer.remove(0, start);
        start = 0;
    }
    return ParseResponse(bytes);
}

TImapResponse ParseResponse(const QByteArray& bytes) {
    return TParser(bytes).Parse();
}

QByteArray StatusCondition(const TImapResponse& response) {
    if (response.values.size() == 1 && IsStatusCondition(response.values.front().text))
        return response.values.front().text;
    return {};
}

QByteArray ResponseCode(const TImapResponse& response) {
    if (StatusCondition(response).isEmpty())
        return {};
    const QByteArrayView rest = AfterCondition(response);
    if (!rest.startsWith('['))
        return {};
    const qsizetype close = rest.indexOf(']');
    return close < 0 ? QByteArray() : rest.sliced(1, close - 1).toByteArray();
}

QString ResponseText(const TImapResponse& response) {
    QByteArrayView rest = AfterCondition(response);
    if (rest.startsWith('[')) {
        const qsizetype close = rest.indexOf(']');
        rest = close < 0 ? QByteArrayView() : rest.sliced(close + 1);
    }
    return QString::fromUtf8(rest).trimmed();
}

void ReadMailboxStatus(const TImapResponse& response, TMailboxStatus& status) {
    if (!StatusCondition(response).isEmpty()) {
        ReadStatusCode(ResponseCode(response), status);
        return;
    }
    if (!IsUntagged(response, 2))
        return;
    const std::vector<TImapValue>& values = response.values;
    if (IsAtom(values[0], "STATUS") && values.size() >= 3 &&
        values[2].kind == TImapValue::TKind::List)
        ReadStatusItems(values[2], status);
    else if (IsAtom(values[1], "EXISTS"))
        status.messages = Number32(values[0].text);
}

std::optional<TFetchedMessage> ReadFetch(const TImapResponse& response) {
    if (!IsUntagged(response, 3) || !IsAtom(response.values[1], "FETCH") ||
        response.values[2].kind != TImapValue::TKind::List)
        return std::nullopt;
    const std::vector<TImapValue>& items = response.values[2].items;
    TFetchedMessage message;
    for (size_t i = 0; i + 1 < items.size(); i += 2)
        if (items[i].kind == TImapValue::TKind::Atom)
            ReadFetchItem(items[i].text.toUpper(), items[i + 1], message);
    if (message.uid == 0)
        return std::nullopt;
    return message;
}

std::vector<uint32_t> ReadSearch(const TImapResponse& response) {
    std::vector<uint32_t> uids;
    if (!IsUntagged(response, 1) || !IsAtom(response.values[0], "SEARCH"))
        return uids;
    for (size_t i = 1; i < response.values.size(); ++i)
        if (const std::optional<uint32_t> uid = Number32(response.values[i].text); uid && *uid)
            uids.push_back(*uid);
    return uids;
}

std::vector<QByteArray> ReadCapabilities(const TImapResponse& response) {
    std::vector<QByteArray> capabilities;
    QList<QByteArray> words;
    if (IsUntagged(response, 1) && IsAtom(response.values[0], "CAPABILITY")) {
        for (size_t i = 1; i < response.values.size(); ++i)
            words.append(response.values[i].text);
    } else {
        const QByteArray code = ResponseCode(response);
        if (!code.toUpper().startsWith("CAPABILITY "))
            return capabilities;
        words = code.split(' ').mid(1);
    }
    for (const QByteArray& word : words)
        if (!word.isEmpty())
            capabilities.push_back(word.toUpper());
    return capabilities;
}

std::optional<int64_t> ParseInternalDate(const QByteArray& text) {
    // dd-Mon-yyyy hh:mm:ss +zzzz, the day possibly padded with a space.
    const QList<QByteArray> parts = text.trimmed().split(' ');
    if (parts.size() != 3)
        return std::nullopt;
    const QList<QByteArray> date = parts[0].split('-');
    const QList<QByteArray> time = parts[1].split(':');
    const QByteArray& zone = parts[2];
    if (date.size() != 3 || time.size() != 3 || zone.size() != 5 ||
        (zone[0] != '+' && zone[0] != '-'))
        return std::nullopt;
    const std::optional<uint32_t> day = Number32(date[0]), year = Number32(date[2]),
                                  hour = Number32(time[0]), minute = Number32(time[1]),
                                  second = Number32(time[2]), zoneHours = Number32(zone.mid(1, 2)),
                                  zoneMinutes = Number32(zone.mid(3, 2));
    const int month = MonthNumber(date[1]);
    if (!day || !year || !hour || !minute || !second || !zoneHours || !zoneMinutes || !month)
        return std::nullopt;
    const QDate calendarDate(static_cast<int>(std::min<uint32_t>(*year, 9999)), month,
                             static_cast<int>(std::min<uint32_t>(*day, 99)));
    const QTime clock(static_cast<int>(std::min<uint32_t>(*hour, 99)),
                      static_cast<int>(std::min<uint32_t>(*minute, 99)),
                      static_cast<int>(std::min<uint32_t>(*second, 99)));
    if (!calendarDate.isValid() || !clock.isValid() || *zoneHours > 23 || *zoneMinutes > 59)
        return std::nullopt;
    const int offset =
        (zone[0] == '-' ? -1 : 1) * static_cast<int>(*zoneHours * 3600 + *zoneMinutes * 60);
    return QDateTime(calendarDate, clock, Qt::UTC).toSecsSinceEpoch() - offset;
}

QByteArray QuotedString(const QByteArray& text) {
    QByteArray quoted = "\"";
    for (const char c : text) {
        if (c == '\r' || c == '\n')
            continue;
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

} // namespace rp::mailstore
