#include "ui/Ringpost.h"

int main(int argc, char* argv[]) {
    return rp::RunRingpost(argc, argv);
}
