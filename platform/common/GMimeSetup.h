// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// GMime reads received headers and composes outgoing messages; both need it set up.

namespace rp::mailstore {

// GMime is set up once per process, from whichever thread comes first.
void EnsureGMime();

} // namespace rp::mailstore
