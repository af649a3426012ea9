// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/settings/RegistryText.h"

#include <QtEndian>

namespace rp::regtext {

namespace {

constexpr qsizetype kMaxLineWidth = 80; // where the registry editor wraps hex data

bool SameName(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

bool IsBlank(const Entry& entry) {
    return !entry.value && entry.raw.trimmed().isEmpty();
}

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// 1 to 8 hex digits; anything else fails.
std::optional<uint32_t> ParseHexNumber(QStringView digits) {
    if (digits.isEmpty() || digits.size() > 8)
        return std::nullopt;
    uint32_t value = 0;
    for (QChar c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | uint32_t(digit);
    }
    return value;
}

QByteArray LittleEndian32(uint32_t value) {
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

uint32_t FromLittleEndian32(const QByteArray& bytes) {
    return bytes.size() == 4 ? qFromLittleEndian<uint32_t>(bytes.constData()) : 0;
}

// Windows string values end at their first NUL.
QString FromUtf16Le(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t unit = char16_t(uchar(bytes[i]) | uchar(bytes[i + 1]) << 8);
        if (unit == 0)
            break;
        text.append(QChar(unit));
    }
    return text;
}

QByteArray ToUtf16LeWithNul(const QString& text) {
    QByteArray bytes;
    bytes.reserve((text.size() + 1) * 2);
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    bytes.append(2, '\0');
    return bytes;
}

// "00,1c,40" with an optional trailing comma; an empty list is no bytes.
std::optional<QByteArray> ParseHexList(QStringView list) {
    QByteArray bytes;
    const QList<QStringView> items = list.split(u',');
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QStringView item = items[i].trimmed();
        if (item.isEmpty() && i == items.size() - 1)
            break;
        const auto value = ParseHexNumber(item);
        if (item.size() > 2 || !value)
            return std::nullopt;
        bytes.append(char(*value));
    }
    return bytes;
}

// Reads a quoted text starting at text[pos] == '"'; pos ends after the closing quote.
std::optional<QString> ParseQuoted(QStringView text, qsizetype& pos) {
    QString result;
    for (++pos; pos < text.size(); ++pos) {
        const QChar c = text[pos];
        if (c == u'"') {
            ++pos;
            return result;
        }
        const bool escape = c == u'\\' && pos + 1 < text.size() &&
                            (text[pos + 1] == u'\\' || text[pos + 1] == u'"');
        if (escape)
            ++pos;
        result.append(text[pos]);
    }
    return std::nullopt;
}

void ApplyHexKind(uint32_t kind, const QByteArray& bytes, Value& value) {
    value.bytes = bytes;
    switch (kind) {
    case 1:
        value.type = TRegistryType::String;
        value.text = FromUtf16Le(bytes);
        break;
    case 2:
        value.type = TRegistryType::ExpandString;
        value.text = FromUtf16Le(bytes);
        break;
    case 3:
        value.type = TRegistryType::Binary;
        break;
    case 4:
        value.type = bytes.size() == 4 ? TRegistryType::DWord : TRegistryType::Other;
        break;
    default:
        value.type = TRegistryType::Other;
    }
    if (value.type == TRegistryType::String || value.type == TRegistryType::ExpandString)
        value.bytes.clear();
}

// "hex:..." or "hex(N):..."; data starts after "hex".
bool ParseHexData(QStringView data, Value& value) {
    uint32_t kind = 3;
    if (data.startsWith(u'(')) {
        const qsizetype close = data.indexOf(u')');
        const auto number = close > 0 ? ParseHexNumber(data.mid(1, close - 1)) : std::nullopt;
        if (!number)
            return false;
        kind = *number;
        data = data.mid(close + 1);
    }
    if (!data.startsWith(u':'))
        return false;
    const auto bytes = ParseHexList(data.mid(1));
    if (!bytes)
        return false;
    ApplyHexKind(kind, *bytes, value);
    return true;
}

bool ParseData(QStringView data, Value& value) {
    if (data.startsWith(u'"')) {
        qsizetype pos = 0;
        const auto text = ParseQuoted(data, pos);
        value.type = TRegistryType::String;
        value.text = text.value_or(QString());
        return text && pos == data.size();
    }
    if (data == u"-") { // a deletion line: kept as it is, never read
        value.type = TRegistryType::Other;
        return true;
    }
    if (data.startsWith(u"dword:", Qt::CaseInsensitive)) {
        const auto number = ParseHexNumber(data.mid(6));
        value.type = TRegistryType::DWord;
        value.bytes = LittleEndian32(number.value_or(0));
        return number.has_value();
    }
    if (data.startsWith(u"hex", Qt::CaseInsensitive))
        return ParseHexData(data.mid(3), value);
    return false;
}

// The name and the "=" after it; pos ends at the data.
bool ParseNameAndEquals(QStringView line, qsizetype& pos, QString& name) {
    pos = 0;
    if (line.startsWith(u'@')) {
        pos = 1;
    } else if (line.startsWith(u'"')) {
        const auto quoted = ParseQuoted(line, pos);
        if (!quoted)
            return false;
        name = *quoted;
    } else {
        return false;
    }
    while (pos < line.size() && line[pos].isSpace())
        ++pos;
    if (pos >= line.size() || line[pos] != u'=')
        return false;
    ++pos;
    return true;
}

// Reads one value starting at lines[i]; hex data may go on over lines that end in "\".
std::optional<Value> ReadValue(const QStringList& lines, qsizetype& i) {
    QString raw = lines[i];
    QString logical = raw.trimmed();
    Value value;
    qsizetype pos = 0;
    if (!ParseNameAndEquals(logical, pos, value.name))
        return std::nullopt;
    const bool hex =
        QStringView(logical).mid(pos).trimmed().startsWith(u"hex", Qt::CaseInsensitive);
    while (hex && logical.endsWith(u'\\') && i + 1 < lines.size()) {
        logical.chop(1);
        ++i;
        raw += u'\n' + lines[i];
        logical += lines[i].trimmed();
    }
    if (!ParseData(QStringView(logical).mid(pos).trimmed(), value))
        return std::nullopt;
    value.raw = raw;
    return value;
}

QStringList SplitLines(const QString& text) {
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines)
        if (line.endsWith(u'\r'))
            line.chop(1);
    if (!lines.isEmpty() && lines.first().startsWith(QChar(0xFEFF)))
        lines.first().remove(0, 1);
    return lines;
}

// The key a "[...]" line opens; a key named twice gathers all its values in one place.
Key* StartKey(Document& document, const QString& line) {
    const QString trimmed = line.trimmed();
    if (!trimmed.endsWith(u']') || trimmed.size() < 3)
        return nullptr;
    const QString path = trimmed.mid(1, trimmed.size() - 2);
    if (Key* existing = document.FindKey(path))
        return existing;
    document.keys.push_back(Key{path, line, {}});
    return &document.keys.back();
}

QString Quote(const QString& text) {
    QString quoted = QString(u'"');
    for (QChar c : text) {
        if (c == u'\\' || c == u'"')
            quoted += u'\\';
        quoted += c;
    }
    return quoted + u'"';
}

// A line break or other control character cannot stand inside a quoted line,
// and half a surrogate pair cannot be written as UTF-8.
bool NeedsHexForm(const QString& text) {
    return !QStringView(text).isValidUtf16() || std::any_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() < 0x20 && c != u'\t';
    });
}

