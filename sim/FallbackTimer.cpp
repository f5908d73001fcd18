#include "sim/FallbackTimer.h"

FallbackTimer::FallbackTimer(std::function<void()> onExpired)
    : onExpired_(std::move(onExpired)), thread_([this] { run(); }) {}

FallbackTimer::~FallbackTimer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void FallbackTimer::arm(int seconds) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        armed_ = true;
    }
    changed_.notify_all();
}

bool FallbackTimer::cancel() {
    bool was;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        was = armed_;
        armed_ = false;
    }
    changed_.notify_all();
    return was;
}

int FallbackTimer::remaining() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!armed_) return -1;
    auto left = deadline_ - std::chrono::steady_clock::now();
    auto seconds = std::chrono::ceil<std::chrono::seconds>(left).count();
    return seconds < 0 ? 0 : static_cast<int>(seconds);
}

void FallbackTimer::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (!armed_) {
            changed_.wait(lock);
            continue;
        }
        // Woken early by arm, cancel or the stop, the loop looks again at
        // the deadline that holds now.
        changed_.wait_until(lock, deadline_);
        if (stopping_ || !armed_ || std::chrono::steady_clock::now() < deadline_) continue;
        armed_ = false;
        lock.unlock();
        onExpired_();
        lock.lock();
    }
}
