#pragma once
#include <string>
#include <vector>

// TextLines cuts a text into its lines the way the database stores a list
// of lines and the log file holds them: each "\n" ends one (so empty lines
// between line breaks stay), and text after the last "\n" is a last line
// when it is not empty (a log line the process died while writing).
class TextLines {
public:
    static std::vector<std::string> split(const std::string& text);
};
