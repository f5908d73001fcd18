#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// FallbackTimer is a NEXA device's delayed configuration command: once
// armed it reboots the device after the given seconds unless it is
// cancelled (or armed anew) first. One thread waits for the deadline for
// the whole life of the object; when the time runs out it calls onExpired
// on that thread, with no lock of the timer held, and onExpired must only
// hand the reboot over to the device's own loop. All members are safe to
// call from several session threads. The destructor stops and joins the
// thread; an armed timer is then dropped without expiring.
class FallbackTimer {
public:
    explicit FallbackTimer(std::function<void()> onExpired);
    ~FallbackTimer();
    FallbackTimer(const FallbackTimer&) = delete;
    FallbackTimer& operator=(const FallbackTimer&) = delete;

    // Starts the count-down of seconds (> 0), replacing a running one.
    void arm(int seconds);
    // Stops the count-down; false when none was running.
    bool cancel();
    // Whole seconds left, rounded up; -1 when not armed.
    int remaining() const;

private:
    void run();

    const std::function<void()> onExpired_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::chrono::steady_clock::time_point deadline_;
    bool armed_ = false;
    bool stopping_ = false;
    std::thread thread_;  // last: started once the members above are ready
};
