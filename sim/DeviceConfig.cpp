#include "sim/DeviceConfig.h"

std::string DeviceConfig::examined(const std::string& line) {
    std::string text = line.substr(0, line.find('#'));
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool DeviceConfig::parse(const std::string& text, DeviceConfig& config, std::string& error) {
    config = DeviceConfig();
    bool rowOpen = false;
    size_t number = 0, start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        const std::string where = "line " + std::to_string(number);
        const std::string t = examined(line);
        if (!t.empty() && t[0] == '{') {
            if (config.tables.empty()) {
                error = where + ": row outside any table";
                return false;
            }
            if (rowOpen) {
                error = where + ": row opened twice in table " + config.tables.back().name;
                return false;
            }
            rowOpen = true;
        } else if (!t.empty() && t[0] == '}') {
            if (!rowOpen) {
                error = where + ": '}' without an open row";
                return false;
            }
            rowOpen = false;
        } else if (!t.empty() && !rowOpen) {
            config.tables.push_back({t, {}});
        }
        (config.tables.empty() ? config.preamble : config.tables.back().lines).push_back(line);
    }
    if (rowOpen) {
        error = "row of table " + config.tables.back().name + " not closed at the end";
        return false;
    }
    return true;
}

std::string DeviceConfig::render() const {
    std::string text;
    for (const auto& line : preamble) text += line + "\n";
    for (const auto& table : tables)
        for (const auto& line : table.lines) text += line + "\n";
    return text;
}

const DeviceConfig::Table* DeviceConfig::table(const std::string& name) const {
    for (const auto& candidate : tables)
        if (candidate.name == name) return &candidate;
    return nullptr;
}

void DeviceConfig::putTable(const Table& table) {
    for (auto& candidate : tables)
        if (candidate.name == table.name) {
            candidate = table;
            return;
        }
    tables.push_back(table);
}
