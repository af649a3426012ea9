// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/settings/RegistryFile.h"

#include "engine/DurableWrite.h"
#include "platform/settings/RegistryText.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QtEndian>
#include <bit>
#include <cstring>
#include <sys/stat.h>
#include <utility>

namespace rp {

namespace {

// Far beyond any settings file; a bigger one is not read into memory.
constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

// Unpaired halves of a surrogate pair cannot be saved as UTF-8; they become
// U+FFFD, and the file counts as damaged so the original is kept aside.
bool ReplaceLoneSurrogates(QString& text) {
    bool replaced = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        if (pair) {
            ++i;
        } else if (text[i].isSurrogate()) {
            text[i] = QChar::ReplacementCharacter;
            replaced = true;
        }
    }
    return replaced;
}

struct DecodedText {
    QString text;
    bool clean = true;
};

// Bad bytes or characters become U+FFFD so the rest of the file still reads.
DecodedText DecodeText(const QByteArray& bytes) {
    const bool utf16 = bytes.startsWith("\xFF\xFE"); // the registry editor's own export
    QStringDecoder decoder(utf16 ? QStringDecoder::Utf16LE : QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless);
    DecodedText decoded{decoder(utf16 ? bytes.mid(2) : bytes), true};
    decoded.clean = !decoder.hasError() && !ReplaceLoneSurrogates(decoded.text);
    return decoded;
}

ERegistryError SaveError(const QString& path, int error) {
    return ERegistryError(QStringLiteral("Unable to save the settings to %1: %2")
                              .arg(path, QString::fromLocal8Bit(std::strerror(error))));
}

// Private: the file may hold the phone number and the device address.
void WriteFileAtomically(const QString& path, const QByteArray& bytes) {
    const TWriteResult result = WriteFileDurably(path, bytes, S_IRUSR | S_IWUSR);
    if (!result.Ok())
        throw SaveError(path, result.error);
    RemoveStaleTemporaries(path);
}

template <class Number> QByteArray LittleEndianBytes(Number value) {
    QByteArray bytes(sizeof(Number), '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

ERegistryError WrongType(const QString& name) {
    return ERegistryError(QStringLiteral("Invalid data type for '%1'").arg(name));
}

const regtext::Value* Find(regtext::Document& document, const QString& key, const QString& name) {
    const regtext::Key* open = key.isEmpty() ? nullptr : document.FindKey(key);
    return open ? regtext::FindValue(*open, name) : nullptr;
}

const regtext::Value& FindTyped(regtext::Document& document, const QString& key,
                                const QString& name, TRegistryType type) {
    const regtext::Value* value = Find(document, key, name);
    if (!value || value->type != type)
        throw WrongType(name);
    return *value;
}

} // namespace

struct TRegistryFile::Data {
    regtext::Document document;
};

QString TRegistryFile::DefaultPath() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/Amberfold/Ringpost.reg");
}

TRegistryFile::TRegistryFile(QString path)
    : path(std::move(path)), data(std::make_shared<Data>()) {}

bool TRegistryFile::Reload() {
    data = std::make_shared<Data>();
    unreadable = false;
    keptAsidePath.clear();
    QFile file(path);
    if (!file.exists())
        return true;
    if (file.size() > kMaxFileBytes || !file.open(QIODevice::ReadOnly)) {
        MarkUnreadable("unopenable:" + QByteArray::number(file.size()));
        return false;
    }
    const QByteArray bytes = file.readAll();
    const DecodedText decoded = DecodeText(bytes);
    regtext::ParseResult parsed = regtext::Parse(decoded.text);
    data->document = std::move(parsed.document);
    if (parsed.clean && decoded.clean)
        return true;
    MarkUnreadable(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256));
    return false;
}

void TRegistryFile::MarkUnreadable(const QByteArray& digest) {
    unreadable = true;
    const bool kept = KeepAside();
    if (digest == reportedDigest)
        return;
    reportedDigest = digest;
    notice = kept ? QStringLiteral("The settings file %1 could not be read; a copy was kept as %2.")
                        .arg(path, keptAsidePath)
                  : QStringLiteral("The settings file %1 could not be read and no copy of it "
                                   "could be made; it will not be replaced.")
                        .arg(path);
}

bool TRegistryFile::KeepAside() {
    if (keptAsidePath.isEmpty())
        keptAsidePath = KeepUnreadableCopy(path);
    return !keptAsidePath.isEmpty();
}

void TRegistryFile::OpenKey(const QString& keyPath) {
    data->document.OpenKey(keyPath);
    openKey = keyPath;
}

void TRegistryFile::CloseKey() {
    openKey.clear();
}

TRegistryType TRegistryFile::ValueType(const QString& name) const {
    const regtext::Value* value = Find(data->document, openKey, name);
    return value ? value->type : TRegistryType::None;
}

bool TRegistryFile::ReadBool(const QString& name) const {
    return ReadInteger(name) != 0;
}

int32_t TRegistryFile::ReadInteger(const QString& name) const {
    const auto& value = FindTyped(data->document, openKey, name, TRegistryType::DWord);
    return qFromLittleEndian<int32_t>(value.bytes.constData()); // a DWord holds 4 bytes
}

double TRegistryFile::ReadTime(const QString& name) const {
    const QByteArray bytes = ReadBinary(name);
    if (bytes.size() != 8)
        throw WrongType(name);
    return std::bit_cast<double>(qFromLittleEndian<uint64_t>(bytes.constData()));
}

QByteArray TRegistryFile::ReadBinary(const QString& name) const {
    return FindTyped(data->document, openKey, name, TRegistryType::Binary).bytes;
}

QString TRegistryFile::ReadString(const QString& name) const {
    const regtext::Value* value = Find(data->document, openKey, name);
    if (!value)
        return QString();
    if (value->type != TRegistryType::String && value->type != TRegistryType::ExpandString)
        throw WrongType(name);
    return value->text;
}

void TRegistryFile::WriteBool(const QString& name, bool value) {
    WriteInteger(name, value ? 1 : 0);
}

void TRegistryFile::WriteInteger(const QString& name, int32_t value) {
    Store(regtext::Value{name, TRegistryType::DWord, LittleEndianBytes(value), {}, {}});
}

void TRegistryFile::WriteTime(const QString& name, double value) {
    WriteBinary(name, LittleEndianBytes(std::bit_cast<uint64_t>(value)));
}

void TRegistryFile::WriteBinary(const QString& name, const QByteArray& value) {
    Store(regtext::Value{name, TRegistryType::Binary, value, {}, {}});
}

void TRegistryFile::WriteString(const QString& name, const QString& value) {
    Store(regtext::Value{name, TRegistryType::String, {}, value, {}});
}

void TRegistryFile::Store(regtext::Value value) {
    if (openKey.isEmpty())
        throw ERegistryError(
            QStringLiteral("No settings key is open to write '%1'").arg(value.name));
    regtext::StoreValue(data->document.OpenKey(openKey), std::move(value));
}

void TRegistryFile::Flush() {
    if (unreadable && !KeepAside())
        throw ERegistryError(QStringLiteral("The settings file %1 could not be read and could not "
                                            "be kept aside, so it was not replaced.")
                                 .arg(path));
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        throw ERegistryError(QStringLiteral("Unable to create the settings folder %1").arg(folder));
    WriteFileAtomically(path, regtext::Serialize(data->document).toUtf8());
    unreadable = false;
}

QString TRegistryFile::TakeNotice() {
    return std::exchange(notice, QString());
}

} // namespace rp
