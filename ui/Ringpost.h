// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace rp {

// The program entry: starts the application and returns its exit status.
int RunRingpost(int argc, char* argv[]);

} // namespace rp
