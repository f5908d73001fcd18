#include "tests/image/ImageBuilder.h"

#include <zlib.h>
#include <algorithm>

namespace imagebuilder {

uint32_t crc32Of(const std::string& bytes, size_t length) {
    length = std::min(length, bytes.size());
    return static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(length)));
}

std::string be32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (24 - 8 * i));
    return s;
}

std::string headerBytes(const Part& part) {
    const Header& h = part.header;
    std::string b(h.longForm ? 128 : 52, '\0');
    b.replace(0, std::min<size_t>(h.platform.size(), 23), h.platform.substr(0, 23));
    b[23] = static_cast<char>(h.level);
    b[24] = static_cast<char>(h.major);
    b[25] = static_cast<char>(h.minor);
    b[26] = static_cast<char>(h.revision);
    b[27] = static_cast<char>(h.type);
    b[31] = static_cast<char>(h.hdrType.value_or(h.longForm ? 1 : 0));
    uint32_t len = h.len.value_or(static_cast<uint32_t>(part.data.size()));
    uint32_t dataLength = h.type == 12 ? h.len2 : len;
    b.replace(32, 4, be32(len));
    b.replace(36, 4, be32(h.len2));
    b.replace(44, 4, be32(h.crc.value_or(crc32Of(part.data, dataLength))));
    b.replace(48, 4, be32(h.crc2));
    if (h.longForm) {
        b.replace(62, std::min<size_t>(h.name.size(), 32), h.name.substr(0, 32));
        b[94] = static_cast<char>(h.hdrLen >> 8);
        b[95] = static_cast<char>(h.hdrLen);
        b[96] = static_cast<char>(h.level2);
        b.replace(98, 30, std::string(30, static_cast<char>(h.padByte)));
    }
    return b;
}

std::string partBytes(const Part& part) {
    std::string b = headerBytes(part) + part.data;
    if (part.padded) b.append((4 - part.data.size() % 4) % 4, '\0');
    return b;
}

std::string singleImage(const Part& part) {
    return partBytes(part);
}

std::string package(const Part& first, const std::vector<Part>& rest, std::optional<uint32_t> lengthWord) {
    std::string tail;
    for (const Part& p : rest) tail += partBytes(p);
    return partBytes(first) + be32(lengthWord.value_or(static_cast<uint32_t>(tail.size()))) + tail;
}

std::string indexInfo(uint32_t indexWord) {
    std::string info(44, '\0');
    info.replace(12, 4, be32(indexWord));
    return info;
}

std::string indexedPackage(Part first, const std::vector<Part>& rest, unsigned entries,
                           std::optional<uint32_t> tableOffset) {
    std::string table;
    for (unsigned i = 0; i < entries && i < rest.size(); ++i) {
        std::string entry = headerBytes(rest[i]);
        entry.resize(128, '\0');
        table += entry;
    }
    uint32_t word = (entries & 0xffu) << 24 | (tableOffset.value_or(44) & 0xffffffu);
    first.header.type = 1;
    first.data = indexInfo(word) + table + first.data;
    return package(first, rest);
}

Part systemPart(const std::string& data, bool longForm) {
    Part p;
    p.data = data;
    p.header.longForm = longForm;
    return p;
}

std::string nexaSystemImage(uint8_t revision) {
    Part part = systemPart(std::string(4000, 'n'));
    part.header.revision = revision;
    return singleImage(part);
}

}  // namespace imagebuilder
