#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "db/nexa_hdr1_t.h"

class logEngine;

// What the inspection found out about one part of an image file.
struct NexaImagePart {
    enum CrcVerdict { CrcNotChecked, CrcGood, CrcBad };

    int number = 0;        // 0 for the first part
    uint64_t offset = 0;   // position of its header in the file
    int headerLength = 0;  // 52 or 128
    nexa_hdr1_t header{};
    uint64_t dataLength = 0;  // len, or len2 for image type 12
    CrcVerdict crc = CrcNotChecked;
    uint32_t computedCrc = 0;  // valid when crc is CrcGood or CrcBad
    std::string version;       // set for a system image with a good checksum
};

// NexaImage inspects a NEXA firmware image file (a single image or an MPKG
// package): it walks the headers, verifies lengths and CRC-32 checksums and
// derives the version text of the system image. Every finding goes to the
// log, each line beginning with "'<path>': " for the path given; nothing is
// thrown. The file is streamed once through a 64 KiB buffer, so memory use
// does not depend on the file's size.
//
// The log engine is borrowed and may be null (no log). One object inspects
// one file at a time; it is not shared between threads.
class NexaImage {
public:
    explicit NexaImage(logEngine* log);
    NexaImage(const NexaImage&) = delete;
    NexaImage& operator=(const NexaImage&) = delete;

    // Inspects the file at path. True when a version was found; version is
    // then the text of the last system image found, otherwise unchanged.
    // multiPart is set when the file turns out to be a package.
    bool readVersion(const std::string& path, std::string& version, bool& multiPart);

    // Called during readVersion for every part whose header could be read,
    // once the walk is done with that part (also when it failed there).
    void setPartListener(std::function<void(const NexaImagePart&)> listener) { partListener = std::move(listener); }
    // The message (without the path prefix) that ended the last readVersion
    // without a version; empty after a success or when no system image was in it.
    const std::string& failure() const { return lastFailure; }

    // The steps of the walk, on an open file at its current position.
    // 0 and the header length (52 or 128) in hdrlen; 1 at the end of the file;
    // -1 on a read error. An unknown header type is read as the short form.
    int get_hdr(const std::string& path, FILE* f, nexa_hdr1_t* hdr, int* hdrlen);
    // Plausibility checks; they only log. Returns 0.
    int check_hdr(const std::string& path, const nexa_hdr1_t* hdr);
    // Reads padded bytes and compares the CRC-32 of the first len with
    // expected: 0 when equal, 1 otherwise (also when the file is too short).
    int check_crc(const std::string& path, FILE* f, uint32_t expected, uint32_t len, uint64_t padded);
    // Compares the header of part `part` with its entry in the package index
    // (part 0's data). -1 on a read error, else 0 or 1. Keeps the file position.
    int mpkg_info_listing(const std::string& path, FILE* f, const nexa_hdr1_t* hdr, int part);
    // The 4-byte big-endian package length at the current position; 0 when
    // it cannot be read.
    uint32_t get_mpkg_len(const std::string& path, FILE* f);
    // The version text of a system-image header; false for other image types.
    bool image_info_short(const std::string& path, const nexa_hdr1_t* hdr, std::string& version);
    // Running CRC-32: feeds len bytes and returns the CRC-32 of everything fed
    // since the last reset; a null data resets the running value and returns 0.
    unsigned long get_crc(unsigned char* data, unsigned int len);

    // A package is not followed past this many parts (real ones have a few).
    static constexpr int kMaxParts = 1024;

private:
    enum class Step { Next, Done, Failed };
    struct Walk;

    bool walk(Walk& w);
    Step walkPart(Walk& w, NexaImagePart& part);
    FILE* openImage(const std::string& path, int64_t& size);
    void note(int facility, const std::string& path, const char* format, ...) __attribute__((format(printf, 4, 5)));
    void fail(const std::string& path, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void addv(int facility, const std::string& path, const char* format, va_list args, std::string* text);

    logEngine* log;
    std::function<void(const NexaImagePart&)> partListener;
    std::string lastFailure;
    std::string lastError;  // the latest error line, without the path
    unsigned long runningCrc;
    uint32_t lastComputedCrc;
    std::vector<unsigned char> block;
};
