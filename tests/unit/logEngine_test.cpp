#include "util/logEngine.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <regex>

#include "tests/support/TestSupport.h"

using testsupport::readFile;
using testsupport::TempDir;

namespace {
const std::string kStamp = "\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2} - ";

std::vector<std::string> linesOf(const logEngine& log) {
    std::vector<std::string> v;
    log.fillVector(v);
    return v;
}
}  // namespace

TEST(logEngine, FacilitiesPrefixesAndTimestamp) {
    logEngine log(true);
    log.add(1, "traffic");
    log.add(2, "control");
    log.add(3, "database");
    log.add(4, "raw\tline");
    log.add(100, "info");
    log.add(101, "error");
    log.add(102, "debug");
    log.add(7, "other");
    auto v = linesOf(log);
    ASSERT_EQ(v.size(), 8u);
    EXPECT_TRUE(std::regex_match(v[0], std::regex(kStamp + "COM - traffic")));
    EXPECT_TRUE(std::regex_match(v[1], std::regex(kStamp + "CTL - control")));
    EXPECT_TRUE(std::regex_match(v[2], std::regex(kStamp + "DB  - database")));
    EXPECT_EQ(v[3], "raw line");
    EXPECT_TRUE(std::regex_match(v[4], std::regex(kStamp + "INF - info")));
    // An error line stands between empty lines in every output.
    EXPECT_TRUE(std::regex_match(v[5], std::regex("\n" + kStamp + "ERR - error\n")));
    EXPECT_TRUE(std::regex_match(v[6], std::regex(kStamp + "DBG - debug")));
    EXPECT_TRUE(std::regex_match(v[7], std::regex(kStamp + "\\?\\?\\? - other")));
    EXPECT_EQ(logEngine::getFacilityString(4), "");
}

TEST(logEngine, UnprintableBytesBecomeBlanksAndLongLinesWrap) {
    logEngine log;
    log.add(100, "a\tb\nc\x01\xff");
    std::string longText(250, 'x');
    for (size_t i = 0; i < longText.size(); ++i) longText[i] = static_cast<char>('a' + i % 26);
    log.add(100, longText);
    log.add(100, std::string(100, 'y'));
    auto v = linesOf(log);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].substr(v[0].size() - 7), "a b c  ");
    const std::string indent = "\n" + std::string(28, ' ');
    std::string expectedBody =
        longText.substr(0, 100) + indent + longText.substr(100, 100) + indent + longText.substr(200);
    ASSERT_GE(v[1].size(), 28u);
    EXPECT_EQ(v[1].substr(28), expectedBody);
    EXPECT_EQ(v[2].substr(28), std::string(100, 'y')) << "exactly 100 characters are not wrapped";
}

