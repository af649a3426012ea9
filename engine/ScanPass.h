// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One sweep of a folder from its first item to its last, and the keys it met: a
// tracked record whose key a conclusive sweep did not meet is gone from the folder
// (deleted, cancelled, renamed or moved to another time).

#include <QSet>
#include <QString>

namespace rp {

struct TScanPass {
    QSet<QString> met; // case-folded
    int count = 0;     // items in the folder when the pass began
    bool sound = false;

    void Begin(int items) {
        met.clear();
        count = items;
        sound = true;
    }
    void Meet(const QString& key) {
        if (sound)
            met.insert(key.toCaseFolded());
    }
    bool Met(const QString& key) const { return met.contains(key.toCaseFolded()); }
    // Every item was read and the folder kept its size; an empty folder is more
    // likely a file being replaced than every item deleted.
    bool Conclusive(int items) const { return sound && items == count && items > 0; }
    void End() {
        sound = false;
        met.clear();
    }
};

} // namespace rp
