// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/SourceCache.h"

#include "engine/DurableWrite.h"
#include "engine/OutlookModel.h"
#include "platform/common/Files.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace rp::mailstore {

namespace {

// The file: a first line naming the format, then records, each a line of
// lengths followed by that many bytes and a line break, and a last line that
// counts the items, so a cut file is known as such.
//
//   Ringpost last good copy 1
//   state <name bytes> <value bytes>
//   <name><value>
//   item <key bytes> <etag bytes> <text bytes> source|here
//   <key><etag><text>
//   end <items>
constexpr char kFirstLine[] = "Ringpost last good copy 1\n";

QString ReadError(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot read the last good copy \"%1\": %2").arg(path, reason);
}

// Every byte of `length` from `offset`; false when the file ends before.
bool ReadAt(int fd, qint64 offset, qint64 length, QByteArray& into) {
    into.resize(length);
    qint64 done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd, into.data() + done, static_cast<size_t>(length - done),
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += got;
    }
    return true;
}

// Reads the records of the file in order; any fault makes the whole copy unreadable.
class TRecordReader {
public:
    explicit TRecordReader(const QByteArray& bytes) : bytes(bytes) {}

    bool AtEnd() const { return position == bytes.size(); }
    qint64 Position() const { return position; }

    bool Expect(QByteArrayView text) {
        if (!QByteArrayView(bytes).sliced(position).startsWith(text))
            return false;
        position += text.size();
        return true;
    }

    // The words of the next line, without its line break.
    QList<QByteArray> Line() {
        const qsizetype end = bytes.indexOf('\n', position);
        if (end < 0)
            return {};
        const QByteArray line = bytes.sliced(position, end - position);
        position = end + 1;
        return line.split(' ');
    }

    // A length of at most what is left of the file.
    static bool Length(const QByteArray& word, qint64 most, qint64& length) {
        bool ok = false;
        length = word.toLongLong(&ok);
        return ok && length >= 0 && length <= most;
    }
    qint64 Left() const { return bytes.size() - position; }

    bool Take(qint64 length, QByteArray& into) {
        if (length > Left())
            return false;
        into = bytes.sliced(position, length);
        position += length;
        return true;
    }
    bool Skip(qint64 length) {
        if (length > Left())
            return false;
        position += length;
        return true;
    }

private:
    const QByteArray& bytes;
    qint64 position = 0;
};

QByteArray Number(qint64 value) {
    return QByteArray::number(value);
}

} // namespace

TSourceCache::TSourceCache(QString path) : path(std::move(path)) {
    RemoveStaleTemporaries(this->path);
    Read();
}

TSourceCache::~TSourceCache() {
    CloseFile();
}

int TSourceCache::OpenFile() const {
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
}

