#pragma once
#include <string>
#include <string_view>

// MappedFile holds the bytes of a file for reading: mapped into memory where
// the file is a regular one (no copy, pages straight from the page cache),
// read in one pass otherwise. The file must not be shortened while it is
// held.
class MappedFile {
public:
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // False when the file cannot be opened or read; text() is then empty.
    bool ok() const { return good; }
    std::string_view text() const { return {data, size}; }

private:
    bool good = false;
    const char* data = nullptr;
    size_t size = 0;
    void* mapping = nullptr;  // what to unmap, when mapped
    std::string copy;         // the bytes, when read
};
