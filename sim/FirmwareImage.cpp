#include "sim/FirmwareImage.h"

#include <zlib.h>

#include <fstream>
#include <sstream>

namespace {

uint32_t be32(const std::string& bytes, size_t at) {
    return (uint32_t(uint8_t(bytes[at])) << 24) | (uint32_t(uint8_t(bytes[at + 1])) << 16) |
           (uint32_t(uint8_t(bytes[at + 2])) << 8) | uint32_t(uint8_t(bytes[at + 3]));
}

uint8_t byteAt(const std::string& bytes, size_t at) {
    return static_cast<uint8_t>(bytes[at]);
}

// One part at offset: checks it and returns the offset after its padding.
bool readPart(const std::string& bytes, size_t offset, size_t end, FirmwareImage& image, size_t& next,
              std::string& error) {
    if (end - offset < 52) {
        error = "truncated header";
        return false;
    }
    const uint8_t headerType = byteAt(bytes, offset + 31);
    if (headerType > 1) {
        error = "unknown header type " + std::to_string(headerType);
        return false;
    }
    const size_t headerLength = headerType == 1 ? 128 : 52;
    if (end - offset < headerLength) {
        error = "truncated header";
        return false;
    }
    const uint8_t type = byteAt(bytes, offset + 27);
    const uint32_t length = type == 12 ? be32(bytes, offset + 36) : be32(bytes, offset + 32);
    const size_t data = offset + headerLength;
    if (length > end - data) {
        error = "image shorter than its header says";
        return false;
    }
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data() + data), static_cast<uInt>(length));
    if (static_cast<uint32_t>(crc) != be32(bytes, offset + 44)) {
        error = "checksum error";
        return false;
    }
    next = data + ((length + 3u) & ~size_t(3));
    if (next > end) next = end;  // a missing last padding is tolerated
    if (type != 0) return true;
    std::string platform(bytes.data() + offset, 22);
    image.platform = platform.substr(0, platform.find('\0'));
    unsigned level = byteAt(bytes, offset + 23);
    if (level == 0) level = headerType == 1 ? byteAt(bytes, offset + 96) : 100;
    std::ostringstream version;
    version << "V." << unsigned(byteAt(bytes, offset + 24)) << "." << unsigned(byteAt(bytes, offset + 25)) << " Rev. "
            << unsigned(byteAt(bytes, offset + 26));
    if (level < 100) version << " (Beta " << level << ")";
    if (level > 100) version << " (Patch " << level - 100 << ")";
    image.version = version.str();
    return true;
}

}  // namespace

bool FirmwareImage::readNexa(const std::string& bytes, FirmwareImage& image, std::string& error) {
    image = FirmwareImage();
    size_t next = 0;
    if (!readPart(bytes, 0, bytes.size(), image, next, error)) return false;
    if (next == bytes.size()) return true;
    if (bytes.size() - next < 4) {
        error = "trailing bytes after image";
        return false;
    }
    const uint32_t count = be32(bytes, next);
    next += 4;
    if (count != bytes.size() - next) {
        error = "bad package length";
        return false;
    }
    image.package = true;
    while (next < bytes.size())
        if (!readPart(bytes, next, bytes.size(), image, next, error)) return false;
    return true;
}

std::string FirmwareImage::qxCliRelease(const std::string& bytes) {
    const std::string tag = "QXCLI-IMAGE ";
    if (bytes.compare(0, tag.size(), tag) != 0) return "";
    size_t end = bytes.find_first_of("\r\n", tag.size());
    if (end == std::string::npos || end - tag.size() > 64) return "";
    return bytes.substr(tag.size(), end - tag.size());
}

bool FirmwareImage::load(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    bytes = content.str();
    return true;
}
