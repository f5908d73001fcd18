#pragma once
#include <string>

#include "util/Paths.h"

// The whole program behind main(): parses the command line, runs one job
// and returns the exit code (0 success or usage, 1 command-line error,
// 2 job failed).
int tarvoMain(int argc, char* argv[], const Paths& paths);

// The usage text, with the transfer directory of the given installation.
std::string tarvoUsage(const Paths& paths);
