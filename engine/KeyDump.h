#pragma once
// The text dumps of the tracked keys: one key per line, CR LF, in list order.
// Nothing reads them back; they are for looking at what the engine tracks.

#include "engine/SortedList.h"

#include <QFile>
#include <QString>

namespace rp {

// Replaces the file; a dump that cannot be written is simply not written.
template <class Record> void WriteKeyDump(const QString& path, const TSortedList<Record>& list) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    for (int i = 0; i < list.Count(); ++i)
        file.write(list.Key(i).toUtf8() + "\r\n");
}

} // namespace rp
