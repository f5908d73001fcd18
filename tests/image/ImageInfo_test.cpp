// The operator command tarvo-image-info, run as a separate process.
#include <gtest/gtest.h>

#include "tests/image/ImageBuilder.h"
#include "tests/support/TestSupport.h"

using namespace imagebuilder;
using testsupport::runProcess;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {
const std::string kProgram = testsupport::builtProgram("main/tarvo-image-info");

std::string data(size_t n) {
    return std::string(n, 'd');
}
}  // namespace

TEST(ImageInfo, ReportsVersionsPartsAndReasons) {
    TempDir dir;
    Part patch = systemPart(data(40), true);
    patch.header.level = 103;
    writeFile(dir.file("single"), singleImage(patch));
    Part index = systemPart(data(8));
    index.header.type = 1;
    writeFile(dir.file("package"), package(index, {systemPart(data(6))}));

    auto r = runProcess({kProgram, dir.file("single"), dir.file("package")});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(dir.file("single") + "\n  part 0 at offset 0: type 0 (system image), platform 'RX5000', "
                                              "header 128 bytes, length 40, CRC 0x"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(" ok, version V.7.10 Rev. 2 (Patch 3)\n  version: V.7.10 Rev. 2 (Patch 3) (single image)\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  part 0 at offset 0: type 1 (package index), platform 'RX5000', header 52 bytes, length 8"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  part 1 at offset 64: type 0 (system image)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  version: V.7.10 Rev. 2 (package)\n"), std::string::npos) << r.out;
    // The log stays out of the output unless asked for.
    EXPECT_EQ(r.out.find("INF - "), std::string::npos) << r.out;

    // One file without a version makes the exit code 1; every file is still
    // reported, each with its reason.
    Part bad = systemPart(data(12));
    bad.header.crc = 0xdeadbeef;
    writeFile(dir.file("badcrc"), singleImage(bad));
    Part other = systemPart(data(12));
    other.header.type = 7;
    writeFile(dir.file("nosystem"), singleImage(other));
    r = runProcess({kProgram, dir.file("badcrc"), dir.path(), dir.file("nosystem"), dir.file("single")});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("length 12, CRC 0xdeadbeef bad (computed 0x"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  no version: Bad CRC-sum (size 12)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(dir.path() + "\n  no version: Not a regular file\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  no version: no system image found\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  version: V.7.10 Rev. 2 (Patch 3) (single image)"), std::string::npos) << r.out;

    // -v shows the inspection log, debug lines included.
    r = runProcess({kProgram, "-v", dir.file("badcrc")});
    EXPECT_EQ(r.exitCode, 1);
    // Long log lines are wrapped.
    const std::string wrap = "\n" + std::string(28, ' ');
    for (size_t at; (at = r.out.find(wrap)) != std::string::npos;) r.out.erase(at, wrap.size());
    EXPECT_NE(r.out.find("DBG - '" + dir.file("badcrc") + "': Ignoring 1st header"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ERR - '" + dir.file("badcrc") + "': CRC-mismatch: "), std::string::npos) << r.out;
}

TEST(ImageInfo, UsageWithoutFiles) {
    for (const std::vector<std::string>& argv : {std::vector<std::string>{kProgram}, {kProgram, "-x", "file"}}) {
        auto r = runProcess(argv);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("Usage: tarvo-image-info [-v] FILE..."), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}
