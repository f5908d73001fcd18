#include "util/ExpectRegex.h"

#include <ostream>
#include <stdexcept>

ExpectRegex::ExpectRegex(const char* text) {
    parseString(text ? text : "");
}

ExpectRegex::ExpectRegex(const std::string& text) {
    parseString(text);
}

ExpectRegex::ExpectRegex(const std::string& pattern_, const std::string& flags_) : pattern(pattern_), flags(flags_) {}

ExpectRegex::~ExpectRegex() = default;

void ExpectRegex::parseString(const std::string& text) {
    if (text.empty()) throw std::out_of_range("ExpectRegex::parseString: empty pattern text");
    size_t lastSlash = text.rfind('/');
    if (text[0] == '/' && lastSlash != 0) {
        pattern = text.substr(1, lastSlash - 1);
        flags = text.substr(lastSlash + 1);
    } else {
        pattern = text;
        flags.clear();
    }
}

std::ostream& operator<<(std::ostream& out, const ExpectRegex& regex) {
    return out << '/' << regex.pattern << '/' << regex.flags;
}