TEST(logEngine, DebugLinesOnlyWithDebug) {
    TempDir dir;
    std::string file = dir.file("job.log");
    testing::internal::CaptureStdout();
    {
        logEngine log(false, file);
        log.setDirectPrint(true);
        log.add(102, "hidden");
        EXPECT_EQ(log.getLines(), 0);
        log.addLine(102, "hidden %d", 2);
        EXPECT_EQ(log.getLines(), 0);
        EXPECT_FALSE(testsupport::fileExists(file));
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    logEngine on(true);
    on.add(102, "shown");
    EXPECT_EQ(on.getLines(), 1);
}

TEST(logEngine, MirrorFileWrittenLineByLineAndSurvivesRemoval) {
    TempDir dir;
    std::string file = dir.file("42.log");
    logEngine log(false, file);
    log.add(100, "first");
    std::string afterFirst = readFile(file);
    EXPECT_NE(afterFirst.find("INF - first\n"), std::string::npos);
    log.add(100, "second");
    EXPECT_NE(readFile(file).find("INF - second\n"), std::string::npos);
    ASSERT_EQ(unlink(file.c_str()), 0);
    log.add(100, "third");
    std::string recreated = readFile(file);
    EXPECT_NE(recreated.find("INF - third\n"), std::string::npos);
    EXPECT_EQ(recreated.find("first"), std::string::npos);
    EXPECT_EQ(log.getLines(), 3);
    log.unlink();
    EXPECT_FALSE(testsupport::fileExists(file));
}

// A held file is written only on release, with every line kept so far;
// a dropped one never, even when a line follows.
TEST(logEngine, HeldFileWrittenOnReleaseOrNeverWhenDropped) {
    TempDir dir;
    for (bool release : {true, false}) {
        SCOPED_TRACE(release ? "released" : "dropped");
        std::string file = dir.file(release ? "1.log" : "2.log");
        logEngine log(false, file);
        log.holdFile();
        log.add(100, "before");
        EXPECT_FALSE(testsupport::fileExists(file));
        if (release)
            log.releaseFile();
        else
            log.dropFile();
        log.add(100, "after");
        std::string text = testsupport::fileExists(file) ? readFile(file) : "";
        EXPECT_EQ(text.find("INF - before\n") != std::string::npos, release) << text;
        EXPECT_EQ(text.find("INF - after\n") != std::string::npos, release) << text;
        log.releaseFile();  // a second release writes nothing twice
        log.add(100, "last");
        text = testsupport::fileExists(file) ? readFile(file) : "";
        EXPECT_EQ(
            text.find("before") == std::string::npos ? std::string::npos : text.find("before", text.find("before") + 1),
            std::string::npos)
            << text;
        EXPECT_EQ(text.find("INF - last\n") != std::string::npos, release) << text;
        EXPECT_EQ(log.getLines(), 3);
    }
}

TEST(logEngine, MissingDirectorySwitchesToNoFileButKeepsLines) {
    TempDir dir;
    logEngine log(false, dir.file("missing/dir/1.log"));
    log.add(100, "kept");
    log.add(100, "kept too");
    EXPECT_EQ(log.getFileName(), "nofile");
    EXPECT_EQ(log.getLines(), 2);
}

TEST(logEngine, BlobsSplitIntoLinesWithPending) {
    logEngine log;
    log.addBlob(1, std::string("abc"));
    EXPECT_EQ(log.getLines(), 0);
    log.addBlob(1, std::string("def\r\nxyz"));
    ASSERT_EQ(log.getLines(), 1);
    EXPECT_EQ(linesOf(log)[0].substr(22), "COM - abcdef ");
    log.flushPending(1);
    ASSERT_EQ(log.getLines(), 2);
    EXPECT_EQ(linesOf(log)[1].substr(22), "COM - xyz ");
    log.flushPending(1);
    EXPECT_EQ(log.getLines(), 2) << "nothing pending, nothing emitted";

    logEngine second;
    const char chunk[] = "a\rb\nc";
    second.addBlob(1, chunk, 5);
    ASSERT_EQ(second.getLines(), 1);
    EXPECT_EQ(linesOf(second)[0].substr(22), "COM - a b");
    second.addBlob(1, std::string("\r"));
    ASSERT_EQ(second.getLines(), 2) << "a bare carriage return ends a line when no line feed follows";
    EXPECT_EQ(linesOf(second)[1].substr(22), "COM - c");
}

TEST(logEngine, FillVectorAppendsInOrderAndDumpAsString) {
    logEngine log;
    log.add(4, "one");
    log.add(4, "two");
    std::vector<std::string> v{"existing"};
    log.fillVector(v);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0], "existing");
    EXPECT_EQ(v[1], "one");
    EXPECT_EQ(v[2], "two");
    EXPECT_EQ(log.dumpAsString(), "one\ntwo\n");
    testing::internal::CaptureStderr();
    log.dumpLogStderr();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "one\ntwo\n");
}

TEST(logEngine, AddLineCutsAt2047Bytes) {
    logEngine log;
    std::string big(5000, 'z');
    log.addLine(4, "%s", big.c_str());
    EXPECT_EQ(linesOf(log)[0].size(), 2047u);
}

