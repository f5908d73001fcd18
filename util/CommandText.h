#pragma once
#include <cstddef>
#include <string>

// CommandText tells whether a text can travel on a device's command line
// as it is. A device reads a command up to its line end, so a line feed,
// a carriage return or another control character in a value ends the
// command there and makes the rest a command of its own; the texts here
// name such a character for the log ("a line feed", "a NUL byte").
class CommandText {
public:
    // The position of the first control character (below 0x20, or 0x7f)
    // at or after from; npos when there is none.
    static size_t findControl(const std::string& text, size_t from = 0);
    // As findControl, but framing (when not NUL) does not count as the
    // first or the last byte of text: the family's own framing of a command.
    static size_t findControlOutsideFraming(const std::string& text, char framing);
    // As findControl, but a tab does not count (configuration text may
    // hold tabs).
    static size_t findControlButTab(const std::string& text);
    // "a line feed", "a carriage return", "a NUL byte", "a tab", or "the
    // control character 0x1b".
    static std::string describe(unsigned char c);
    // text for a log line: control characters written as \n, \r, \t, \0
    // or \xHH, so that the reader sees where the value would have broken.
    static std::string shown(const std::string& text);
};
