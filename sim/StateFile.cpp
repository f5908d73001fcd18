#include "sim/StateFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/UniqueFd.h"

bool StateFile::read(const std::string& path, std::string& content) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false;
    content.clear();
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        content.append(buffer, static_cast<size_t>(n));
    }
}

bool StateFile::writeAtomically(const std::string& path, const std::string& content, std::string& error) {
    std::string temporary = path + ".tmp." + std::to_string(getpid());
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.valid()) {
        error = temporary + ": " + strerror(errno);
        return false;
    }
    const char* data = content.data();
    size_t left = content.size();
    while (left > 0) {
        ssize_t n = ::write(fd.get(), data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = temporary + ": " + strerror(errno);
            fd.reset();
            ::unlink(temporary.c_str());
            return false;
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    fd.reset();
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        error = path + ": " + strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::vector<std::string> StateFile::entryLines(const std::string& content) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::pair<std::string, std::string>> StateFile::keyValueLines(const std::string& content) {
    std::vector<std::pair<std::string, std::string>> lines;
    for (const std::string& line : entryLines(content)) {
        size_t blank = line.find_first_of(" \t");
        if (blank == std::string::npos)
            lines.emplace_back(line, "");
        else
            lines.emplace_back(line.substr(0, blank), line.substr(blank + 1));
    }
    return lines;
}
