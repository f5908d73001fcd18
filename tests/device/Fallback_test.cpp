// The NEXA fallback timer as the job arms, cancels and forgets it, proven by
// what the simulated device did: its transcript and its boot counters.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/device/BareJob.h"
#include "tests/support/TestSupport.h"

using devicetest::bareJob;
using devicetest::linkFor;
using devicetest::logOf;
using testsupport::contains;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class Fallback : public ::testing::Test {
protected:
    void start(const std::string& family, std::vector<std::string> options = {}) {
        options.insert(options.begin(), {"--family", family, "--listen", "127.0.0.1", "--reboot-downtime", "0"});
        ASSERT_TRUE(device.start(options)) << device.error();
    }
    std::string boot() const { return device.readStateFile("boot"); }

    testsupport::TempDir dir;
    testsim::DevSim device{dir.file("device")};
};

}  // namespace

TEST_F(Fallback, ArmedThenFlushedTheDeviceNeverFallsBack) {
    start("nexa");
    auto job = bareJob(dir.file("root"), "NEXA", device);
    auto link = linkFor(*job, Telnet);
    ASSERT_TRUE(job->connect(*link)) << logOf(*job);

    auto fallback = job->scheduleFallback(*link, "2");
    ASSERT_TRUE(fallback) << logOf(*job);
    EXPECT_EQ(job->fallbackVariable, "tmibAdmConfigTimeout.1.1");
    EXPECT_TRUE(contains(device.transcript(), "<<< tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=2\n"));
    EXPECT_TRUE(contains(device.transcript(), "fallback timer armed: reboot in 2 seconds"));

    ASSERT_TRUE(fallback.flush()) << logOf(*job);
    EXPECT_EQ(job->fallbackVariable, "");
    EXPECT_EQ(job->reason, "");
    EXPECT_TRUE(contains(device.transcript(), "<<< tmibAdmConfigTimeout.1.1=-1\n"));
    EXPECT_TRUE(contains(device.transcript(), "fallback timer cancelled, ")) << device.transcript();
    EXPECT_FALSE(contains(device.transcript(), "none was armed"));
    std::string log = logOf(*job);
    EXPECT_TRUE(contains(log, "*** Scheduling auto-fallback-reboot."));
    EXPECT_TRUE(contains(log, "*** Flushing auto-fallback-reboot."));

    // Past the armed seconds the same session still answers: nothing rebooted.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    commandResult still = link->sendCmd("tmibAdmConfigTimeout.1.1", job->family.promptMain);
    EXPECT_TRUE(still.foundFirst);
    EXPECT_TRUE(still.contains("tmibAdmConfigTimeout.1.1(-1)")) << "the device shows no timer";
    job->disconnect(*link);
    EXPECT_TRUE(contains(boot(), "count 0\nfallbacks 0\n")) << boot();
    EXPECT_FALSE(contains(device.transcript(), "ran out"));
    EXPECT_FALSE(contains(log, "will restart by itself"));
}

