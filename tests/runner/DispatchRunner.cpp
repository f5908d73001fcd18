// Test-only entry point of the dispatcher:
//   RUNNER ROOT [--pause-scale=F] [tarvo-dispatch options...]
// Runs the dispatcher exactly as installed, but with ROOT as the
// installation root (its settings file) and with every job started through
// the test-only job runner with the same root and pause scale:
//   tarvo-test-runner ROOT --pause-scale=F -w -j ID
// The installed dispatcher has no such options.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dispatch/DispatchMain.h"

#ifndef TARVO_JOB_RUNNER
#error "TARVO_JOB_RUNNER must name the test-only job runner"
#endif

int main(int argc, char* argv[]) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s ROOT [--pause-scale=F] [tarvo-dispatch options...]\n", argv[0]);
        return 64;
    }
    std::vector<std::string> jobCommand{TARVO_JOB_RUNNER, argv[1]};
    int first = 1;
    const char* scaleOption = "--pause-scale=";
    if (argc > 2 && strncmp(argv[2], scaleOption, strlen(scaleOption)) == 0) {
        jobCommand.push_back(argv[2]);
        first = 2;
    }
    Paths paths(argv[1]);
    argv[first] = argv[0];
    return dispatchMain(argc - first, argv + first, paths, jobCommand);
}
