// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Ringpost.h"

int main(int argc, char* argv[]) {
    return rp::RunRingpost(argc, argv);
}
