#include "sim/SessionPool.h"

#include <sys/socket.h>

#include <chrono>

SessionPool::SessionPool(size_t limit, std::function<void()> onFinished)
    : limit_(limit), onFinished_(std::move(onFinished)) {}

SessionPool::~SessionPool() {
    stopAll(0);
}

bool SessionPool::start(UniqueFd socket, Body body) {
    reap();
    std::lock_guard<std::mutex> lock(mutex_);
    if (slots_.size() >= limit_) return false;
    auto slot = std::make_unique<Slot>();
    slot->socket = std::move(socket);
    Slot* raw = slot.get();
    raw->thread = std::thread([this, raw, body = std::move(body)] {
        body(raw->socket.get(), stop_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            raw->done = true;
        }
        finished_.notify_all();
        if (onFinished_) onFinished_();
    });
    slots_.push_back(std::move(slot));
    return true;
}

void SessionPool::reap() {
    std::list<std::unique_ptr<Slot>> ended;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = slots_.begin(); it != slots_.end();) {
            if ((*it)->done) {
                ended.push_back(std::move(*it));
                it = slots_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& slot : ended) slot->thread.join();
}

void SessionPool::stopAll(int graceMs) {
    stop_.request();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait_for(lock, std::chrono::milliseconds(graceMs), [this] {
            for (const auto& slot : slots_)
                if (!slot->done) return false;
            return true;
        });
        for (const auto& slot : slots_)
            if (!slot->done) ::shutdown(slot->socket.get(), SHUT_RDWR);
    }
    std::list<std::unique_ptr<Slot>> all;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        all.swap(slots_);
    }
    for (auto& slot : all) slot->thread.join();
    stop_.reset();
}

size_t SessionPool::running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t count = 0;
    for (const auto& slot : slots_)
        if (!slot->done) ++count;
    return count;
}
