// Test-only entry point: RUNNER ROOT [--pause-scale=F] [--wait-limit-scale=F]
// [Tarvo options...]. Runs the program exactly as installed, but with ROOT
// as the installation root, so every end-to-end test has its own settings
// file and transfer directory. --pause-scale multiplies the program's
// deliberate pauses (the 2 seconds after a disconnect, reboot waits, the
// certificate-file wait, the wait after a failed firmware rename) and
// --wait-limit-scale the limits of its device waits as a whole, to keep the
// suite fast; the installed program has no such options.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "main/TarvoMain.h"
#include "util/ConnectionHandler.h"
#include "util/Pause.h"

namespace {
// The value of "NAME=F" when arg is that option; -1 when it is another
// argument, -2 when the value is no factor.
double factorOption(const char* arg, const char* name) {
    const size_t length = strlen(name);
    if (strncmp(arg, name, length) != 0 || arg[length] != '=') return -1;
    char* end = nullptr;
    double factor = strtod(arg + length + 1, &end);
    return (!end || *end != '\0' || end == arg + length + 1 || factor < 0) ? -2 : factor;
}
}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s ROOT [--pause-scale=F] [--wait-limit-scale=F] [Tarvo options...]\n", argv[0]);
        return 64;
    }
    Paths paths(argv[1]);
    int first = 1;
    while (first + 1 < argc) {
        const char* arg = argv[first + 1];
        double pause = factorOption(arg, "--pause-scale");
        double limit = factorOption(arg, "--wait-limit-scale");
        if (pause == -1 && limit == -1) break;
        if (pause == -2 || limit == -2 || limit == 0) {
            fprintf(stderr, "%s: bad scale '%s'\n", argv[0], arg);
            return 64;
        }
        if (pause >= 0) Pause::setScale(pause);
        if (limit > 0) ConnectionHandler::setWaitLimitScale(limit);
        ++first;
    }
    // The program sees its own name followed by the options.
    argv[first] = argv[0];
    return tarvoMain(argc - first, argv + first, paths);
}