QString HexText(QString line, const QByteArray& bytes) {
    QString text;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        QString item = QString::asprintf("%02x", uchar(bytes[i]));
        if (i + 1 < bytes.size())
            item += u',';
        if (line.size() + item.size() + 1 > kMaxLineWidth && line != QLatin1String("  ")) {
            text += line + QStringLiteral("\\\n");
            line = QStringLiteral("  ");
        }
        line += item;
    }
    return text + line;
}

QString FormatValue(const Value& value) {
    const QString prefix = (value.name.isEmpty() ? QString(u'@') : Quote(value.name)) + u'=';
    switch (value.type) {
    case TRegistryType::String:
        if (NeedsHexForm(value.text))
            return HexText(prefix + QLatin1String("hex(1):"), ToUtf16LeWithNul(value.text));
        return prefix + Quote(value.text);
    case TRegistryType::ExpandString:
        return HexText(prefix + QLatin1String("hex(2):"), ToUtf16LeWithNul(value.text));
    case TRegistryType::DWord:
        return prefix + QString::asprintf("dword:%08x", FromLittleEndian32(value.bytes));
    case TRegistryType::Binary:
        return HexText(prefix + QLatin1String("hex:"), value.bytes);
    default:
        return HexText(prefix + QLatin1String("hex(0):"), value.bytes);
    }
}

