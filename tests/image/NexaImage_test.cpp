#include "db/NexaImage.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <algorithm>
#include <cstring>

#include "tests/image/ImageBuilder.h"
#include "tests/support/TestSupport.h"
#include "util/logEngine.h"

using namespace imagebuilder;
using testsupport::TempDir;
using testsupport::writeFile;
using Lines = std::vector<std::string>;

namespace {

const char* const kUnchanged = "<unchanged>";

// Runs the inspection on files of a per-test folder and gives the log back
// as "FAC message" lines, with the path prefix checked and removed.
class NexaImageTest : public ::testing::Test {
protected:
    TempDir dir;
    logEngine log{true};
    NexaImage image{&log};
    std::string path;
    std::string version;
    bool multiPart = false;
    std::vector<NexaImagePart> parts;

    void SetUp() override {
        image.setPartListener([this](const NexaImagePart& p) { parts.push_back(p); });
    }

    std::string put(const std::string& bytes, const std::string& name = "img") {
        path = dir.file(name);
        writeFile(path, bytes);
        return path;
    }

    bool inspect(const std::string& bytes) { return inspectPath(put(bytes)); }

    bool inspectPath(const std::string& p) {
        path = p;
        version = kUnchanged;
        parts.clear();
        log = logEngine(true);
        return image.readVersion(path, version, multiPart);
    }

    Lines messages() {
        std::vector<std::string> raw;
        log.fillVector(raw);
        Lines out;
        const std::string wrap = "\n" + std::string(28, ' ');
        for (std::string line : raw) {
            for (size_t at; (at = line.find(wrap)) != std::string::npos;) line.erase(at, wrap.size());
            if (!line.empty() && line.front() == '\n') line.erase(0, 1);
            if (!line.empty() && line.back() == '\n') line.pop_back();
            std::string facility = line.substr(22, 3);
            std::string text = line.substr(28);
            const std::string prefix = "'" + path + "': ";
            EXPECT_EQ(text.compare(0, prefix.size(), prefix), 0) << line;
            out.push_back(facility + " " + text.substr(std::min(prefix.size(), text.size())));
        }
        return out;
    }

    bool logged(const std::string& message) {
        Lines m = messages();
        return std::find(m.begin(), m.end(), message) != m.end();
    }
};

std::string bytes(size_t n, char seed = 'a') {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7);
    return s;
}

Part otherPart(uint8_t type, const std::string& data) {
    Part p = systemPart(data);
    p.header.type = type;
    return p;
}

nexa_hdr1_t decoded(const Part& p) {
    std::string h = headerBytes(p);
    return nexa_hdr1_t::decode(reinterpret_cast<const unsigned char*>(h.data()), p.header.longForm);
}

}  // namespace

TEST_F(NexaImageTest, SingleImagesByExactSizeAndPadding) {
    // Header plus len bytes exactly: one version and no package messages.
    ASSERT_TRUE(inspect(singleImage(systemPart(bytes(16)))));
    EXPECT_EQ(version, "V.7.10 Rev. 2");
    EXPECT_FALSE(multiPart);
    EXPECT_EQ(messages(), (Lines{"DBG Ignoring 1st header", "DBG Found router-platform: 'RX5000'",
                                 "INF Found NEXA-version 'V.7.10 Rev. 2'"}));
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].crc, NexaImagePart::CrcGood);
    EXPECT_EQ(parts[0].headerLength, 52);

    // len 10 is stored as 12 bytes; only the first 10 are summed (the builder
    // pads with zeros, so a sum over 12 would differ).
    Part ten = systemPart(bytes(10), true);
    ten.header.name = "system.bin";
    ASSERT_TRUE(inspect(singleImage(ten)));
    // Its padding does not make it a package (that would add "-a" to the
    // device's update command).
    EXPECT_FALSE(multiPart);
    for (const std::string& m : messages()) EXPECT_EQ(m.find("MPKG"), std::string::npos) << m;
    EXPECT_TRUE(logged("DBG Found name: 'system.bin'"));
    EXPECT_EQ(parts[0].headerLength, 128);

    // Padding that is missing at the very end is tolerated.
    ten.padded = false;
    EXPECT_TRUE(inspect(singleImage(ten)));

    // A wrong checksum: both values in both forms, then the verdict.
    Part bad = systemPart(bytes(16));
    bad.header.crc = 0x12345678;
    std::string file = singleImage(bad);
    std::string wanted = file;
    wanted.replace(44, 4, be32(crc32Of(bytes(16), 16)));
    EXPECT_FALSE(inspect(file));
    char expected[128];
    uint32_t real = crc32Of(bytes(16), 16);
    snprintf(expected, sizeof expected, "ERR CRC-mismatch: %10u (0x%08x) !=  305419896 (0x12345678)", real, real);
    EXPECT_TRUE(logged(expected)) << testing::PrintToString(messages());
    EXPECT_TRUE(logged("ERR Bad CRC-sum (size 16)"));
    EXPECT_EQ(image.failure(), "Bad CRC-sum (size 16)");
    EXPECT_EQ(version, kUnchanged);
    EXPECT_EQ(parts[0].crc, NexaImagePart::CrcBad);
    EXPECT_EQ(parts[0].computedCrc, real);
    EXPECT_TRUE(inspect(wanted));
}

