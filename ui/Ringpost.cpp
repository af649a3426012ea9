#include "ui/Ringpost.h"

#include <cstdio>

namespace rp {

int RunRingpost(int, char*[]) {
    std::fprintf(stderr, "Ringpost: the main window is not there yet.\n");
    return 1;
}

} // namespace rp
