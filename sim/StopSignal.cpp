#include "sim/StopSignal.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>

StopSignal::StopSignal() : event_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void StopSignal::request() {
    requested_ = true;
    uint64_t one = 1;
    while (::write(event_.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void StopSignal::reset() {
    uint64_t value;
    while (::read(event_.get(), &value, sizeof value) < 0 && errno == EINTR) {
    }
    requested_ = false;
}

bool StopSignal::sleep(int milliseconds) const {
    if (requested()) return false;
    pollfd p = {event_.get(), POLLIN, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, milliseconds);
    } while (rc < 0 && errno == EINTR);
    return !requested();
}