TEST_F(NexaImageTest, LengthsThatDoNotFitTheFile) {
    // Lengths near and above 2^31 are byte counts, not negative numbers.
    for (uint32_t len : {17u, 0x7fffffffu, 0x80000000u, 0xfffffffcu, 0xffffffffu}) {
        Part p = systemPart(bytes(16));
        p.header.len = len;
        EXPECT_FALSE(inspect(singleImage(p))) << len;
        EXPECT_TRUE(logged("ERR Bad header-length: " + std::to_string(len) + " > 16")) << len;
        EXPECT_EQ(parts.size(), 1u);
        EXPECT_EQ(parts[0].crc, NexaImagePart::CrcNotChecked);
    }
    // The same for len2 of an image of type 12.
    Part twelve = otherPart(12, bytes(16));
    twelve.header.len = 8;
    twelve.header.len2 = 0x80000010u;
    EXPECT_FALSE(inspect(singleImage(twelve)));
    EXPECT_TRUE(logged("ERR Bad header-length: 2147483664 > 16"));

    // Empty file.
    EXPECT_FALSE(inspect(""));
    EXPECT_EQ(messages(), (Lines{"DBG End-of-file reached [1]", "ERR Could not get header"}));
    // A long header cut short.
    EXPECT_FALSE(inspect(singleImage(systemPart(bytes(16), true)).substr(0, 100)));
    EXPECT_EQ(messages(), (Lines{"ERR fread() failed [3]", "ERR Could not get header"}));
}

TEST_F(NexaImageTest, FilesThatCannotBeInspected) {
    EXPECT_FALSE(inspectPath(dir.file("missing")));
    EXPECT_EQ(messages(), (Lines{"ERR stat() failed"}));

    // A directory, and a FIFO that would block an open() for ever.
    EXPECT_FALSE(inspectPath(dir.path()));
    EXPECT_EQ(messages(), (Lines{"ERR Not a regular file"}));
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(inspectPath(dir.file("fifo")));
    EXPECT_EQ(messages(), (Lines{"ERR Not a regular file"}));

    // stat() works but open() does not: a socket (for any user), a file
    // without read permission (only when not running as root).
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string sockPath = dir.file("sock");
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    memcpy(addr.sun_path, sockPath.c_str(), sockPath.size() + 1);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_FALSE(inspectPath(sockPath));
    EXPECT_EQ(messages(), (Lines{"ERR fopen() failed"}));
    close(s);
    if (geteuid() != 0) {
        put(singleImage(systemPart(bytes(8))), "locked");
        chmod(path.c_str(), 0);
        EXPECT_FALSE(inspectPath(path));
        EXPECT_EQ(messages(), (Lines{"ERR fopen() failed"}));
    }
    EXPECT_EQ(version, kUnchanged);
}

TEST_F(NexaImageTest, PackagesOfSeveralParts) {
    // Part 0 is not a system image; the version comes from part 1. Its data
    // is read as index information for the later parts, here "no index".
    Part first = otherPart(3, indexInfo(0xffffffffu).substr(0, 21));
    std::string pkg = package(first, {systemPart(bytes(30), true)});
    ASSERT_TRUE(inspect(pkg));
    EXPECT_TRUE(multiPart);
    EXPECT_EQ(version, "V.7.10 Rev. 2");
    const std::string rest = std::to_string(pkg.size() - 52);
    EXPECT_EQ(messages(), (Lines{"DBG Ignoring 1st header", "INF Assuming MPKG (file-length " + rest + " > 21)",
                                 "DBG Skipping header (type 3 != !IT_ZIMAGE)", "DBG NO_MPKG_IDX",
                                 "DBG Found router-platform: 'RX5000'", "INF Found NEXA-version 'V.7.10 Rev. 2'"}));
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[1].offset, 52u + 24u + 4u);

    // A length word that lies.
    uint32_t right = static_cast<uint32_t>(pkg.size() - 52 - 24 - 4);
    for (uint32_t lie : {right - 1, right + 1, 0x80000000u}) {
        EXPECT_FALSE(inspect(package(first, {systemPart(bytes(30), true)}, lie)));
        EXPECT_TRUE(logged("ERR Bad MPKG-length: " + std::to_string(lie) + " != " + std::to_string(right)));
        EXPECT_EQ(parts.size(), 1u);
    }

    // A later system image replaces the version of an earlier one; a type-12
    // part is measured by len2; a failure after a version gives none.
    Part twelve = otherPart(12, bytes(20));
    twelve.header.len = 8;
    twelve.header.len2 = 20;
    Part newer = systemPart(bytes(5));
    newer.header.major = 8;
    newer.header.level = 101;
    ASSERT_TRUE(inspect(package(first, {systemPart(bytes(9)), twelve, newer})));
    EXPECT_EQ(version, "V.8.10 Rev. 2 (Patch 1)");
    EXPECT_EQ(parts.size(), 4u);
    newer.header.crc = 1;
    EXPECT_FALSE(inspect(package(first, {systemPart(bytes(9)), newer})));
    EXPECT_EQ(version, kUnchanged);
    EXPECT_TRUE(multiPart);

    // Parts beyond the limit: the walk gives up.
    Part empty = systemPart("");
    std::vector<Part> many(NexaImage::kMaxParts - 1, empty);
    EXPECT_TRUE(inspect(package(otherPart(3, ""), many)));
    many.push_back(empty);
    EXPECT_FALSE(inspect(package(otherPart(3, ""), many)));
    EXPECT_EQ(image.failure(), "Too many parts (more than 1024)");
}

