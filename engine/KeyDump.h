// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The text dumps of the tracked keys: one key per line, CR LF, in list order.
// Nothing reads them back; they are for looking at what the engine tracks.

#include "engine/SortedList.h"

#include <QFile>
#include <QString>

namespace rp {

// Replaces the file; a dump that cannot be written is simply not written. The
// scans dump after every item, so a dump that would not change is left alone.
template <class Record> void WriteKeyDump(const QString& path, const TSortedList<Record>& list) {
    QByteArray content;
    for (int i = 0; i < list.Count(); ++i) {
        // A key holding a line break would read as two keys.
        QByteArray line = list.Key(i).toUtf8();
        line.replace('\r', ' ').replace('\n', ' ');
        content += line + "\r\n";
    }
    // The keys name the user's meetings and tasks: readable by the user alone,
    // also a dump an older version left readable by others.
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    QFile file(path);
    const bool unchanged = file.open(QIODevice::ReadOnly) && file.size() == content.size() &&
                           file.readAll() == content;
    file.close();
    if (!unchanged && file.open(QIODevice::WriteOnly | QIODevice::Truncate, ownerOnly)) {
        file.setPermissions(ownerOnly);
        file.write(content);
        return;
    }
    file.setPermissions(ownerOnly);
}

} // namespace rp
