#include "db/NexaImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "util/logEngine.h"

// Lengths in the headers are unsigned 32-bit words and files may be larger
// than 2 GiB, so every length and position is computed in 64 bits; the log
// texts print the true values.

namespace {
constexpr size_t kBlockSize = 65536;
constexpr int kIndexInfoLength = 44;  // the bytes after part 0's header that hold the index word
constexpr int kIndexWordOffset = 12;
constexpr uint32_t kNoIndex = 0xFFFFFFFFu;

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

uint32_t be32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           static_cast<uint32_t>(p[3]);
}

long long asSigned(uint64_t v) {
    return static_cast<long long>(v);
}

bool seekTo(FILE* f, int64_t position) {
    return fseeko(f, static_cast<off_t>(position), SEEK_SET) == 0;
}

// Up to want bytes at position; fewer only at the end of the file, -1 on a
// read error.
ssize_t readAt(int fd, unsigned char* to, size_t want, off_t position) {
    size_t got = 0;
    while (got < want) {
        ssize_t n = pread(fd, to + got, want - got, position + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}
}  // namespace

struct NexaImage::Walk {
    std::string path;
    FILE* file = nullptr;
    int64_t remaining = 0;  // bytes of the file (or package) not yet walked
    int part = 0;
    bool found = false;
    bool multiPart = false;
    std::string version;
};

NexaImage::NexaImage(logEngine* logger) : log(logger), runningCrc(0), lastComputedCrc(0) {}

bool NexaImage::readVersion(const std::string& path, std::string& version, bool& multiPart) {
    multiPart = false;
    lastFailure.clear();
    lastError.clear();
    int64_t size = 0;
    FilePtr file(openImage(path, size));
    if (!file) return false;

    Walk w;
    w.path = path;
    w.file = file.get();
    w.remaining = size;
    bool found = walk(w);
    multiPart = w.multiPart;
    if (found) {
        version = w.version;
        lastFailure.clear();
    }
    return found;
}

// Only regular files are inspected: opening a FIFO would wait for a writer
// forever, and a directory or device has no image in it. The descriptor is
// opened without blocking and checked before stdio gets it, so a file
// swapped between stat() and open() cannot slip through.
FILE* NexaImage::openImage(const std::string& path, int64_t& size) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        fail(path, "stat() failed");
        return nullptr;
    }
    int fd;
    do fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        fail(path, "fopen() failed");
        return nullptr;
    }
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        fail(path, "Not a regular file");
        return nullptr;
    }
    FILE* f = fdopen(fd, "rb");
    if (!f) {
        close(fd);
        fail(path, "fopen() failed");
        return nullptr;
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    size = st.st_size;
    return f;
}

bool NexaImage::walk(Walk& w) {
    for (w.part = 0;; ++w.part) {
        if (w.part == kMaxParts) {
            fail(w.path, "Too many parts (more than %d)", kMaxParts);
            return false;
        }
        if (w.multiPart && w.part == 1) {
            uint32_t packageLength = get_mpkg_len(w.path, w.file);
            if (static_cast<int64_t>(packageLength) != w.remaining - 4) {
                fail(w.path, "Bad MPKG-length: %u != %lld", packageLength, static_cast<long long>(w.remaining - 4));
                return false;
            }
            w.remaining = packageLength;
        }

        NexaImagePart part;
        part.number = w.part;
        part.offset = static_cast<uint64_t>(std::max<off_t>(ftello(w.file), 0));
        if (get_hdr(w.path, w.file, &part.header, &part.headerLength) != 0) {
            if (w.part > 0) return w.found;
            fail(w.path, "Could not get header");
            return false;
        }
        Step step = walkPart(w, part);
        if (partListener) partListener(part);
        if (step == Step::Failed) return false;
        if (step == Step::Done) return w.found;
    }
}

