// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The per-user registry stands in as one text file in the registry editor's export
// format (UTF-8): the header line, then "[key]" lines each followed by its values.
// Keys and values that Ringpost does not know are kept when the file is rewritten.

#include "platform/common/PlatformError.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

namespace rp {

namespace regtext {
struct Value;
}

enum class TRegistryType { None, String, ExpandString, Binary, DWord, Other };

// A settings file that cannot be read as asked or saved.
class ERegistryError : public EPlatformError {
public:
    using EPlatformError::EPlatformError;
};

class TRegistryFile {
public:
    // The default file: ${XDG_CONFIG_HOME:-$HOME/.config}/Amberfold/Ringpost.reg.
    static QString DefaultPath();
    explicit TRegistryFile(QString path = DefaultPath());

    // Reads the file (a missing file is an empty registry). Returns false when the
    // file exists but cannot be understood; it is then kept aside as
    // "<name>.unreadable" before the first save replaces it.
    bool Reload();
    // Opens (creating if missing) a key of the in-memory registry.
    void OpenKey(const QString& keyPath);

    TRegistryType ValueType(const QString& name) const;
    // Reads of the open key. A missing value or another type throws ERegistryError.
    bool ReadBool(const QString& name) const;
    int32_t ReadInteger(const QString& name) const;
    double ReadTime(const QString& name) const; // exactly 8 bytes of binary
    QByteArray ReadBinary(const QString& name) const;
    // A missing string reads as empty text; a value of a non-string type throws.
    QString ReadString(const QString& name) const;

    void WriteBool(const QString& name, bool value);
    void WriteInteger(const QString& name, int32_t value);
    void WriteTime(const QString& name, double value);
    void WriteBinary(const QString& name, const QByteArray& value);
    void WriteString(const QString& name, const QString& value);

    // Writes the whole file atomically with mode 0600; throws ERegistryError.
    void Flush();
    void CloseKey();

    const QString& Path() const { return path; }
    // Set by Reload when an unreadable file was kept aside; the text tells the user where.
    QString TakeNotice();

private:
    struct Data;
    void MarkUnreadable(const QByteArray& digest);
    bool KeepAside();
    void Store(regtext::Value value);
    QString path;
    QString openKey;
    QString notice;
    // What was last reported unreadable, so the same file is reported once.
    QByteArray reportedDigest;
    bool unreadable = false;
    QString keptAsidePath;
    std::shared_ptr<Data> data;
};

} // namespace rp
