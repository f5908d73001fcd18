#include "util/AwaitedText.h"

#include <cstring>

namespace {
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
}  // namespace

size_t AwaitedText::findIn(const char* subject, size_t length, size_t from) const {
    if (text_.empty()) return std::string::npos;
    if (prompt_) {
        size_t end = length;
        while (end > 0 && isBlank(subject[end - 1])) --end;
        if (end < text_.size()) return std::string::npos;
        size_t start = end - text_.size();
        return memcmp(subject + start, text_.data(), text_.size()) == 0 ? start : std::string::npos;
    }
    if (from >= length) return std::string::npos;
    const void* hit = memmem(subject + from, length - from, text_.data(), text_.size());
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - subject) : std::string::npos;
}

ExpectRegex AwaitedText::promptPattern(const std::string& patternString) {
    ExpectRegex regex(patternString);
    // What the pattern matched must not end in a line end (a pattern that
    // allows white space after the prompt would let "prompt\r\n" count);
    // then only blanks may follow up to the end of the output.
    regex.pattern = "(?:" + regex.pattern + ")(?<![\\r\\n])[ \\t]*\\z";
    regex.atEnd = true;
    return regex;
}
