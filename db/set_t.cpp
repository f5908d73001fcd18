#include "db/set_t.h"

set_t::set_t(std::map<std::string, unsigned long long>& nameTable) : table(nameTable) {}

set_t& set_t::operator=(unsigned long long bits) {
    value = bits;
    return *this;
}

set_t& set_t::operator|=(unsigned long long bits) {
    value |= bits;
    return *this;
}

set_t& set_t::operator&=(unsigned long long bits) {
    value &= bits;
    return *this;
}

template <class Apply>
void set_t::forEachName(const std::string& list, Apply apply) {
    size_t start = 0;
    for (;;) {
        size_t comma = list.find(',', start);
        apply(table[list.substr(start, comma == std::string::npos ? std::string::npos : comma - start)]);
        if (comma == std::string::npos) return;
        start = comma + 1;
    }
}

void set_t::operator=(const std::string& list) {
    value = 0;
    *this += list;
}

void set_t::operator+=(const std::string& list) {
    forEachName(list, [this](unsigned long long bits) { value |= bits; });
}

void set_t::operator-=(const std::string& list) {
    forEachName(list, [this](unsigned long long bits) { value &= ~bits; });
}

bool set_t::in_set(const std::string& name) {
    return (value & table[name]) != 0;
}

std::string& set_t::String() {
    text.clear();
    bool first = true;
    for (const auto& entry : table) {
        if ((entry.second & value) == 0) continue;
        if (!first) text += ",";
        text += entry.first;
        first = false;
    }
    return text;
}
