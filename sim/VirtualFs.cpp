#include "sim/VirtualFs.h"

std::vector<std::string> VirtualFs::parts(const std::string& path) {
    std::vector<std::string> result;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!result.empty()) result.pop_back();
            continue;
        }
        result.push_back(part);
    }
    return result;
}

std::string VirtualFs::normalize(const std::string& path) {
    std::string result;
    for (const auto& part : parts(path)) result += "/" + part;
    return result.empty() ? "/" : result;
}

std::string VirtualFs::hostPath(const std::string& normalized) const {
    return normalized == "/" ? hostRoot_ : hostRoot_ + normalized;
}

bool VirtualFs::writable(const std::string& normalized) {
    return parts(normalized).size() >= 2;
}