NexaImage::Step NexaImage::walkPart(Walk& w, NexaImagePart& part) {
    const nexa_hdr1_t& hdr = part.header;
    if (mpkg_info_listing(w.path, w.file, &hdr, w.part) == -1) {
        lastFailure = lastError;
        return Step::Failed;
    }

    uint64_t length = hdr.image_type == nexa_hdr1_t::IT_LEN2 ? hdr.len2 : hdr.len;
    part.dataLength = length;
    w.remaining -= part.headerLength;
    if (static_cast<int64_t>(length) > w.remaining) {
        fail(w.path, "Bad header-length: %lld > %lld", asSigned(length), static_cast<long long>(w.remaining));
        return Step::Failed;
    }
    // Data is stored padded to 4 bytes, so only bytes beyond the padding
    // make a package: a single image of 10 bytes fills 12 and is no package.
    const uint64_t padded = (length + 3) & ~uint64_t(3);
    if (!w.multiPart && static_cast<int64_t>(padded) < w.remaining) {
        note(logEngine::INF, w.path, "Assuming MPKG (file-length %lld > %lld)", static_cast<long long>(w.remaining),
             asSigned(length));
        w.multiPart = true;
    }
    check_hdr(w.path, &hdr);

    int crcResult = check_crc(w.path, w.file, hdr.crc, static_cast<uint32_t>(length), padded);
    part.computedCrc = lastComputedCrc;
    if (crcResult != 0) {
        part.crc = NexaImagePart::CrcBad;
        fail(w.path, "Bad CRC-sum (size %lld)", asSigned(length));
        return Step::Failed;
    }
    part.crc = NexaImagePart::CrcGood;

    std::string version;
    if (image_info_short(w.path, &hdr, version)) {
        note(logEngine::INF, w.path, "Found NEXA-version '%s'", version.c_str());
        w.version = version;
        w.found = true;
        part.version = version;
    }
    // A missing padding at the very end makes this negative; the file has
    // ended then.
    w.remaining -= static_cast<int64_t>(padded);
    if (w.remaining <= 0 || !w.multiPart) return Step::Done;
    return Step::Next;
}

int NexaImage::get_hdr(const std::string& path, FILE* f, nexa_hdr1_t* hdr, int* hdrlen) {
    unsigned char raw[nexa_hdr1_t::kLongLength];
    if (fread(raw, 1, nexa_hdr1_t::kShortLength, f) != size_t(nexa_hdr1_t::kShortLength)) {
        if (ferror(f)) {
            note(logEngine::ERR, path, "fread() failed [2]");
            return -1;
        }
        note(logEngine::DBG, path, "End-of-file reached [1]");
        return 1;
    }
    bool isLong = raw[31] == 1;
    if (isLong) {
        const size_t rest = nexa_hdr1_t::kLongLength - nexa_hdr1_t::kShortLength;
        if (fread(raw + nexa_hdr1_t::kShortLength, 1, rest, f) != rest) {
            note(logEngine::ERR, path, "fread() failed [3]");
            return -1;
        }
    }
    *hdr = nexa_hdr1_t::decode(raw, isLong);
    *hdrlen = isLong ? nexa_hdr1_t::kLongLength : nexa_hdr1_t::kShortLength;
    return 0;
}

int NexaImage::check_hdr(const std::string& path, const nexa_hdr1_t* hdr) {
    if (hdr->hdr_type > 1) note(logEngine::ERR, path, "Unrecognized hdr_type %d", hdr->hdr_type);
    // Both are byte counts: compared as unsigned, so a length of 2 GiB or
    // more is not taken for a negative one.
    if (hdr->len2 != 0 && hdr->len2 < hdr->len)
        note(logEngine::ERR, path, "Bad length-info: len2 (%u) < len (%u)", hdr->len2, hdr->len);
    if (hdr->longForm) {
        if (hdr->hdr_len != nexa_hdr1_t::kLongLength) {
            note(logEngine::ERR, path, "Bad length-info: hdr_len (%u) <> %lu", unsigned(hdr->hdr_len),
                 static_cast<unsigned long>(nexa_hdr1_t::kLongLength));
        } else if (std::any_of(std::begin(hdr->padding), std::end(hdr->padding), [](uint8_t b) { return b != 0xff; })) {
            note(logEngine::ERR, path, "Not all padding-bytes are 0xff");
        }
    }
    return 0;
}

