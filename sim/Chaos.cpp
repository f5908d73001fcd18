#include "sim/Chaos.h"

Chaos::Chaos(uint64_t seed) : random_(seed) {}

// The generator's own output reduced by modulo: the standard
// distributions may differ between library versions, and a seed must mean
// the same faults wherever devsim was built.
uint64_t Chaos::draw(uint64_t below) {
    std::lock_guard<std::mutex> hold(lock_);
    return random_() % below;
}

Chaos::Fault Chaos::onConnection() {
    return draw(connectionOdds) == 0 ? Fault::DropConnection : Fault::None;
}

Chaos::Fault Chaos::onCommand(int& slowMs) {
    slowMs = 0;
    uint64_t value = draw(static_cast<uint64_t>(commandOdds) * 4 * maxSlowMs);
    if (value >= 4ULL * maxSlowMs) return Fault::None;
    switch (value / maxSlowMs) {
        case 0:
            return Fault::CloseMidReply;
        case 1:
            return Fault::Silent;
        case 2:
            return Fault::Reboot;
        default:
            slowMs = 1 + static_cast<int>(value % maxSlowMs);
            return Fault::Slow;
    }
}

const char* Chaos::name(Fault fault) {
    switch (fault) {
        case Fault::None:
            return "none";
        case Fault::DropConnection:
            return "connection dropped";
        case Fault::CloseMidReply:
            return "connection dropped in the middle of the reply";
        case Fault::Silent:
            return "silent from now on";
        case Fault::Reboot:
            return "reboot after the reply";
        case Fault::Slow:
            return "reply held back";
    }
    return "?";
}