TEST_F(NexaImageTest, PackageIndex) {
    Part one = systemPart(bytes(30), true);
    Part two = otherPart(5, bytes(7));
    // An index that matches its parts: no check messages.
    ASSERT_TRUE(inspect(indexedPackage(otherPart(1, bytes(3)), {one, two}, 2)));
    for (const std::string& m : messages()) EXPECT_EQ(m.find("check"), std::string::npos) << m;

    // An entry that differs in every respect, numbered as part + 1.
    Part liar = one;
    liar.header.type = 4;
    liar.header.major = 9;
    liar.header.len = 31;
    liar.header.crc2 = 5;
    std::string entry = headerBytes(liar);
    Part first = otherPart(1, indexInfo(1u << 24 | 44) + entry);
    ASSERT_TRUE(inspect(package(first, {one, two})));
    Lines m = messages();
    Lines checks;
    for (const std::string& line : m)
        if (line.find("check") != std::string::npos) checks.push_back(line);
    EXPECT_EQ(checks, (Lines{"DBG Type-check failed [2]", "DBG Release check-failed [2]", "DBG Len-check failed [2]",
                             "DBG CRC-check failed [2]"}));

    // N = 255 and N = 0 mean no entries; a table outside the file is noted
    // and does not stop the walk.
    for (uint32_t word : {255u << 24 | 44, 0u << 24 | 44}) {
        ASSERT_TRUE(inspect(package(otherPart(1, indexInfo(word) + entry), {one, two})));
        for (const std::string& line : messages()) EXPECT_EQ(line.find("check"), std::string::npos) << line;
    }
    ASSERT_TRUE(inspect(indexedPackage(otherPart(1, ""), {one, two}, 2, 0xfffff0)));
    EXPECT_TRUE(logged("DBG End-of-file reached [4]"));

    // An index part alone, too short for the index information.
    EXPECT_FALSE(inspect(singleImage(otherPart(1, bytes(4)))));
    EXPECT_TRUE(logged("DBG End-of-file reached [3]"));
    EXPECT_EQ(image.failure(), "");
}

TEST_F(NexaImageTest, TruncatedAtEveryOffset) {
    // Only the whole package has a version: part 0 is the index part, so no
    // shorter file can be read as a single system image.
    std::string pkg = indexedPackage(otherPart(1, bytes(10)), {systemPart(bytes(30), true), otherPart(5, bytes(7))}, 2);
    for (size_t cut = 0; cut < pkg.size(); ++cut) {
        ASSERT_FALSE(inspect(pkg.substr(0, cut))) << cut;
        ASSERT_FALSE(messages().empty()) << cut;
    }
    ASSERT_TRUE(inspect(pkg));

    // A single image has one only when nothing but padding is missing.
    std::string single = singleImage(systemPart(bytes(29), true));
    for (size_t cut = 0; cut <= single.size(); ++cut)
        ASSERT_EQ(inspect(single.substr(0, cut)), cut >= single.size() - 3) << cut;
}

