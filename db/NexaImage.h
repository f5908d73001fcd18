#pragma once
#include <string>

class logEngine;

// NexaImage inspects a NEXA firmware image file (a single image or an MPKG
// package): it walks the headers, verifies lengths and CRC-32 checksums and
// derives the version text of the system image. Every finding goes to the
// log; nothing is thrown.
class NexaImage {
public:
    explicit NexaImage(logEngine* log);

    // Inspects the file at path. True when a version was found; version is
    // then the text of the last system image found, otherwise unchanged.
    // multiPart is set when the file turns out to be a package.
    bool readVersion(const std::string& path, std::string& version, bool& multiPart);

private:
    logEngine* log;
};