bool SameData(const Value& a, const Value& b) {
    return a.type == b.type && a.bytes == b.bytes && a.text == b.text;
}

} // namespace

Key* Document::FindKey(const QString& path) {
    for (Key& key : keys)
        if (SameName(key.path, path))
            return &key;
    return nullptr;
}

Key& Document::OpenKey(const QString& path) {
    if (Key* key = FindKey(path))
        return *key;
    keys.push_back(Key{path, u'[' + path + u']', {}});
    return keys.back();
}

const Value* FindValue(const Key& key, const QString& name) {
    for (const Entry& entry : key.entries)
        if (entry.value && SameName(entry.value->name, name))
            return &*entry.value;
    return nullptr;
}

void StoreValue(Key& key, Value value) {
    for (Entry& entry : key.entries) {
        if (!entry.value || !SameName(entry.value->name, value.name))
            continue;
        if (!value.raw.isEmpty() || !SameData(*entry.value, value)) {
            value.name = entry.value->name;
            entry.value = std::move(value);
        }
        return;
    }
    // New values go before the blank lines that end the key.
    auto place = key.entries.end();
    while (place != key.entries.begin() && IsBlank(*(place - 1)))
        --place;
    key.entries.insert(place, Entry{std::move(value), {}});
}

ParseResult Parse(const QString& text) {
    ParseResult result;
    const QStringList lines = SplitLines(text);
    qsizetype i = 0;
    while (i < lines.size() && lines[i].trimmed().isEmpty())
        ++i;
    if (i == lines.size())
        return result;
    if (lines[i].trimmed() != QLatin1String(HeaderLine)) {
        result.clean = false;
        return result;
    }
    Key* current = nullptr;
    for (++i; i < lines.size(); ++i) {
        const QString trimmed = lines[i].trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u';')) {
            if (current)
                current->entries.push_back(Entry{std::nullopt, lines[i]});
            else
                result.document.preamble.append(lines[i]);
        } else if (trimmed.startsWith(u'[')) {
            current = StartKey(result.document, lines[i]);
            result.clean = result.clean && current;
        } else if (auto value = current ? ReadValue(lines, i) : std::nullopt) {
            StoreValue(*current, std::move(*value));
        } else {
            result.clean = false;
        }
    }
    return result;
}

QString Serialize(const Document& document) {
    QString text = QLatin1String(HeaderLine) + u'\n';
    for (const QString& line : document.preamble)
        text += line + u'\n';
    for (const Key& key : document.keys) {
        if (!text.endsWith(u"\n\n"))
            text += u'\n';
        text += key.header + u'\n';
        for (const Entry& entry : key.entries) {
            const bool rewrite = entry.value && entry.value->raw.isEmpty();
            text += (rewrite       ? FormatValue(*entry.value)
                     : entry.value ? entry.value->raw
                                   : entry.raw);
            text += u'\n';
        }
    }
    return text;
}

} // namespace rp::regtext
