// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the three state-file loaders. Whatever loads must save
// as a well-formed file that loads back to the same records.

#include "engine/StateFiles.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using namespace rp;

template <class Record> using Loader = void (*)(const QString&, TSortedList<Record>&);
template <class Record> using Saver = void (*)(const QString&, const TSortedList<Record>&);

template <class Record>
void LoadQuietly(Loader<Record> load, const QString& path, TSortedList<Record>& list) {
    try {
        load(path, list);
    } catch (const EStateFileError&) {
        // A short or cut file: the whole records before the error stay.
    }
}

template <class Record>
void CheckRoundTrip(const QString& input, Loader<Record> load, Saver<Record> save, int recordSize) {
    TSortedList<Record> loaded;
    LoadQuietly(load, input, loaded);
    for (int i = 0; i < loaded.Count(); ++i)
        if (loaded.Key(i).toUtf8().size() > kMaxKeyBytes)
            fuzz::Fail("a loaded key does not fit its 255 bytes");

    const QString first = fuzz::ScratchFolder() + QStringLiteral("/first.CLD");
    const QString second = fuzz::ScratchFolder() + QStringLiteral("/second.CLD");
    QFile::remove(first);
    QFile::remove(second);
    save(first, loaded);
    const QByteArray saved = fuzz::ReadBack(first);
    if (saved.size() != 4 + qsizetype(loaded.Count()) * recordSize)
        fuzz::Fail("saved size does not match the record count");

    TSortedList<Record> reloaded;
    load(first, reloaded); // our own file must load without an error
    if (reloaded.Count() != loaded.Count())
        fuzz::Fail("a record was lost between save and load");
    save(second, reloaded);
    if (fuzz::ReadBack(second) != saved)
        fuzz::Fail("a saved file does not load back to the same records");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString input = fuzz::ScratchFolder() + QStringLiteral("/input.CLD");
    fuzz::WriteInput(input, data, size);
    CheckRoundTrip<TTaskEvent>(input, LoadTaskFile, SaveTaskFile, TaskRecordSize);
    CheckRoundTrip<TEventItem>(input, LoadNotifyFile, SaveNotifyFile, NotifyRecordSize);
    CheckRoundTrip<TEmailItem>(input, LoadEmailFile, SaveEmailFile, EmailRecordSize);
    return 0;
}
