#include "tests/simsupport/StreamReader.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace testsim {

long long StreamReader::nowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

void StreamReader::restart(int fd) {
    readFd_ = fd;
    data_.clear();
    mark_ = 0;
    ended_ = false;
}

bool StreamReader::readSome(int timeoutMs) {
    if (ended_ || readFd_ < 0) return false;
    pollfd p = {readFd_, POLLIN, 0};
    int rc = poll(&p, 1, timeoutMs);
    if (rc < 0 && errno == EINTR) return true;
    if (rc <= 0) return rc == 0;
    char buffer[65536];
    ssize_t n = read(readFd_, buffer, sizeof buffer);
    if (n > 0) {
        data_.append(buffer, static_cast<size_t>(n));
        return true;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    ended_ = true;
    return false;
}

bool StreamReader::expect(const std::string& text, int timeoutMs) {
    long long deadline = nowMs() + timeoutMs;
    for (;;) {
        size_t at = data_.find(text, mark_);
        if (at != std::string::npos) {
            mark_ = at + text.size();
            return true;
        }
        long long left = deadline - nowMs();
        if (left <= 0 || ended_) return false;
        readSome(static_cast<int>(left));
    }
}

bool StreamReader::waitForEnd(int timeoutMs) {
    long long deadline = nowMs() + timeoutMs;
    while (!ended_) {
        long long left = deadline - nowMs();
        if (left <= 0) return false;
        readSome(static_cast<int>(left));
    }
    return true;
}

void StreamReader::readFor(int timeoutMs) {
    long long deadline = nowMs() + timeoutMs;
    for (long long left = timeoutMs; left > 0 && !ended_; left = deadline - nowMs()) readSome(static_cast<int>(left));
}

}  // namespace testsim
