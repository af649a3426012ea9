// SPDX-License-Identifier: GPL-3.0-or-later
// State files that the program did not write itself (an older program's, or a
// damaged one): whatever loads must survive a save and a load unchanged.

#include "engine/StateFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

namespace rp::test {
namespace {

QByteArray NotifyRecordWithKeyBytes(const QByteArray& keyBytes) {
    QByteArray record(NotifyRecordSize, '\0');
    record[0] = char(keyBytes.size());
    record.replace(1, keyBytes.size(), keyBytes);
    record[NotifyRecordSize - 1] = 1; // notified
    return record;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Bytes that are no UTF-8 decode to one replacement character each, three bytes
// long once written again: such a key no longer fits its 255 bytes.
TEST(StateFileInput, KeysThatGrowWhenDecodedAreCutOnLoadSoNoRecordIsLostBySaving) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("NOTIFY.CLD"));
    const QByteArray ansi =
        QByteArray(100, '\xE9') + QByteArray(154, 'x'); // "é" in an ANSI code page
    QByteArray file(4, '\0');
    qToLittleEndian<qint32>(StateFileVersion, file.data());
    file += NotifyRecordWithKeyBytes(ansi + 'A') + NotifyRecordWithKeyBytes(ansi + 'B');
    WriteFile(path, file);

    TSortedList<TEventItem> loaded;
    LoadNotifyFile(path, loaded);
    for (int i = 0; i < loaded.Count(); ++i)
        EXPECT_LE(loaded.Key(i).toUtf8().size(), kMaxKeyBytes);
    SaveNotifyFile(path, loaded);
    TSortedList<TEventItem> reloaded;
    LoadNotifyFile(path, reloaded);
    ASSERT_EQ(reloaded.Count(), loaded.Count());
    for (int i = 0; i < loaded.Count(); ++i) {
        EXPECT_EQ(reloaded.Key(i), loaded.Key(i));
        EXPECT_TRUE(reloaded.At(i).Notified);
    }
}

} // namespace
} // namespace rp::test
