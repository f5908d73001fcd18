#pragma once
#include <string>
#include <vector>

#include "util/Paths.h"

// The whole dispatcher program behind main(): parses the command line,
// reads the settings file of the installation and runs the loop until
// SIGTERM or SIGINT. jobCommand is how a job is started: the job runner's
// path and any leading arguments, to which "-w -j ID" is appended.
// Returns the exit code (0 after an orderly stop or the usage text, 1 for
// a command-line or settings error).
int dispatchMain(int argc, char* argv[], const Paths& paths, const std::vector<std::string>& jobCommand);

std::string dispatchUsage(const Paths& paths);
