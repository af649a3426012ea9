// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/common/GMimeSetup.h"

#include <gmime/gmime.h>
#include <mutex>

namespace rp::mailstore {

void EnsureGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

} // namespace rp::mailstore
