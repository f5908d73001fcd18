#include "main/TarvoMain.h"

#ifndef TARVO_ROOT
#error "TARVO_ROOT must be defined by the build"
#endif

int main(int argc, char* argv[]) {
    return tarvoMain(argc, argv, Paths(TARVO_ROOT));
}