TEST_F(NexaImageTest, HeaderChecksOnlyLog) {
    struct Case {
        const char* what;
        Part part;
        Lines expected;
    };
    Part base = systemPart(bytes(16));
    Part longBase = systemPart(bytes(16), true);
    std::vector<Case> cases;
    auto add = [&](const char* what, Part p, Lines expected) { cases.push_back({what, p, expected}); };
    Part p = base;
    p.header.hdrType = 2;
    add("unknown header type, read as the short form", p, {"ERR Unrecognized hdr_type 2"});
    p = base;
    p.header.len2 = 15;
    add("len2 below len", p, {"ERR Bad length-info: len2 (15) < len (16)"});
    p.header.len2 = 0x80000000u;
    add("len2 of 2^31 is above len", p, {});
    p = longBase;
    p.header.hdrLen = 127;
    add("hdr_len", p, {"ERR Bad length-info: hdr_len (127) <> 128"});
    p = longBase;
    p.header.padByte = 0xfe;
    add("padding", p, {"ERR Not all padding-bytes are 0xff"});
    p = base;
    p.header.padByte = 0;
    add("no padding in the short form", p, {});

    for (const Case& c : cases) {
        EXPECT_TRUE(inspect(singleImage(c.part))) << c.what;
        Lines errors;
        for (const std::string& line : messages())
            if (line.compare(0, 3, "ERR") == 0) errors.push_back(line);
        EXPECT_EQ(errors, c.expected) << c.what;
    }
}

TEST_F(NexaImageTest, VersionTextAndLevels) {
    struct Case {
        bool longForm;
        uint8_t level, level2, type;
        const char* expected;  // null: not a system image
    };
    const Case cases[] = {
        {false, 0, 5, 0, "V.7.10 Rev. 2"},
        {true, 0, 5, 0, "V.7.10 Rev. 2 (Beta 5)"},
        {true, 0, 100, 0, "V.7.10 Rev. 2"},
        {true, 7, 5, 0, "V.7.10 Rev. 2 (Beta 7)"},
        {false, 103, 0, 0, "V.7.10 Rev. 2 (Patch 3)"},
        {false, 98, 0, 0, "V.7.10 Rev. 2 (Beta 98)"},
        {false, 1, 0, 0, "V.7.10 Rev. 2 (Beta 1)"},
        {true, 255, 0, 0, "V.7.10 Rev. 2 (Patch 155)"},
        {false, 100, 0, 3, nullptr},
    };
    for (const Case& c : cases) {
        Part p = systemPart("", c.longForm);
        p.header.level = c.level;
        p.header.level2 = c.level2;
        p.header.type = c.type;
        nexa_hdr1_t h = decoded(p);
        std::string text = "unchanged";
        EXPECT_EQ(image.image_info_short("x", &h, text), c.expected != nullptr);
        EXPECT_EQ(text, c.expected ? c.expected : "unchanged");
    }
    path = "x";
    EXPECT_TRUE(logged("DBG Skipping header (type 3 != !IT_ZIMAGE)"));

    // Texts without their NUL stay inside their fields.
    Part p = systemPart("", true);
    p.header.platform = std::string(23, 'P');
    p.header.name = std::string(32, 'N');
    p.header.major = 0;
    p.header.minor = 255;
    nexa_hdr1_t h = decoded(p);
    log = logEngine(true);
    EXPECT_TRUE(image.image_info_short("x", &h, version));
    EXPECT_EQ(version, "V.0.255 Rev. 2");
    EXPECT_EQ(messages(), (Lines{"DBG Found router-platform: '" + std::string(22, 'P') + "'",
                                 "DBG Found name: '" + std::string(31, 'N') + "'"}));
}

TEST_F(NexaImageTest, ChecksumStepOnItsOwn) {
    unsigned char digits[] = "123456789";
    EXPECT_EQ(image.get_crc(nullptr, 0), 0u);
    EXPECT_EQ(image.get_crc(digits, 9), 0xCBF43926u);
    image.get_crc(nullptr, 0);
    image.get_crc(digits, 4);
    EXPECT_EQ(image.get_crc(digits + 4, 5), 0xCBF43926u);

    // An image that ends 2 bytes early within its data, and one spanning
    // several 64 KiB blocks.
    std::string data = bytes(200000);
    put(data);
    FILE* f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(image.check_crc(path, f, crc32Of(data, 200000), 200000, 200000), 0);
    rewind(f);
    EXPECT_EQ(image.check_crc(path, f, crc32Of(data, 199999), 199999, 200000), 0);
    rewind(f);
    EXPECT_EQ(image.check_crc(path, f, 0, 200002, 200004), 1);
    EXPECT_EQ(messages(), (Lines{"ERR Image too short (2 bytes missing)"}));
    fclose(f);

    // Read errors: a directory opened as a file.
    f = fopen(dir.path().c_str(), "rb");
    ASSERT_NE(f, nullptr);
    path = dir.path();
    log = logEngine(true);
    EXPECT_EQ(image.check_crc(path, f, 0, 4, 4), 1);
    nexa_hdr1_t h;
    int length = 0;
    EXPECT_EQ(image.get_hdr(path, f, &h, &length), -1);
    EXPECT_EQ(image.get_mpkg_len(path, f), 0u);
    EXPECT_EQ(messages(), (Lines{"ERR fread() failed [1]", "ERR fread() failed [2]", "ERR fread() failed [4]"}));
    fclose(f);
}
