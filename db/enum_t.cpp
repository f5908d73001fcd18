#include "db/enum_t.h"

#include <strings.h>

enum_t::enum_t(std::map<std::string, unsigned long long>& nameTable) : table(nameTable) {
    for (const auto& entry : table) names[static_cast<unsigned short>(entry.second)] = entry.first;
}

enum_t& enum_t::operator=(unsigned short newValue) {
    value = newValue;
    return *this;
}

int enum_t::operator=(const std::string& name) {
    value = static_cast<unsigned short>(table[name]);
    return value;
}

std::string& enum_t::String() {
    // Rebuilt over the old entries: a later name wins for a shared number.
    if (names.size() != table.size())
        for (const auto& entry : table) names[static_cast<unsigned short>(entry.second)] = entry.first;
    return names[value];
}

bool enum_t::operator==(const std::string& text) {
    return strcasecmp(String().c_str(), text.c_str()) == 0;
}

bool enum_t::operator!=(const std::string& text) {
    return !(*this == text);
}
