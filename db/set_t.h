#pragma once
#include <map>
#include <string>

// set_t holds the value of a SET-like column as a bit set over a name table
// (name -> bits) that the owner keeps alive for as long as the set_t. Lists
// of names are cut at "," without trimming; an unknown name is added to
// the table with 0 and so contributes no bit.
class set_t {
public:
    explicit set_t(std::map<std::string, unsigned long long>& table);

    set_t& operator=(unsigned long long bits);
    set_t& operator|=(unsigned long long bits);
    set_t& operator&=(unsigned long long bits);
    unsigned long long Value() const { return value; }

    void operator=(const std::string& list);   // the bits of the listed names only
    void operator+=(const std::string& list);  // adds the listed names
    void operator-=(const std::string& list);  // removes the listed names
    bool in_set(const std::string& name);
    // Every table name sharing a bit with the value, in table order, joined by ",".
    std::string& String();
    const char* c_str() { return String().c_str(); }

private:
    template <class Apply>
    void forEachName(const std::string& list, Apply apply);

    std::map<std::string, unsigned long long>& table;
    unsigned long long value = 0;
    std::string text;
};
