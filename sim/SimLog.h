#pragma once
#include <string>

// SimLog writes devsim's own log lines to standard error, each with a time
// stamp and in one write, so lines of parallel sessions stay whole.
class SimLog {
public:
    static void info(const std::string& text);
    static void error(const std::string& text);
};