// The data is read straight from the descriptor into our block: going
// through stdio would copy every byte once more and split each block into
// two reads. The stdio position is moved past the bytes read afterwards.
int NexaImage::check_crc(const std::string& path, FILE* f, uint32_t expected, uint32_t len, uint64_t padded) {
    if (block.size() < kBlockSize) block.resize(kBlockSize);
    get_crc(nullptr, 0);
    lastComputedCrc = 0;
    const off_t start = ftello(f);
    if (start < 0) {
        note(logEngine::ERR, path, "fread() failed [1]");
        return 1;
    }
    unsigned long sum = 0;
    uint64_t done = 0;
    int result = 0;
    while (done < padded) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(kBlockSize, padded - done));
        ssize_t got = readAt(fileno(f), block.data(), want, start + static_cast<off_t>(done));
        if (got < 0) {
            note(logEngine::ERR, path, "fread() failed [1]");
            result = 1;
            break;
        }
        uint64_t dataLeft = len > done ? len - done : 0;
        size_t dataHere = static_cast<size_t>(std::min<uint64_t>(static_cast<size_t>(got), dataLeft));
        if (dataHere > 0) sum = get_crc(block.data(), static_cast<unsigned int>(dataHere));
        done += static_cast<size_t>(got);
        if (static_cast<size_t>(got) < want) {
            // The padding of the last image may be missing; its data may not.
            if (static_cast<uint64_t>(got) < dataLeft) {
                note(logEngine::ERR, path, "Image too short (%lld bytes missing)", asSigned(dataLeft - got));
                result = 1;
            }
            break;
        }
    }
    if (!seekTo(f, start + static_cast<int64_t>(done)) && result == 0) {
        note(logEngine::ERR, path, "fread() failed [1]");
        result = 1;
    }
    if (result != 0) return result;
    if (len == 0) sum = 0;
    lastComputedCrc = static_cast<uint32_t>(sum);
    if (sum != expected) {
        unsigned computed = static_cast<unsigned>(sum);
        note(logEngine::ERR, path, "CRC-mismatch: %10u (0x%08x) != %10u (0x%08x)", computed, computed, expected,
             expected);
        return 1;
    }
    return 0;
}

int NexaImage::mpkg_info_listing(const std::string& path, FILE* f, const nexa_hdr1_t* hdr, int part) {
    if (part == 0 && hdr->image_type != nexa_hdr1_t::IT_MPKG_INDEX) {
        note(logEngine::DBG, path, "Ignoring 1st header");
        return 0;
    }
    const off_t position = ftello(f);
    // Every way out puts the read position back where the walk left it.
    auto restore = [&](int result) {
        if (position < 0 || fseeko(f, position, SEEK_SET) != 0) {
            note(logEngine::ERR, path, "fseek() failed");
            return -1;
        }
        return result;
    };

    unsigned char raw[nexa_hdr1_t::kLongLength];
    if (!seekTo(f, 0) || fread(raw, 1, nexa_hdr1_t::kShortLength, f) != size_t(nexa_hdr1_t::kShortLength)) {
        if (ferror(f)) {
            note(logEngine::ERR, path, "fread() failed [5]");
            return restore(-1);
        }
        note(logEngine::DBG, path, "End-of-file reached [2]");
        return restore(1);
    }
    const int firstHeaderLength = raw[31] == 1 ? nexa_hdr1_t::kLongLength : nexa_hdr1_t::kShortLength;
    unsigned char info[kIndexInfoLength] = {0};
    if (!seekTo(f, firstHeaderLength) || fread(info, 1, sizeof info, f) != sizeof info) {
        if (ferror(f)) {
            note(logEngine::ERR, path, "fread() failed [6]");
            return restore(-1);
        }
        note(logEngine::DBG, path, "End-of-file reached [3]");
    }

    const uint32_t indexWord = be32(info + kIndexWordOffset);
    if (indexWord == kNoIndex) {
        int result = restore(0);
        if (result == 0) note(logEngine::DBG, path, "NO_MPKG_IDX");
        return result;
    }
    const int entries = static_cast<int>(indexWord >> 24);
    const int64_t table = firstHeaderLength + static_cast<int64_t>(indexWord & 0xFFFFFF);
    // Entry i (from 1) copies the header of part i; only this part's entry
    // is read.
    if (entries == 0 || entries == 255 || part < 1 || part > entries) return restore(0);
    if (!seekTo(f, table + int64_t(part - 1) * nexa_hdr1_t::kLongLength) ||
        fread(raw, 1, nexa_hdr1_t::kLongLength, f) != size_t(nexa_hdr1_t::kLongLength)) {
        if (ferror(f)) {
            note(logEngine::ERR, path, "fread() failed [7]");
            return restore(-1);
        }
        note(logEngine::DBG, path, "End-of-file reached [4]");
        return restore(0);
    }
    const nexa_hdr1_t entry = nexa_hdr1_t::decode(raw, true);
    const int number = part + 1;
    if (entry.image_type != hdr->image_type) note(logEngine::DBG, path, "Type-check failed [%d]", number);
    if (entry.major != hdr->major || entry.minor != hdr->minor || entry.revision != hdr->revision ||
        entry.level != hdr->level)
        note(logEngine::DBG, path, "Release check-failed [%d]", number);
    if (entry.len != hdr->len || entry.len2 != hdr->len2) note(logEngine::DBG, path, "Len-check failed [%d]", number);
    if (entry.crc != hdr->crc || entry.crc2 != hdr->crc2) note(logEngine::DBG, path, "CRC-check failed [%d]", number);
    return restore(0);
}

