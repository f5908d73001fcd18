#pragma once
#include <atomic>

#include "sim/UniqueFd.h"

// StopSignal tells session threads to end. Once requested, its descriptor
// stays readable, so a thread can wait for its client and the stop in one
// poll. Reset makes it usable again (after all threads have ended).
class StopSignal {
public:
    StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void request();
    void reset();
    bool requested() const { return requested_.load(); }
    int fd() const { return event_.get(); }
    // Sleeps up to milliseconds; false when the stop came first.
    bool sleep(int milliseconds) const;

private:
    UniqueFd event_;
    std::atomic<bool> requested_{false};
};
