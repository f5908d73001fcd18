// Test-only entry point: RUNNER ROOT [--pause-scale=F] [Tarvo options...].
// Runs the program exactly as installed, but with ROOT as the installation
// root, so every end-to-end test has its own settings file and transfer
// directory. --pause-scale multiplies the program's deliberate pauses (the
// 2 seconds after a disconnect, reboot waits, the certificate-file wait,
// the wait after a failed firmware rename) to keep the suite fast; the
// installed program has no such option.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "main/TarvoMain.h"
#include "util/Pause.h"

int main(int argc, char* argv[]) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s ROOT [--pause-scale=F] [Tarvo options...]\n", argv[0]);
        return 64;
    }
    Paths paths(argv[1]);
    int first = 1;
    const char* scaleOption = "--pause-scale=";
    if (argc > 2 && strncmp(argv[2], scaleOption, strlen(scaleOption)) == 0) {
        char* end = nullptr;
        double factor = strtod(argv[2] + strlen(scaleOption), &end);
        if (!end || *end != '\0' || factor < 0) {
            fprintf(stderr, "%s: bad pause scale '%s'\n", argv[0], argv[2]);
            return 64;
        }
        Pause::setScale(factor);
        first = 2;
    }
    // The program sees its own name followed by the options.
    argv[first] = argv[0];
    return tarvoMain(argc - first, argv + first, paths);
}
