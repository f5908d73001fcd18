#pragma once
#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "util/logEngine.h"

// Small helpers shared by the database tests.
namespace dbtest {

// The log's lines with long lines joined again (the log wraps them at 100
// characters with a line break and an indent of 28 blanks).
inline std::vector<std::string> logLines(const logEngine& log) {
    std::vector<std::string> lines;
    log.fillVector(lines);
    const std::string continuation = "\n" + std::string(28, ' ');
    for (auto& line : lines)
        for (size_t pos; (pos = line.find(continuation)) != std::string::npos;) line.erase(pos, continuation.size());
    return lines;
}

// Lines of the log (with their "DB  - " / "DBG - " prefix) that contain text.
inline int countLines(const logEngine& log, const std::string& text) {
    int n = 0;
    for (const auto& line : logLines(log))
        if (line.find(text) != std::string::npos) ++n;
    return n;
}

inline bool hasLine(const logEngine& log, const std::string& text) {
    return countLines(log, text) > 0;
}

// Whether text appears in a line that is not a debug line.
inline bool inOrdinaryLog(const logEngine& log, const std::string& text) {
    for (const auto& line : logLines(log))
        if (line.find(text) != std::string::npos && line.find("DBG - ") == std::string::npos) return true;
    return false;
}

// Every byte but NUL, plus the characters that SQL and XML treat specially.
inline std::string hostileText() {
    std::string text = "O'Brien\\ \"quoted\" <a&b>\n\r\tline\\n'';--";
    for (int c = 1; c < 256; ++c) text += static_cast<char>(c);
    return text;
}

// Short enough for a VARBINARY(255) column, still with every byte 0x80-0xFF.
inline std::string hostileShortText() {
    std::string text = "O'Brien\\ \"q\" <a&b>\n\r\t";
    for (int c = 1; c < 32; ++c) text += static_cast<char>(c);
    for (int c = 127; c < 256; ++c) text += static_cast<char>(c);
    return text;
}

// Prints the log of a failed test, which holds the refused statements.
inline void printLogIfFailed(const logEngine& log) {
    if (::testing::Test::HasFailure())
        for (const auto& line : logLines(log)) std::cerr << line << "\n";
}

}  // namespace dbtest
