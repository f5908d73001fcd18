#include "dispatch/DispatchMain.h"

#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdio>

#include "dispatch/Dispatcher.h"

namespace {
// Blocked signals still need a handler other than "ignore" to stay
// pending for sigtimedwait; this one never runs while they are blocked.
void onSignal(int) {}
}  // namespace

std::string dispatchUsage(const Paths& paths) {
    return "\n"
           "Usage:         tarvo-dispatch [-hv]\n"
           "\n"
           "       -h, -v          Print usage information. (This text.)\n"
           "\n"
           "Starts the due jobs of the database named in " +
           paths.settingsFile() +
           ", one Tarvo process each, up to dispatch.maxJobs at once.\n"
           "SIGTERM or SIGINT: start no more jobs, end the running ones, exit. SIGHUP: re-read the settings.\n"
           "\n"
           "Tarvo Version 4.1.1\n"
           "\n";
}

int dispatchMain(int argc, char* argv[], const Paths& paths, const std::vector<std::string>& jobCommand) {
    opterr = 0;
    optind = 1;
    int c;
    while ((c = getopt(argc, argv, "hv")) != -1) {
        const std::string usage = dispatchUsage(paths);
        if (c == 'h' || c == 'v') {
            fputs(usage.c_str(), stdout);
            return 0;
        }
        if (isprint(optopt))
            fprintf(stderr, "tarvo-dispatch: ERROR: Unknown option `-%c'.\n", optopt);
        else
            fprintf(stderr, "tarvo-dispatch: ERROR: Unknown option character `\\x%x'.\n", optopt);
        fputs(usage.c_str(), stderr);
        return 1;
    }
    if (optind < argc) {
        fprintf(stderr, "tarvo-dispatch: ERROR: Unexpected argument '%s'.\n", argv[optind]);
        return 1;
    }

    // The journal reads standard output through a pipe: one line at a time.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);
    sigset_t blocked;
    Dispatcher::blockedSignals(blocked);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGCHLD, SIGTERM, SIGINT, SIGHUP}) sigaction(s, &action, nullptr);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);

    Dispatcher dispatcher(paths.settingsFile(), paths.transferDir(), jobCommand);
    if (!dispatcher.configure()) return 1;
    return dispatcher.run();
}