void TSourceCache::CloseFile() {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void TSourceCache::Read() {
    fd = OpenFile();
    if (fd < 0) {
        if (errno != ENOENT)
            qCWarning(lcMailStore).noquote() << ReadError(path, SystemErrorText(errno));
        return;
    }
    struct stat info {};
    QByteArray bytes;
    if (::fstat(fd, &info) != 0 || !ReadAt(fd, 0, info.st_size, bytes) || !ReadFrom(bytes)) {
        qCWarning(lcMailStore).noquote()
            << ReadError(path, QStringLiteral("it is damaged; everything is fetched again."));
        state.clear();
        items.clear();
        CloseFile();
        return;
    }
    wasRead = true;
}

bool TSourceCache::ReadFrom(const QByteArray& bytes) {
    TRecordReader reader(bytes);
    if (!reader.Expect(kFirstLine))
        return false;
    while (!reader.AtEnd()) {
        const QList<QByteArray> words = reader.Line();
        qint64 first = 0, second = 0, third = 0;
        if (words.size() == 3 && words[0] == "state") {
            QByteArray name, value;
            if (!TRecordReader::Length(words[1], reader.Left(), first) ||
                !TRecordReader::Length(words[2], reader.Left(), second) ||
                !reader.Take(first, name) || !reader.Take(second, value) || !reader.Expect("\n"))
                return false;
            state[name] = value;
        } else if (words.size() == 5 && words[0] == "item" &&
                   (words[4] == "source" || words[4] == "here")) {
            QByteArray key;
            TCachedItem item;
            if (!TRecordReader::Length(words[1], reader.Left(), first) ||
                !TRecordReader::Length(words[2], reader.Left(), second) ||
                !TRecordReader::Length(words[3], reader.Left(), third) ||
                !reader.Take(first, key) || !reader.Take(second, item.etag))
                return false;
            item.changedHere = words[4] == "here";
            item.inFile = true;
            item.offset = reader.Position();
            item.length = third;
            item.revision = ++revision;
            if (!reader.Skip(third) || !reader.Expect("\n"))
                return false;
            items[QString::fromUtf8(key)] = std::move(item);
        } else if (words.size() == 2 && words[0] == "end") {
            return words[1] == Number(static_cast<qint64>(items.size())) && reader.AtEnd();
        } else {
            return false;
        }
    }
    return false; // cut before its last line
}

QByteArray TSourceCache::State(const QByteArray& name) const {
    const auto found = state.find(name);
    return found == state.end() ? QByteArray() : found->second;
}

void TSourceCache::SetState(const QByteArray& name, const QByteArray& value) {
    if (State(name) == value)
        return;
    if (value.isEmpty())
        state.erase(name);
    else
        state[name] = value;
    unsaved = true;
}

const TCachedItem* TSourceCache::Find(const QString& key) const {
    const auto found = items.find(key);
    return found == items.end() ? nullptr : &found->second;
}

QByteArray TSourceCache::Text(const QString& key) const {
    const TCachedItem* item = Find(key);
    if (!item)
        return {};
    if (!item->inFile)
        return item->unsaved;
    QByteArray text;
    if (fd < 0 || !ReadAt(fd, item->offset, item->length, text))
        throw outlook::EAutomationError(
            ReadError(path, QStringLiteral("it was cut short by another program.")));
    return text;
}

TCachedItem& TSourceCache::Changed(const QString& key) {
    TCachedItem& item = items[key];
    item.revision = ++revision;
    unsaved = true;
    return item;
}

void TSourceCache::Put(const QString& key, const QByteArray& etag, const QByteArray& text) {
    TCachedItem& item = Changed(key);
    item.etag = etag;
    item.changedHere = false;
    item.inFile = false;
    item.unsaved = text;
}

void TSourceCache::ChangeHere(const QString& key, const QByteArray& text) {
    TCachedItem& item = Changed(key);
    item.changedHere = true;
    item.inFile = false;
    item.unsaved = text;
}

void TSourceCache::WrittenBack(const QString& key, const QByteArray& etag) {
    const auto found = items.find(key);
    if (found == items.end())
        return;
    found->second.etag = etag;
    found->second.changedHere = false;
    unsaved = true;
}

void TSourceCache::Outdated(const QString& key) {
    const auto found = items.find(key);
    if (found == items.end())
        return;
    found->second.etag.clear();
    found->second.changedHere = false;
    unsaved = true;
}

void TSourceCache::Remove(const QString& key) {
    if (items.erase(key) > 0) {
        ++revision;
        unsaved = true;
    }
}

// The whole file, with where each item's text lands in it, in the items' order.
QByteArray TSourceCache::Serialized(const QByteArray& saved, std::vector<qint64>& offsets) const {
    const auto textOf = [&saved](const TCachedItem& item) {
        return item.inFile ? QByteArrayView(saved).sliced(item.offset, item.length)
                           : QByteArrayView(item.unsaved);
    };
    qsizetype size = sizeof(kFirstLine) + 32;
    for (const auto& [name, value] : state)
        size += name.size() + value.size() + 32;
    for (const auto& [key, item] : items)
        size += key.size() * 3 + item.etag.size() + textOf(item).size() + 64;
    QByteArray bytes;
    bytes.reserve(size);
    bytes += kFirstLine;
    for (const auto& [name, value] : state)
        bytes += "state " + Number(name.size()) + ' ' + Number(value.size()) + '\n' + name + value +
                 '\n';
    for (const auto& [key, item] : items) {
        const QByteArray name = key.toUtf8();
        const QByteArrayView text = textOf(item);
        bytes += "item " + Number(name.size()) + ' ' + Number(item.etag.size()) + ' ' +
                 Number(text.size()) + (item.changedHere ? " here\n" : " source\n") + name +
                 item.etag;
        offsets.push_back(bytes.size());
        bytes += text;
        bytes += '\n';
    }
    bytes += "end " + Number(static_cast<qint64>(items.size())) + '\n';
    return bytes;
}

void TSourceCache::Save() {
    if (!unsaved)
        return;
    QByteArray saved;
    const bool anyInFile = std::any_of(items.begin(), items.end(),
                                       [](const auto& entry) { return entry.second.inFile; });
    struct stat info {};
    if (anyInFile && (fd < 0 || ::fstat(fd, &info) != 0 || !ReadAt(fd, 0, info.st_size, saved)))
        throw outlook::EAutomationError(
            ReadError(path, QStringLiteral("it was cut short by another program.")));
    std::vector<qint64> offsets;
    const QByteArray bytes = Serialized(saved, offsets);
    saved.clear();
    const TWriteResult written = WriteFileDurably(path, bytes, 0600);
    if (!written.Ok())
        throw outlook::EAutomationError(written.text);
    CloseFile();
    fd = OpenFile();
    size_t index = 0;
    for (auto& [key, item] : items) {
        const qint64 offset = offsets[index++];
        item.length = item.inFile ? item.length : item.unsaved.size();
        // Without the file to read back from, the texts stay in memory.
        item.inFile = fd >= 0;
        item.offset = offset;
        item.unsaved = item.inFile ? QByteArray() : bytes.sliced(offset, item.length);
    }
    unsaved = false;
}

} // namespace rp::mailstore
