// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/StateFiles.h"

#include "engine/DurableWrite.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <cstring>
#include <sys/stat.h>

namespace rp {

namespace {

constexpr int kKeyFieldSize = 256;
// A later program would count on from 4; a larger number is damage, not a version.
constexpr qint32 kLastPlausibleVersion = 0xFFFF;

// ---- encoding

void AppendKey(QByteArray& out, const QString& key) {
    const QByteArray bytes = KeyBytes(key);
    out.append(static_cast<char>(bytes.size()));
    out.append(bytes);
    out.append(kMaxKeyBytes - bytes.size(), '\0');
}

void AppendDouble(QByteArray& out, double value) {
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    char bytes[8];
    qToLittleEndian(bits, bytes);
    out.append(bytes, sizeof bytes);
}

void AppendBool(QByteArray& out, bool value) {
    out.append(value ? '\1' : '\0');
}

QByteArray VersionBytes() {
    char bytes[4];
    qToLittleEndian<qint32>(StateFileVersion, bytes);
    return QByteArray(bytes, sizeof bytes);
}

template <class Record> QByteArray EncodeFile(const TSortedList<Record>& list) {
    QByteArray out = VersionBytes();
    for (int i = 0; i < list.Count(); ++i)
        out += EncodeRecord(list.At(i));
    return out;
}

// ---- decoding

// Reads the fields of one whole record in order.
class RecordReader {
public:
    explicit RecordReader(QByteArrayView record) : record(record) {}

    QString Key() {
        const int length = static_cast<unsigned char>(record.at(offset));
        // Cut as a save would cut it: bytes that are no UTF-8 decode longer, and a
        // key that only fits after the cut would merge with its neighbour on reload.
        const QString key = CutKey(QString::fromUtf8(record.sliced(offset + 1, length)));
        offset += kKeyFieldSize;
        return key;
    }
    double Double() {
        const quint64 bits = qFromLittleEndian<quint64>(record.sliced(offset, 8).data());
        offset += 8;
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    bool Bool() { return record.at(offset++) != 0; }

private:
    QByteArrayView record;
    qsizetype offset = 0;
};

void Decode(RecordReader& in, TTaskEvent& record) {
    record.Key = in.Key();
    record.StartDate = in.Double();
    record.DueDay = in.Double();
    record.LastReminder = in.Double();
    record.PreNoticeTime = in.Double();
    record.NoticeTime = in.Double();
    record.ReminderSent = in.Bool();
    record.PreNoticeSent = in.Bool();
    record.Reserved = in.Double();
    record.Completed = in.Bool();
}

void Decode(RecordReader& in, TEventItem& record) {
    record.Key = in.Key();
    record.StartTime = in.Double();
    record.ReminderTime = in.Double();
    record.Notified = in.Bool();
    record.AllDay = record.StartTime != 0 && TimeOfDay(record.StartTime) == 0;
}

void Decode(RecordReader& in, TEmailItem& record) {
    record.Key = in.Key();
    record.SeenTime = in.Double();
}

QString FileName(const QString& path) {
    return QFileInfo(path).fileName();
}

EStateFileError ReadError() {
    return EStateFileError(QStringLiteral("Stream read error"));
}

// Adds the records after the version; a record cut short ends the load with an
// error, the whole ones before it stay.
template <class Record>
void LoadFile(const QString& path, TSortedList<Record>& list, int recordSize) {
    QFile file(path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly))
        throw EStateFileError(QStringLiteral("Cannot open file %1").arg(FileName(path)));
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError || content.size() < 4)
        throw ReadError();
    const qint32 version = qFromLittleEndian<qint32>(QByteArrayView(content).first(4).data());
    if (version > StateFileVersion && version <= kLastPlausibleVersion)
        throw ENewerStateFile(version);
    if (version != StateFileVersion)
        throw ReadError();
    qsizetype position = 4;
    while (position < content.size()) {
        if (content.size() - position < recordSize)
            throw ReadError();
        auto record = std::make_unique<Record>();
        RecordReader reader(QByteArrayView(content).sliced(position, recordSize));
        Decode(reader, *record);
        const QString key = record->Key;
        list.Add(key, std::move(record));
        position += recordSize;
    }
}

// ---- saving

QByteArray CurrentContent(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The records are the user's personal data: readable by the user alone, whatever
// the umask says. A fault before the rename keeps the old file whole.
void ReplaceFile(const QString& path, const QByteArray& content) {
    const TWriteResult result = WriteFileDurably(path, content, S_IRUSR | S_IWUSR);
    const QString reason = QString::fromLocal8Bit(std::strerror(result.error));
    if (result.failedStep == TWriteStep::Write)
        throw EStateFileError(QStringLiteral("Stream write error"), reason);
    if (!result.Ok())
        throw EStateFileError(QStringLiteral("Cannot create file %1").arg(FileName(path)), reason);
    RemoveStaleTemporaries(path);
}

template <class Record> void SaveFile(const QString& path, const TSortedList<Record>& list) {
    const QByteArray content = EncodeFile(list);
    // A quiet cycle saves three times; leave an unchanged file alone.
    if (QFile::exists(path) && CurrentContent(path) == content)
        return;
    ReplaceFile(path, content);
}

} // namespace

QByteArray EncodeRecord(const TTaskEvent& record) {
    QByteArray out;
    out.reserve(TaskRecordSize);
    AppendKey(out, record.Key);
    AppendDouble(out, record.StartDate);
    AppendDouble(out, record.DueDay);
    AppendDouble(out, record.LastReminder);
    AppendDouble(out, record.PreNoticeTime);
    AppendDouble(out, record.NoticeTime);
    AppendBool(out, record.ReminderSent);
    AppendBool(out, record.PreNoticeSent);
    AppendDouble(out, record.Reserved);
    AppendBool(out, record.Completed);
    return out;
}

QByteArray EncodeRecord(const TEventItem& record) {
    QByteArray out;
    out.reserve(NotifyRecordSize);
    AppendKey(out, record.Key);
    AppendDouble(out, record.StartTime);
    AppendDouble(out, record.ReminderTime);
    AppendBool(out, record.Notified);
    return out;
}

QByteArray EncodeRecord(const TEmailItem& record) {
    QByteArray out;
    out.reserve(EmailRecordSize);
    AppendKey(out, record.Key);
    AppendDouble(out, record.SeenTime);
    return out;
}

void LoadTaskFile(const QString& path, TSortedList<TTaskEvent>& list) {
    LoadFile(path, list, TaskRecordSize);
}

void LoadNotifyFile(const QString& path, TSortedList<TEventItem>& list) {
    LoadFile(path, list, NotifyRecordSize);
}

void LoadEmailFile(const QString& path, TSortedList<TEmailItem>& list) {
    LoadFile(path, list, EmailRecordSize);
}

void SaveTaskFile(const QString& path, const TSortedList<TTaskEvent>& list) {
    SaveFile(path, list);
}

void SaveNotifyFile(const QString& path, const TSortedList<TEventItem>& list) {
    SaveFile(path, list);
}

void SaveEmailFile(const QString& path, const TSortedList<TEmailItem>& list) {
    SaveFile(path, list);
}

} // namespace rp
