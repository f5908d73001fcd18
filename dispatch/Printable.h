#pragma once
#include <cstdio>
#include <string>

// A value from the database as it may appear in a log line: printable
// ASCII as it is, every other byte (and the backslash) as \xNN, so no
// value can start a line of its own or hide behind a control character.
inline std::string printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        }
    }
    return out;
}
