#pragma once
#include <cstddef>
#include <functional>
#include <string>

class StopSignal;

// ReplyWriter hands a shell's output to the transport. With the slow-reply
// fault it holds each reply back and lets it trickle in small pieces, the
// way a busy device answers; every wait gives way to a stop.
class ReplyWriter {
public:
    static constexpr size_t slowPieceBytes = 64;

    // send writes all bytes or returns false (the client is gone).
    ReplyWriter(std::function<bool(const char*, size_t)> send, int slowReplyMs, const StopSignal& stop);

    // False when the client is gone or a stop came. holdBackMs delays this
    // one reply further (the chaos faults' slow reply).
    bool write(const std::string& data, int holdBackMs = 0);

private:
    std::function<bool(const char*, size_t)> send_;
    int slowReplyMs_;
    const StopSignal& stop_;
};
