#include "sim/ReplyWriter.h"

#include <algorithm>

#include "sim/StopSignal.h"

ReplyWriter::ReplyWriter(std::function<bool(const char*, size_t)> send, int slowReplyMs, const StopSignal& stop)
    : send_(std::move(send)), slowReplyMs_(slowReplyMs), stop_(stop) {}

bool ReplyWriter::write(const std::string& data, int holdBackMs) {
    if (data.empty()) return !stop_.requested();
    if (holdBackMs > 0 && !stop_.sleep(holdBackMs)) return false;
    if (slowReplyMs_ <= 0) return send_(data.data(), data.size());
    if (!stop_.sleep(slowReplyMs_)) return false;
    for (size_t offset = 0; offset < data.size(); offset += slowPieceBytes) {
        if (offset > 0 && !stop_.sleep(std::max(1, slowReplyMs_ / 10))) return false;
        if (!send_(data.data() + offset, std::min(slowPieceBytes, data.size() - offset))) return false;
    }
    return true;
}
