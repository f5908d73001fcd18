// Test-only entry point: RUNNER ROOT [Tarvo options...]. Runs the program
// exactly as installed, but with ROOT as the installation root, so every
// end-to-end test has its own settings file and transfer directory.
#include <cstdio>

#include "main/TarvoMain.h"

int main(int argc, char* argv[]) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s ROOT [Tarvo options...]\n", argv[0]);
        return 64;
    }
    Paths paths(argv[1]);
    // The program sees its own name followed by the options.
    argv[1] = argv[0];
    return tarvoMain(argc - 1, argv + 1, paths);
}
