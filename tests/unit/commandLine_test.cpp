// The program run as a process: every command-line case, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>

#include "main/TarvoMain.h"
#include "tests/support/TestSupport.h"

using testsupport::ProcessResult;
using testsupport::runProcess;
using testsupport::TempDir;

namespace {
const std::string kUsageDefault =
    "\n"
    "Usage:         Tarvo [-hvlwd] -j <jobid>\n"
    "\n"
    "       -h, -v          Print usage information. (This text.)\n"
    "       -l              Dump log from job to stderr.\n"
    "       -w              Write logfile to /opsbase/tftpboot.\n"
    "       -d              Turn on debugging output.\n"
    "       <jobid>         Database job ID.\n"
    "\n"
    "Tarvo Version 4.1.1\n"
    "\n";

class CommandLine : public ::testing::Test {
protected:
    ProcessResult tarvo(std::vector<std::string> args) {
        args.insert(args.begin(), {testsupport::builtProgram("tests/tarvo-test-runner"), root.path()});
        return runProcess(args);
    }
    std::string usage() {
        std::string u = kUsageDefault;
        u.replace(u.find("/opsbase/tftpboot"), 17, root.path() + "/tftpboot");
        return u;
    }
    TempDir root;
};
}  // namespace

TEST(Usage, DefaultRootTextByteForByte) {
    EXPECT_EQ(tarvoUsage(Paths("/opsbase")), kUsageDefault);
}

TEST(Usage, InstalledProgramUsesCompiledRoot) {
    auto r = runProcess({testsupport::builtProgram("main/Tarvo"), "-h"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, tarvoUsage(Paths(TARVO_ROOT_FOR_TESTS)));
    EXPECT_EQ(r.err, "");
}

TEST_F(CommandLine, HelpAndVersionPrintUsageAndExitZero) {
    for (const char* opt : {"-h", "-v"}) {
        auto r = tarvo({opt});
        EXPECT_EQ(r.exitCode, 0) << opt;
        EXPECT_EQ(r.out, usage()) << opt;
        EXPECT_EQ(r.err, "");
    }
    auto r = tarvo({"-j", "5", "-h"});
    EXPECT_EQ(r.exitCode, 0) << "options before -h are checked first, and 5 is fine";
    auto bad = tarvo({"-j", "0", "-h"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.err, "Tarvo: ERROR: <0> is not a jobnumber.\n");
    EXPECT_EQ(bad.out, "");
}

TEST_F(CommandLine, NoArgumentsOrJobIdTwicePrintUsage) {
    auto none = tarvo({});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.out, usage());
    EXPECT_EQ(none.err, "");
    auto twice = tarvo({"-j", "5", "-j", "6"});
    EXPECT_EQ(twice.exitCode, 1);
    EXPECT_EQ(twice.out, usage());
    auto onlyOthers = tarvo({"-l", "-d", "stray"});
    EXPECT_EQ(onlyOthers.exitCode, 1);
    EXPECT_EQ(onlyOthers.out, usage());
}

TEST_F(CommandLine, RejectedJobNumbers) {
    // 4294967338 would wrap to job 42 and -2 to 4294967294 on a 64-bit
    // system: the wrong job would run against a live router.
    for (const char* value :
         {"0", "abc", "4294967295", "4294967296", "4294967338", "-2", " -2", "-0", "99999999999999999999999", ""}) {
        auto r = tarvo({"-j", value});
        EXPECT_EQ(r.exitCode, 1) << value;
        EXPECT_EQ(r.err, std::string("Tarvo: ERROR: <") + value + "> is not a jobnumber.\n") << value;
        EXPECT_EQ(r.out, "") << value;
    }
}

TEST_F(CommandLine, UnknownOptionsAndMissingValue) {
    auto x = tarvo({"-x"});
    EXPECT_EQ(x.exitCode, 1);
    EXPECT_EQ(x.err, "Tarvo: ERROR: Unknown option `-x'.\n");
    EXPECT_EQ(x.out, usage());
    auto j = tarvo({"-j"});
    EXPECT_EQ(j.exitCode, 1);
    EXPECT_EQ(j.err, "Tarvo: ERROR: Unknown option `-j'.\n");
    EXPECT_EQ(j.out, usage());
    auto ctl = tarvo({"-\x01"});
    EXPECT_EQ(ctl.exitCode, 1);
    EXPECT_EQ(ctl.err, "Tarvo: ERROR: Unknown option character `\\x1'.\n");
}

TEST_F(CommandLine, AcceptedJobNumberRunsAJobThatFails) {
    // "12abc" is job 12 (trailing text is ignored); without a usable
    // installation the job cannot be loaded, so it fails with exit code 2.
    for (const char* value : {"12abc", "4294967294", "+7"}) {
        auto r = tarvo({"-j", value, "-l"});
        EXPECT_EQ(r.exitCode, 2) << value;
        EXPECT_NE(r.err.find("CTL - Tarvo Version 4.1.1 starting."), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("CTL - Tarvo finished."), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(CommandLine, LogfileOptionWritesIntoTheRootsTransferDirectory) {
    testsupport::makeDirs(root.file("tftpboot"));
    auto r = tarvo({"-w", "-j", "77"});
    EXPECT_EQ(r.exitCode, 2);
    std::string log = testsupport::readFile(root.file("tftpboot/77.log"));
    // The path is long enough to be wrapped in the log.
    EXPECT_NE(log.find("INF - Writing to logfile '/"), std::string::npos) << log;
    EXPECT_NE(log.find("tftpboot/77.log'."), std::string::npos) << log;
    EXPECT_NE(log.find("Tarvo finished."), std::string::npos);
}

TEST_F(CommandLine, DirectPrintMirrorsToStdout) {
    auto r = tarvo({"-p", "-j", "3"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.out.find("CTL - Tarvo Version 4.1.1 starting."), std::string::npos);
    // Standard error gets only the one line of a job that stored no history.
    EXPECT_EQ(r.err.rfind("Tarvo: ERROR: Job 3 failed without a history row (No DB-settings: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}
