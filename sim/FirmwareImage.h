#pragma once
#include <cstdint>
#include <string>

// FirmwareImage is the simulated devices' own reading of image files.
//
// NEXA: a file is a single image (a 52- or 128-byte header, its data,
// padding to 4 bytes) or a multi-part package (part 0, a 4-byte big-endian
// count of the bytes after it, then more parts). The device checks every
// part's lengths and CRC-32 and takes its version from the last system
// image part (type 0): "V.MAJOR.MINOR Rev. REVISION", with " (Beta N)" or
// " (Patch N)" for levels below or above 100.
//
// qx.CLI: an image starts with the line "QXCLI-IMAGE RELEASE"; the device
// reports RELEASE after it booted from it.
struct FirmwareImage {
    bool package = false;
    std::string platform;
    std::string version;  // "" when no part is a system image

    // False with the device's reason in error.
    static bool readNexa(const std::string& bytes, FirmwareImage& image, std::string& error);
    // The release named by a qx.CLI image's first line; "" when it has none.
    static std::string qxCliRelease(const std::string& bytes);
    // The whole file; false when it cannot be read.
    static bool load(const std::string& path, std::string& bytes);
};
