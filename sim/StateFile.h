#pragma once
#include <string>
#include <utility>
#include <vector>

// StateFile reads and writes the small text files of the state directory.
// Writes go to a temporary file that is renamed over the old one, so a
// reader (a test, a second look after a crash) sees the old or the new
// file, never half of one.
class StateFile {
public:
    // False when the file does not exist or cannot be read.
    static bool read(const std::string& path, std::string& content);
    static bool writeAtomically(const std::string& path, const std::string& content, std::string& error);

    // "key value" lines: the key is the first word, the value the rest of
    // the line after one blank (it may be empty or hold blanks). Blank
    // lines and lines starting with '#' are skipped.
    static std::vector<std::pair<std::string, std::string>> keyValueLines(const std::string& content);
    // The lines of a state file that carry an entry: without their line
    // ends, empty lines and '#' comments left out.
    static std::vector<std::string> entryLines(const std::string& content);
};
