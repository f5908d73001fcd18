#include "sim/SimLog.h"

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace {

void writeLine(const char* level, const std::string& text) {
    timeval now;
    gettimeofday(&now, nullptr);
    tm local;
    localtime_r(&now.tv_sec, &local);
    char stamp[40];
    strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    char millis[24];
    snprintf(millis, sizeof millis, ".%03ld", static_cast<long>(now.tv_usec / 1000));
    std::string line = std::string(stamp) + millis + " devsim " + level + text + "\n";
    const char* data = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace

void SimLog::info(const std::string& text) {
    writeLine("", text);
}

void SimLog::error(const std::string& text) {
    writeLine("error: ", text);
}
