#pragma once
#include <cstdint>

// nexa_hdr1_t is one firmware image header, decoded from the bytes of the
// file (numbers there are big-endian). The short form is 52 bytes, the long
// form 128; byte 31 (hdr_type) says which. Texts are NUL-terminated here
// whatever the file holds. Fields of the long form are zero in a short one.
struct nexa_hdr1_t {
    static constexpr int kShortLength = 52;
    static constexpr int kLongLength = 128;
    static constexpr int kPaddingOffset = 98;    // long form: 0xff up to the end
    static constexpr uint8_t IT_ZIMAGE = 0;      // the system image
    static constexpr uint8_t IT_MPKG_INDEX = 1;  // package whose part 0 holds the index
    static constexpr uint8_t IT_LEN2 = 12;       // takes its data length from len2

    char platform[23];  // at most 22 characters
    uint8_t level;      // 100 release, < 100 beta, > 100 patch; 0: see level2
    uint8_t major;
    uint8_t minor;
    uint8_t revision;
    uint8_t image_type;
    uint8_t hdr_type;  // 0 short form, 1 long form
    uint32_t len;
    uint32_t len2;
    uint32_t crc;
    uint32_t crc2;
    char name[32];  // long form only; at most 31 characters
    uint16_t hdr_len;
    uint8_t level2;
    uint8_t padding[30];
    bool longForm;  // decoded from 128 bytes

    // raw holds kLongLength bytes when longForm, else kShortLength.
    static nexa_hdr1_t decode(const unsigned char* raw, bool longForm);
};
