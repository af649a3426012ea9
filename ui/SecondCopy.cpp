#include "ui/SecondCopy.h"

#include "ui/MessageBoxes.h"

#include <cstdio>

namespace rp {

bool MayStartInFolder(const TInstanceLock& lock, IMessageBoxes& boxes) {
    switch (lock.State()) {
    case TInstanceLock::TState::Held:
        return true;
    case TInstanceLock::TState::Unavailable:
        std::fprintf(stderr, "ringpost: %s; a second copy in this folder would not be noticed.\n",
                     qPrintable(lock.Problem()));
        return true;
    case TInstanceLock::TState::HeldElsewhere:
        break;
    }
    const QString text = AlreadyRunningText(lock.Folder());
    std::fprintf(stderr, "ringpost: %s\n", qPrintable(text));
    boxes.Information(text);
    return false;
}

} // namespace rp
