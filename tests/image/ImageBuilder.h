#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Writes NEXA firmware image files for the tests, byte by byte from the file
// format (it shares no code with the inspection): single images with short
// or long headers, and MPKG packages with or without an index. Lengths,
// checksums, padding and the package length word are right unless a test
// asks for a wrong one.
namespace imagebuilder {

struct Header {
    std::string platform = "RX5000";
    uint8_t level = 100;
    uint8_t major = 7;
    uint8_t minor = 10;
    uint8_t revision = 2;
    uint8_t type = 0;                // 0 system image, 1 package index in part 0, 12 length in len2
    bool longForm = false;           // 128-byte header (byte 31 = 1)
    std::optional<uint8_t> hdrType;  // byte 31 as given, instead of longForm's value
    std::optional<uint32_t> len;     // default: the data's size
    uint32_t len2 = 0;
    std::optional<uint32_t> crc;  // default: CRC-32 of the first len data bytes
    uint32_t crc2 = 0;
    std::string name;        // long form
    uint16_t hdrLen = 128;   // long form
    uint8_t level2 = 0;      // long form
    uint8_t padByte = 0xff;  // long form, bytes 98..127
};

struct Part {
    Header header;
    std::string data;
    bool padded = true;  // data padded with zeros to a multiple of 4
};

uint32_t crc32Of(const std::string& bytes, size_t length);
std::string be32(uint32_t value);

// The header bytes (52 or 128) of a part, with its defaults filled in.
std::string headerBytes(const Part& part);
// Header, data and padding.
std::string partBytes(const Part& part);

std::string singleImage(const Part& part);

// Part 0, the length word, then the other parts. lengthWord replaces the
// right count of bytes after it.
std::string package(const Part& first, const std::vector<Part>& rest, std::optional<uint32_t> lengthWord = {});

// The 44 bytes that follow part 0's header, holding the index word.
std::string indexInfo(uint32_t indexWord);
// A package whose part 0 (type 1) carries an index of entries copies of
// the headers of rest[0..entries-1]; its table follows the 44 info bytes.
// tableOffset replaces the table position in the index word.
std::string indexedPackage(Part first, const std::vector<Part>& rest, unsigned entries,
                           std::optional<uint32_t> tableOffset = {});

// A system image of the given data with the default header.
Part systemPart(const std::string& data, bool longForm = false);

// A whole single image of RX5000 V.7.10 of the given revision, the system
// image the end-to-end tests install (4000 data bytes).
std::string nexaSystemImage(uint8_t revision);

}  // namespace imagebuilder
