#pragma once
#include <string>
#include <vector>

// DeviceConfig is one configuration as the device reads it: a preamble of
// lines before the first table, then tables, each a name line followed by
// rows between "{" and "}" lines. "#" starts a comment; blanks, tabs and
// line ends around a line do not count. The lines are kept as they were
// written (without their line ends), so a configuration the device only
// stores comes back byte for byte when rendered.
class DeviceConfig {
public:
    struct Table {
        std::string name;
        std::vector<std::string> lines;  // the name line first
    };

    // False with a message naming the line for text the device refuses: a
    // row outside any table, a row opened twice, a "}" without row, a row
    // still open at the end.
    static bool parse(const std::string& text, DeviceConfig& config, std::string& error);
    // The lines joined with "\n", ending in one.
    std::string render() const;

    const Table* table(const std::string& name) const;
    // Replaces the table of that name, or appends it when there is none.
    void putTable(const Table& table);

    // The examined part of a line: without comment and surrounding blanks.
    static std::string examined(const std::string& line);

    std::vector<std::string> preamble;
    std::vector<Table> tables;
};
