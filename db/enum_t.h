#pragma once
#include <map>
#include <string>

// enum_t holds the value of an ENUM-like column as a number and reads and
// writes it by name over a name table (name -> number) that the owning
// record builds and keeps alive for as long as the enum_t. Looking up an
// unknown name adds it to the table with the number 0, so a name the table
// did not know is written back unchanged.
class enum_t {
public:
    explicit enum_t(std::map<std::string, unsigned long long>& table);

    enum_t& operator=(unsigned short value);
    // The table's number for name, cut to 16 bits; unknown names give 0.
    int operator=(const std::string& name);
    unsigned short Value() const { return value; }
    bool operator==(unsigned short other) const { return value == other; }
    // The name of the current value; "" when no name carries it.
    std::string& String();
    const char* c_str() { return String().c_str(); }
    // Compare String() with text, ignoring letter case.
    bool operator==(const std::string& text);
    bool operator!=(const std::string& text);

private:
    std::map<std::string, unsigned long long>& table;
    std::map<unsigned short, std::string> names;  // reverse of table
    unsigned short value = 0;
};
