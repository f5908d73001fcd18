#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "sim/StopSignal.h"
#include "sim/UniqueFd.h"

// SessionPool runs every client session on a thread of its own, so a
// client that sends nothing, floods the device or never reads holds up
// only its own session. The pool owns each session's socket: it closes it
// after the session's thread has ended, and on stopAll it shuts down the
// sockets of sessions that do not end by themselves, which wakes any
// blocking call on them.
class SessionPool {
public:
    using Body = std::function<void(int fd, const StopSignal& stop)>;

    // onFinished is called from a session thread when its session ended.
    SessionPool(size_t limit, std::function<void()> onFinished);
    ~SessionPool();
    SessionPool(const SessionPool&) = delete;
    SessionPool& operator=(const SessionPool&) = delete;

    // False (and the socket closed) when limit sessions are running.
    bool start(UniqueFd socket, Body body);
    // Joins the threads of ended sessions and closes their sockets.
    void reap();
    // Asks every session to end; after graceMs the sockets of those still
    // running are shut down. Returns when all threads have been joined.
    void stopAll(int graceMs);
    size_t running() const;

private:
    struct Slot {
        std::thread thread;
        UniqueFd socket;
        std::atomic<bool> done{false};
    };

    size_t limit_;
    std::function<void()> onFinished_;
    StopSignal stop_;
    mutable std::mutex mutex_;
    std::condition_variable finished_;
    std::list<std::unique_ptr<Slot>> slots_;
};
