#include "sim/Transcript.h"

#include <fcntl.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace {

std::string timestamp() {
    timeval now;
    gettimeofday(&now, nullptr);
    tm local;
    localtime_r(&now.tv_sec, &local);
    char text[64];
    size_t length = strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    snprintf(text + length, sizeof text - length, ".%03ld", static_cast<long>(now.tv_usec / 1000));
    return text;
}

}  // namespace

Transcript::Transcript(const std::string& path)
    : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)) {}

std::string Transcript::escape(const std::string& raw) {
    std::string out;
    out.reserve(raw.size());
    for (unsigned char c : raw) {
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (c < 0x20 || c >= 0x7f) {
                    char hex[8];
                    snprintf(hex, sizeof hex, "\\x%02x", c);
                    out += hex;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

void Transcript::write(const std::string& session, const char* mark, const std::string& text) {
    if (!fd_.valid()) return;
    std::string entry = timestamp() + " " + session + " " + mark + " ";
    if (text.size() > maxEntryBytes) {
        entry += escape(text.substr(0, maxEntryBytes));
        entry += " [" + std::to_string(text.size() - maxEntryBytes) + " more bytes]";
    } else {
        entry += escape(text);
    }
    entry += '\n';
    std::lock_guard<std::mutex> lock(mutex_);
    const char* data = entry.data();
    size_t left = entry.size();
    while (left > 0) {
        ssize_t n = ::write(fd_.get(), data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        left -= static_cast<size_t>(n);
    }
}