// The job process dies with the timer armed: the device restarts on its own
// once the seconds from the settings have passed, and only then.
TEST_F(Fallback, ArmedTimerRestartsTheDeviceAfterTheJobWasKilled) {
    start("nexa");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    auto started = std::chrono::steady_clock::now();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The job: settings with a 3-second timer for configurations, log
        // in, arm, report and wait to be killed. No test assertions here.
        close(ready[0]);
        auto job = bareJob(dir.file("root"), "NEXA", device);
        bool armed = devicetest::readSettings(*job, dir.file("root"), "3", "900");
        auto link = linkFor(*job, Telnet);
        armed = armed && job->connect(*link);
        // The guard lives until the process is killed.
        auto fallback = job->scheduleFallback(*link, job->configRestoreTimeoutConfig);
        armed = armed && fallback;
        char outcome = armed ? 'y' : 'n';
        (void)!write(ready[1], &outcome, 1);
        for (;;) pause();
    }
    close(ready[1]);
    char outcome = 0;
    ASSERT_EQ(read(ready[0], &outcome, 1), 1);
    close(ready[0]);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_EQ(outcome, 'y') << "the job could not arm the timer";
    EXPECT_TRUE(contains(device.transcript(), "<<< tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=3\n"));
    // What the dead job left running: a configuration that is not the boot one.
    const std::string bootConfig = device.readStateFile("configs/boot");
    ASSERT_NE(bootConfig, "");
    device.writeStateFile("configs/running", "# half-applied\nsystem\n{\n   name cut-off\n}\n");

    ASSERT_TRUE(device.waitForTranscript("device up again", 30000)) << device.transcript();
    EXPECT_GE(secondsSince(started), 3.0) << "not before the armed seconds";
    EXPECT_TRUE(contains(device.transcript(), "--- fallback timer ran out"));
    EXPECT_TRUE(contains(boot(), "count 1\nfallbacks 1\n")) << boot();
    EXPECT_EQ(device.readStateFile("configs/running"), bootConfig) << "up with its boot configuration";
    // Up again: a new job logs in.
    auto job = bareJob(dir.file("root"), "NEXA", device);
    auto link = linkFor(*job, Telnet);
    EXPECT_TRUE(job->connect(*link)) << logOf(*job);
    job->disconnect(*link);
}

TEST_F(Fallback, OtherInstanceNumbersAndAReplyWithoutTheVariable) {
    start("nexa", {"--fallback-instance", "7.42"});
    auto job = bareJob(dir.file("root"), "NEXA", device);
    auto link = linkFor(*job, SSH);
    ASSERT_TRUE(job->connect(*link)) << logOf(*job);
    auto fallback = job->scheduleFallback(*link, "600");
    ASSERT_TRUE(fallback) << logOf(*job);
    EXPECT_EQ(job->fallbackVariable, "tmibAdmConfigTimeout.7.42");
    ASSERT_TRUE(fallback.flush());
    EXPECT_TRUE(contains(device.transcript(), "<<< tmibAdmConfigTimeout.7.42=-1\n"));
    EXPECT_TRUE(contains(device.transcript(), "fallback timer cancelled, 600 seconds were left"))
        << device.transcript();
    job->disconnect(*link);

    // A device without the timer answers with an error and no variable.
    testsim::DevSim old(dir.file("old"));
    ASSERT_TRUE(old.start({"--family", "nexa", "--no-fallback-timer"})) << old.error();
    auto oldJob = bareJob(dir.file("root"), "NEXA", old);
    auto oldLink = linkFor(*oldJob, Telnet);
    ASSERT_TRUE(oldJob->connect(*oldLink));
    {
        auto oldFallback = oldJob->scheduleFallback(*oldLink, "600");
        EXPECT_FALSE(oldFallback);
        EXPECT_EQ(oldJob->reason, "Missing reply");
        EXPECT_EQ(oldJob->fallbackVariable, "");
        EXPECT_TRUE(contains(logOf(*oldJob), "ERR - Missing '>' prompt or search-pattern.")) << logOf(*oldJob);
        EXPECT_TRUE(contains(old.transcript(), "error: unknown variable tmibAdmConfigCmd")) << old.transcript();
    }
    // The guard of a timer the device never confirmed restarts it all the same.
    EXPECT_TRUE(contains(old.transcript(), "<<< cmd=reboot\n")) << old.transcript();

    // A device that echoes the command and then stays silent.
    testsim::DevSim silent(dir.file("silent"));
    ASSERT_TRUE(silent.start({"--family", "nexa", "--silent-after", "tmibAdmConfigCmd"})) << silent.error();
    auto silentJob = bareJob(dir.file("root"), "NEXA", silent);
    auto silentLink = linkFor(*silentJob, Telnet);
    ASSERT_TRUE(silentJob->connect(*silentLink));
    auto silentFallback = silentJob->scheduleFallback(*silentLink, "600");
    EXPECT_FALSE(silentFallback);
    EXPECT_EQ(silentJob->reason, "Missing reply");
    EXPECT_EQ(silentJob->fallbackVariable, "");
}

