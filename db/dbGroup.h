#pragma once
#include <memory>
#include <string>
#include <vector>

// dbGroup is a list class: it owns the records of one table that belong to
// one key, loaded by the list class built on it, and reads their fields by
// index. A field of an index that is not below the count reads "nostring".
// Record only needs to be complete where the list class is built and
// destroyed.
template <class Record>
class dbGroup {
public:
    dbGroup(const dbGroup&) = delete;
    dbGroup& operator=(const dbGroup&) = delete;

    unsigned long getNumParams() const { return static_cast<unsigned long>(records.size()); }

protected:
    dbGroup() = default;
    ~dbGroup() = default;

    std::string fieldAt(unsigned long i, std::string Record::*field) const {
        return i < records.size() ? records[i].get()->*field : std::string("nostring");
    }

    std::vector<std::unique_ptr<Record>> records;
};
