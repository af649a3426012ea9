#pragma once
// What the program does when another copy already runs in its data folder.

#include "platform/InstanceLock.h"

namespace rp {

class IMessageBoxes;

// True when this copy may start its engine. A second copy in the same folder
// says so in a box and must not start. A folder that cannot be locked at all is
// reported on standard error and the program starts unguarded: refusing would
// leave the user with no Ringpost at all.
bool MayStartInFolder(const TInstanceLock& lock, IMessageBoxes& boxes);

} // namespace rp
