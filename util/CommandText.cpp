#include "util/CommandText.h"

#include <cstdio>

size_t CommandText::findControl(const std::string& text, size_t from) {
    for (size_t at = from; at < text.size(); ++at) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c < 0x20 || c == 0x7f) return at;
    }
    return std::string::npos;
}

size_t CommandText::findControlOutsideFraming(const std::string& text, char framing) {
    for (size_t at = findControl(text); at != std::string::npos; at = findControl(text, at + 1)) {
        const bool atEnd = at == 0 || at + 1 == text.size();
        if (framing == '\0' || text[at] != framing || !atEnd) return at;
    }
    return std::string::npos;
}

size_t CommandText::findControlButTab(const std::string& text) {
    for (size_t at = findControl(text); at != std::string::npos; at = findControl(text, at + 1))
        if (text[at] != '\t') return at;
    return std::string::npos;
}

std::string CommandText::describe(unsigned char c) {
    switch (c) {
        case '\n':
            return "a line feed";
        case '\r':
            return "a carriage return";
        case '\0':
            return "a NUL byte";
        case '\t':
            return "a tab";
        default: {
            char text[40];
            snprintf(text, sizeof text, "the control character 0x%02x", c);
            return text;
        }
    }
}

std::string CommandText::shown(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c != 0x7f) {
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\0') {
            out += "\\0";
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}
