// libFuzzer target: any two texts as the two files of a comparison (split
// at the first NUL byte; no NUL: the second is empty). The hunks of the
// comparison must be byte for byte the ones dtl prints when it is run on
// all lines of both texts. Cut into pieces (with a tiny limit that forces
// the cuts), the hunks must still turn the first text into the second.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <dtl/dtl.hpp>

#include "config/UniDiff.h"
#include "config/UnifiedHunks.h"

namespace {
std::vector<std::string> linesOf(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> lines;
    std::string line;
    while (UniDiff::safeGetline(in, line)) lines.push_back(line);
    return lines;
}

std::string plainDtl(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    // dtl's large-input mode only reserves room for its path up front (a
    // slow allocation under the sanitizer); the hunks are the same without.
    dtl::Diff<std::string, std::vector<std::string>> diff(a, b);
    diff.compose();
    diff.composeUnifiedHunks();
    std::ostringstream out;
    diff.printUnifiedFormat(out);
    return out.str();
}

// Applies the hunks to a; traps on a hunk that does not fit.
std::vector<std::string> patched(const std::vector<std::string>& a, const std::string& hunks) {
    std::vector<std::string> out;
    size_t next = 0, at = 0;
    while (at < hunks.size()) {
        size_t end = hunks.find('\n', at);
        if (end == std::string::npos) __builtin_trap();
        const std::string line = hunks.substr(at, end - at);
        at = end + 1;
        if (line.compare(0, 4, "@@ -") == 0) {
            const size_t first = strtoul(line.c_str() + 4, nullptr, 10);
            if (first == 0 && a.empty()) continue;
            if (first < next + 1 || first > a.size() + 1) __builtin_trap();
            while (next + 1 < first) out.push_back(a[next++]);
        } else if (!line.empty() && line[0] == '+') {
            out.push_back(line.substr(1));
        } else if (!line.empty() && (line[0] == '-' || line[0] == ' ')) {
            if (next >= a.size() || line.compare(1, std::string::npos, a[next]) != 0) __builtin_trap();
            if (line[0] == ' ') out.push_back(a[next]);
            ++next;
        } else {
            __builtin_trap();
        }
    }
    while (next < a.size()) out.push_back(a[next++]);
    return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    const std::string first = input.substr(0, split);
    const std::string second = split == std::string::npos ? "" : input.substr(split + 1);
    const std::vector<std::string> a = linesOf(first), b = linesOf(second);

    const std::string hunks = UnifiedHunks::between(first, second);
    if (hunks != plainDtl(a, b)) __builtin_trap();
    if (patched(a, hunks) != b) __builtin_trap();
    if (patched(a, UnifiedHunks::between(first, second, 4)) != b) __builtin_trap();
    return 0;
}
