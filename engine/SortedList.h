// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A list of records kept sorted by key, one record per key, keys compared without
// regard to letter case. An equal key is never added twice.

#include <QString>
#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace rp {

template <class Record> class TSortedList {
public:
    int Count() const { return static_cast<int>(entries.size()); }
    const QString& Key(int index) const { return entries[index].first; }
    Record& At(int index) { return *entries[index].second; }
    const Record& At(int index) const { return *entries[index].second; }

    // Index of the key, or -1.
    int Find(const QString& key) const {
        const auto it = LowerBound(key);
        if (it != entries.end() && Compare(it->first, key) == 0)
            return static_cast<int>(it - entries.begin());
        return -1;
    }

    // Adds the record under its key; a key already present leaves the list
    // unchanged and discards the record. Returns whether it was added.
    bool Add(const QString& key, std::unique_ptr<Record> record) {
        const auto it = LowerBound(key);
        if (it != entries.end() && Compare(it->first, key) == 0)
            return false;
        entries.emplace(it, key, std::move(record));
        return true;
    }

    void Delete(int index) { entries.erase(entries.begin() + index); }
    void Clear() { entries.clear(); }

    static int Compare(const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive);
    }

private:
    using Entry = std::pair<QString, std::unique_ptr<Record>>;

    typename std::vector<Entry>::const_iterator LowerBound(const QString& key) const {
        return std::lower_bound(
            entries.begin(), entries.end(), key,
            [](const Entry& e, const QString& k) { return Compare(e.first, k) < 0; });
    }
    typename std::vector<Entry>::iterator LowerBound(const QString& key) {
        return std::lower_bound(
            entries.begin(), entries.end(), key,
            [](const Entry& e, const QString& k) { return Compare(e.first, k) < 0; });
    }

    std::vector<Entry> entries;
};

} // namespace rp