uint32_t NexaImage::get_mpkg_len(const std::string& path, FILE* f) {
    unsigned char word[4];
    if (fread(word, 1, sizeof word, f) != sizeof word) {
        note(logEngine::ERR, path, "fread() failed [4]");
        return 0;
    }
    return be32(word);
}

bool NexaImage::image_info_short(const std::string& path, const nexa_hdr1_t* hdr, std::string& version) {
    if (hdr->image_type != nexa_hdr1_t::IT_ZIMAGE) {
        note(logEngine::DBG, path, "Skipping header (type %d != !IT_ZIMAGE)", hdr->image_type);
        return false;
    }
    note(logEngine::DBG, path, "Found router-platform: '%s'", hdr->platform);
    int level = hdr->level;
    if (level == 0) level = hdr->longForm ? hdr->level2 : 100;

    version =
        "V." + std::to_string(hdr->major) + "." + std::to_string(hdr->minor) + " Rev. " + std::to_string(hdr->revision);
    if (level < 100)
        version += " (Beta " + std::to_string(level) + ")";
    else if (level > 100)
        version += " (Patch " + std::to_string(level - 100) + ")";
    if (hdr->longForm && hdr->name[0] != '\0') note(logEngine::DBG, path, "Found name: '%s'", hdr->name);
    return true;
}

// zlib keeps the running value complemented: its start value 0 is the
// register value 0xFFFFFFFF, and each call returns the finished CRC-32 of
// all bytes fed so far.
unsigned long NexaImage::get_crc(unsigned char* data, unsigned int len) {
    if (data == nullptr) {
        runningCrc = crc32(0L, Z_NULL, 0);
        return 0;
    }
    runningCrc = crc32(runningCrc, data, len);
    return runningCrc;
}

void NexaImage::addv(int facility, const std::string& path, const char* format, va_list args, std::string* text) {
    const std::string message = logEngine::formatLine(format, args);
    if (text) *text = message;
    if (facility == logEngine::ERR) lastError = message;
    if (log) log->addLine(facility, "'%s': %s", path.c_str(), message.c_str());
}

void NexaImage::note(int facility, const std::string& path, const char* format, ...) {
    // Debug lines are formatted only when they are kept.
    if (facility == logEngine::DBG && (!log || !log->isDebug())) return;
    va_list args;
    va_start(args, format);
    addv(facility, path, format, args, nullptr);
    va_end(args);
}

void NexaImage::fail(const std::string& path, const char* format, ...) {
    va_list args;
    va_start(args, format);
    addv(logEngine::ERR, path, format, args, &lastFailure);
    va_end(args);
}
