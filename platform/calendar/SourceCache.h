// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The last good copy of one calendar or task source (a CalDAV collection, a
// subscription, the desktop's store): its items by key (an href or a UID), each
// with the version the source gave it (an ETag) and its iCalendar text, and the
// source's own sync state (a sync token, what kind of source it is), in one
// file of mode 0600.
//
// The file is read once, when the copy opens, and written whole by the durable
// writer, once per Save(): a crash, a kill or a full disk leaves the old copy or
// the new one, never a mix. Only texts not yet saved are held in memory; a saved
// text is read back from the file when asked for. One thread owns a copy.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <vector>

namespace rp::mailstore {

class TCachedItem {
public:
    QByteArray etag;          // the source's version of the text; empty when unknown
    bool changedHere = false; // changed here and not yet written back to the source
    uint64_t revision = 0;    // new whenever the text changes

private:
    friend class TSourceCache;
    bool inFile = false; // the text is in the file at `offset`, else in `unsaved`
    qint64 offset = 0;
    qint64 length = 0;
    QByteArray unsaved;
};

class TSourceCache {
public:
    // Reads the copy at `path` if there is one. A copy that cannot be read or is
    // damaged is logged and starts empty: the source gives everything again.
    explicit TSourceCache(QString path);
    ~TSourceCache();
    TSourceCache(const TSourceCache&) = delete;
    TSourceCache& operator=(const TSourceCache&) = delete;

    const QString& Path() const { return path; }
    // True when a copy was read at the start (false for a first start).
    bool WasRead() const { return wasRead; }

    // The source's own state by name; empty when never set.
    QByteArray State(const QByteArray& name) const;
    void SetState(const QByteArray& name, const QByteArray& value);

    // Every item by key, in key order.
    const std::map<QString, TCachedItem>& Items() const { return items; }
    const TCachedItem* Find(const QString& key) const;
    // The item's text (empty for an unknown key); throws EAutomationError when
    // the file cannot be read back.
    QByteArray Text(const QString& key) const;

    // The item as the source gave it; a change made here is dropped.
    void Put(const QString& key, const QByteArray& etag, const QByteArray& text);
    // The item's text was changed here (a task moved on); it keeps its ETag, the
    // version the change was made from, until WrittenBack().
    void ChangeHere(const QString& key, const QByteArray& text);
    // The source took the change made here; `etag` is its new version (empty
    // when the source did not say, so the next sync fetches it).
    void WrittenBack(const QString& key, const QByteArray& etag);
    // The source has another version than this one, which the next sync fetches;
    // a change made here is dropped.
    void Outdated(const QString& key);
    void Remove(const QString& key);

    // Changed since the copy was read or last saved.
    bool Unsaved() const { return unsaved; }
    // Writes the whole copy when it changed. Throws EAutomationError naming the
    // file when it cannot be written; the changes are then kept for the next try.
    void Save();
    // Moves on with every change of any item's text: a reader that parsed the
    // items at one revision has nothing to read again until it moves.
    uint64_t Revision() const { return revision; }

private:
    void Read();
    bool ReadFrom(const QByteArray& bytes);
    QByteArray Serialized(const QByteArray& saved, std::vector<qint64>& offsets) const;
    int OpenFile() const;
    void CloseFile();
    TCachedItem& Changed(const QString& key);

    QString path;
    int fd = -1; // the file the saved texts are read back from
    bool wasRead = false;
    bool unsaved = false;
    uint64_t revision = 0;
    std::map<QByteArray, QByteArray> state;
    std::map<QString, TCachedItem> items;
};

} // namespace rp::mailstore
