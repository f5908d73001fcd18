#include "db/nexa_hdr1_t.h"

#include <cstring>

namespace {
uint32_t be32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           static_cast<uint32_t>(p[3]);
}

// Copies a NUL-terminated field of the file; a field without its NUL is cut
// so that the text always ends inside our array.
void copyText(char* to, size_t size, const unsigned char* from) {
    size_t n = 0;
    while (n + 1 < size && from[n] != 0) ++n;
    memcpy(to, from, n);
    to[n] = '\0';
}
}  // namespace

nexa_hdr1_t nexa_hdr1_t::decode(const unsigned char* raw, bool isLong) {
    nexa_hdr1_t h;
    memset(&h, 0, sizeof h);
    copyText(h.platform, sizeof h.platform, raw);
    h.level = raw[23];
    h.major = raw[24];
    h.minor = raw[25];
    h.revision = raw[26];
    h.image_type = raw[27];
    h.hdr_type = raw[31];
    h.len = be32(raw + 32);
    h.len2 = be32(raw + 36);
    h.crc = be32(raw + 44);
    h.crc2 = be32(raw + 48);
    h.longForm = isLong;
    if (isLong) {
        copyText(h.name, sizeof h.name, raw + 62);
        h.hdr_len = static_cast<uint16_t>(raw[94] << 8 | raw[95]);
        h.level2 = raw[96];
        memcpy(h.padding, raw + kPaddingOffset, sizeof h.padding);
    }
    return h;
}
