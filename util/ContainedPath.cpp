#include "util/ContainedPath.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <vector>

namespace {

std::vector<std::string> components(const std::string& name) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= name.size()) {
        size_t slash = name.find('/', start);
        if (slash == std::string::npos) slash = name.size();
        const std::string part = name.substr(start, slash - start);
        if (!part.empty() && part != ".") parts.push_back(part);
        start = slash + 1;
    }
    return parts;
}

// The canonical path, "" when it cannot be resolved.
std::string resolved(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (!real) return "";
    std::string text(real);
    free(real);
    return text;
}

bool inside(const std::string& base, const std::string& path) {
    if (base == "/") return true;
    return path == base || path.compare(0, base.size() + 1, base + "/") == 0;
}

}  // namespace

std::string ContainedPath::join(const std::string& dir, const std::string& name) {
    if (!dir.empty() && dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

std::string ContainedPath::refusal(const std::string& dir, const std::string& name) {
    if (name.empty()) return "";
    if (name.find('\0') != std::string::npos) return "a name holding a NUL byte";
    if (name[0] == '/') return "an absolute name";
    const std::vector<std::string> parts = components(name);
    for (const auto& part : parts)
        if (part == "..") return "a name with a '..' component";

    // Only links can lead out now; each existing part is looked at in turn.
    const std::string base = resolved(dir);
    if (base.empty()) return "";  // no directory, so nothing in it to follow
    std::string current = base;
    for (const auto& part : parts) {
        const std::string next = current + (current == "/" ? "" : "/") + part;
        struct stat st;
        if (lstat(next.c_str(), &st) != 0) return "";
        if (!S_ISLNK(st.st_mode)) {
            current = next;
            continue;
        }
        const std::string target = resolved(next);
        if (target.empty()) return "a name whose symbolic link '" + next + "' leads to no file";
        if (!inside(base, target))
            return "a name that leads out of its folder through the symbolic link '" + next + "'";
        current = target;
    }
    return "";
}
