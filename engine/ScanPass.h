// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One sweep of a folder from its first item to its last, and the keys it met: a
// tracked record whose key a conclusive sweep did not meet is gone from the folder
// (deleted, cancelled, renamed or moved to another time).

#include <QSet>
#include <QString>

namespace rp {

class TScanPass {
public:
    void Begin(int folderCount) {
        met.clear();
        count = folderCount;
        sound = true;
    }
    void Meet(const QString& key) {
        if (sound)
            met.insert(key.toCaseFolded());
    }
    // An item was not seen: this pass cannot tell what is gone.
    void Spoil() { sound = false; }
    // Every item was read and the folder kept its size. An empty folder is more
    // likely a file being replaced than every item deleted.
    bool Conclusive(int folderCount) const {
        return sound && folderCount == count && folderCount > 0;
    }
    bool MetAny() const { return !met.isEmpty(); }
    bool Met(const QString& key) const { return met.contains(key.toCaseFolded()); }
    void End() {
        sound = false;
        met.clear();
    }

private:
    QSet<QString> met; // case-folded
    int count = 0;     // items in the folder when the pass began
    bool sound = false;
};

} // namespace rp
