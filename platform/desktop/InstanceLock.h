// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One running copy per data folder: two engines over the same state files would
// overwrite each other's records and send every notice twice.

#include <QString>

namespace rp {

inline const char* const InstanceLockFileName = "Ringpost.lock";
// The local socket beside the lock file through which a second start asks the
// copy that holds the folder to bring its window forward.
inline const char* const ShowSocketFileName = "Ringpost.socket";

// Holds an exclusive flock() on the lock file in a folder for as long as the
// object lives. The kernel drops the lock when the process ends, also on a crash,
// so a lock file left behind never keeps a later start out.
class TInstanceLock {
public:
    enum class TState {
        Held,          // this copy owns the folder
        HeldElsewhere, // another running copy owns it
        Unavailable,   // no lock file could be opened (e.g. a read-only folder)
    };

    explicit TInstanceLock(const QString& folder);
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    TState State() const { return state; }
    // The folder as an absolute path, for the messages.
    QString Folder() const { return folder; }
    // Why the lock is Unavailable; empty otherwise.
    QString Problem() const { return problem; }
    // The process id the holder wrote into the file, 0 when unknown.
    qint64 HolderPid() const;

private:
    int OpenLockFile();
    void Claim(int fd);
    void NoteHolder();

    QString folder;
    QString path;
    QString problem;
    TState state = TState::Unavailable;
    int fd = -1;
};

// Where the copy that holds `folder` listens for a second start. Beside the lock
// file; in the user's runtime folder, named after the data folder, when that path
// would be too long for a local socket.
QString ShowSocketPath(const QString& folder);

// The text the second copy shows.
QString AlreadyRunningText(const QString& folder);

} // namespace rp
