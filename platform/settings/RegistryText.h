// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The registry editor's export text, parsed into keys and values and written back
// with every line that was not changed kept exactly as it was read.

#include "platform/settings/RegistryFile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace rp::regtext {

inline const char* const HeaderLine = "Windows Registry Editor Version 5.00";

struct Value {
    QString name; // empty for the key's default value ("@")
    TRegistryType type = TRegistryType::None;
    QByteArray bytes; // binary data; a DWORD as its 4 little-endian bytes
    QString text;     // string and expandable string
    QString raw;      // the line(s) as read; empty once the value was changed
};

// One line of a key's body: a value, or a blank or comment line kept verbatim.
struct Entry {
    std::optional<Value> value;
    QString raw;
};

struct Key {
    QString path;
    QString header; // the "[...]" line as read
    std::vector<Entry> entries;
};

struct Document {
    QStringList preamble; // lines between the header line and the first key
    std::vector<Key> keys;

    Key* FindKey(const QString& path);
    Key& OpenKey(const QString& path);
};

const Value* FindValue(const Key& key, const QString& name);
// Replaces the value of the same name (keeping its place and the name's spelling)
// or adds it after the key's last value.
void StoreValue(Key& key, Value value);

struct ParseResult {
    Document document;
    // False when some line could not be understood; such lines are left out.
    bool clean = true;
};

ParseResult Parse(const QString& text);
QString Serialize(const Document& document);

} // namespace rp::regtext
