#pragma once
#include <istream>
#include <string>

class logEngine;
class Cordal_router;

// UniDiff compares two configuration files line by line and decides whether
// they hold the same configuration. The difference is kept as unified hunks
// (three context lines, no file headers) in diffText; on a difference the
// router's secrets are masked in it and it is written into the log as raw
// lines. log and router are not owned and must outlive the object.
class UniDiff {
public:
    UniDiff(logEngine* log, Cordal_router* router, const std::string& deviceType, const std::string& file1,
            const std::string& file2);

    // True when both files count as the same configuration: for NEXA devices
    // a difference of exactly one eight-line hunk that holds "Created by"
    // twice (the export time stamp), for qx.CLI devices no difference at
    // all. False when they differ or a file cannot be read.
    bool comparefiles();
    // Removes the second file, then the first; errors are ignored.
    void unlink();
    // Reads one line ending in "\n", "\r\n" or "\r" (or the end of input);
    // sets end-of-file only when nothing at all was read.
    static std::istream& safeGetline(std::istream& in, std::string& line);
    // Replaces every occurrence of value in diffText literally; an empty
    // value changes nothing.
    void replace(const std::string& value, const std::string& replacement);

    logEngine* log;
    Cordal_router* router;
    std::string deviceType;
    std::string file1;
    std::string file2;
    std::string diffText;

private:
    void maskSecrets();
};