TEST_F(Fallback, FlushingWithoutATimerSendsMinusOneAloneAndALostConnectionIsLeftToTheTimer) {
    start("nexa", {"--close-mid-reply", "configd"});
    auto job = bareJob(dir.file("root"), "NEXA", device);
    auto link = linkFor(*job, Telnet);
    ASSERT_TRUE(job->connect(*link)) << logOf(*job);
    EXPECT_TRUE(job->flushFallback(*link)) << "the device shows its prompt after the error";
    EXPECT_TRUE(contains(device.transcript(), "<<< =-1\n")) << device.transcript();
    EXPECT_EQ(job->reason, "");

    // Armed, then the line drops in the middle of a later step: the flush
    // fails and still forgets the name, the guard's reboot cannot be sent,
    // the log says what will happen instead; and it does.
    {
        auto fallback = job->scheduleFallback(*link, "2");
        ASSERT_TRUE(fallback);
        EXPECT_FALSE(job->deleteBootConfigNexa(*link));
        EXPECT_FALSE(fallback.flush());
        EXPECT_EQ(job->reason, "Missing prompt");
        EXPECT_EQ(job->fallbackVariable, "");
    }
    EXPECT_TRUE(
        contains(logOf(*job), "INF - The device will restart by itself within 2 seconds (auto-fallback-reboot)."))
        << logOf(*job);
    EXPECT_FALSE(contains(device.transcript(), "<<< tmibAdmConfigTimeout.1.1=-1"));
    EXPECT_FALSE(contains(device.transcript(), "<<< cmd=reboot"));
    ASSERT_TRUE(device.waitForTranscript("device up again", 30000)) << device.transcript();
    EXPECT_TRUE(contains(boot(), "count 1\nfallbacks 1\n")) << boot();
}

TEST_F(Fallback, RebootForgetsTheTimerOnBothSides) {
    start("nexa");
    auto job = bareJob(dir.file("root"), "NEXA", device);
    auto link = linkFor(*job, Telnet);
    ASSERT_TRUE(job->connect(*link));
    {
        auto fallback = job->scheduleFallback(*link, "2");
        ASSERT_TRUE(fallback);
        job->reboot(*link);
    }  // the guard knows the reboot: no second one
    EXPECT_EQ(job->fallbackVariable, "");
    EXPECT_FALSE(contains(logOf(*job), "will restart by itself")) << "the reboot was sent";
    EXPECT_EQ(job->reboots, 1u);
    ASSERT_TRUE(device.waitForTranscript("device up again", 30000)) << device.transcript();
    EXPECT_TRUE(contains(device.transcript(), "fallback timer cleared by the reboot"));
    // Past the armed seconds the device has not restarted a second time.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_TRUE(contains(boot(), "count 1\nfallbacks 0\n")) << boot();
    EXPECT_FALSE(contains(device.transcript(), "ran out"));
}

TEST_F(Fallback, QxCliTimerOperationsSendAndAnnounceNothing) {
    start("qxcli");
    auto job = bareJob(dir.file("root"), "qx.CLI", device);
    auto link = linkFor(*job, Telnet);
    ASSERT_TRUE(job->connect(*link)) << logOf(*job);
    size_t before = devicetest::receivedLines(device);
    auto fallback = job->scheduleFallback(*link, "600");
    EXPECT_TRUE(fallback);
    EXPECT_TRUE(fallback.flush());
    EXPECT_EQ(devicetest::receivedLines(device), before) << device.transcript();
    EXPECT_EQ(job->fallbackVariable, "");
    EXPECT_EQ(job->reason, "");
    std::string log = logOf(*job);
    EXPECT_FALSE(contains(log, "auto-fallback-reboot")) << log;
    job->disconnect(*link);
}
