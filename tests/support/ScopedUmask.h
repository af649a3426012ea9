// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The process's umask for the life of a test step, so a test can show that a file
// gets its own mode whatever the user's mask is.

#include <sys/stat.h>

namespace rp::test {

class TScopedUmask {
public:
    explicit TScopedUmask(mode_t mask) : old(::umask(mask)) {}
    ~TScopedUmask() { ::umask(old); }
    TScopedUmask(const TScopedUmask&) = delete;
    TScopedUmask& operator=(const TScopedUmask&) = delete;

private:
    mode_t old;
};

} // namespace rp::test