TEST(logEngine, SecretsAreMaskedLiterallyInEveryLineBelowDebug) {
    TempDir dir;
    const std::string file = dir.file("job.log");
    logEngine log(true, file);
    // Characters that mean something in patterns or replacement texts are
    // plain characters of a secret.
    const std::vector<std::string> secrets = {"a.b", "x*y", "p(q", "$1z", "back\\slash"};
    for (const auto& secret : secrets) log.addSecret(secret);
    log.addSecret("");
    log.addLine(logEngine::INF, "one a.b two x*y three p(q four $1z five back\\slash");
    log.add(logEngine::COM, "axb and xxy stay: they only look alike");
    log.add(logEngine::ERR, "failed with p(q");
    log.add(logEngine::RAW, "raw $1z");
    log.addBlob(logEngine::COM, "echo: x*");
    log.addBlob(logEngine::COM, "y\r\n");
    log.add(logEngine::DBG, "debug keeps a.b");
    auto v = linesOf(log);
    ASSERT_EQ(v.size(), 6u);
    EXPECT_NE(v[0].find("INF - one ****** two ****** three ****** four ****** five ******"), std::string::npos) << v[0];
    EXPECT_NE(v[1].find("axb and xxy stay"), std::string::npos) << v[1];
    EXPECT_NE(v[2].find("failed with ******"), std::string::npos) << v[2];
    EXPECT_EQ(v[3], "raw ******");
    // A secret cut across two chunks of traffic is masked in the line.
    EXPECT_NE(v[4].find("COM - echo: ******"), std::string::npos) << v[4];
    EXPECT_NE(v[5].find("DBG - debug keeps a.b"), std::string::npos) << v[5];
    // The mirror file shows a secret only in the debug line.
    const std::string written = readFile(file);
    for (const auto& secret : secrets) {
        size_t n = 0;
        for (size_t at = written.find(secret); at != std::string::npos; at = written.find(secret, at + 1)) ++n;
        EXPECT_EQ(n, secret == "a.b" ? 1u : 0u) << secret << " in " << written;
    }
}

TEST(logEngine, LongerSecretsFirstAndNoSplitByWrapping) {
    logEngine log(false);
    log.addSecret("pass");
    log.addSecret("password1");
    log.add(logEngine::INF, "password1 pass");
    // 95 characters, then the secret across the wrap column.
    log.add(logEngine::INF, std::string(95, '-') + "password1" + std::string(10, '-'));
    auto v = linesOf(log);
    ASSERT_EQ(v.size(), 2u);
    // No tail of the longer secret is left.
    EXPECT_EQ(v[0].substr(v[0].size() - 19), "INF - ****** ******") << v[0];
    EXPECT_EQ(v[1].find("pass"), std::string::npos) << v[1];
    EXPECT_NE(v[1].find(std::string(95, '-') + "*****\n"), std::string::npos) << v[1];
    // Debug lines of a log without -d are dropped, masked or not.
    log.add(logEngine::DBG, "password1");
    EXPECT_EQ(log.getLines(), 2);
}

TEST(logEngine, AddLineMasksASecretBeforeCuttingTheText) {
    logEngine log(false);
    log.addSecret("TopSecret");
    // The cut at 2047 bytes falls into the secret.
    log.addLine(logEngine::ERR, "%s%s tail", std::string(2043, '-').c_str(), "TopSecret");
    const std::string line = testsupport::unwrappedLog(linesOf(log).at(0));
    EXPECT_EQ(line.find("TopS"), std::string::npos) << "no first part of the secret is left";
    // 2043 dashes and the first four stars of the mask make the 2047 bytes.
    EXPECT_NE(line.find(std::string(2043, '-') + "****\n"), std::string::npos) << line;
    EXPECT_EQ(line.find("tail"), std::string::npos) << "still cut";
}
