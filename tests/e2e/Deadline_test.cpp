// Devices that keep sending without ever showing what the job waits for:
// each wait ends at its limit as a whole, and the whole job at its
// deadline, exactly as on a termination request.
#include "tests/e2e/FaultMatrix.h"
#include "tests/e2e/UploadFixture.h"

using testsupport::contains;
using namespace faultmatrix;

namespace {

class Deadlines : public FaultMatrix {
protected:
    // The wait's error line: the limit and the time the device kept
    // sending, which the test reports.
    void expectLimitLine(const JobRun& run, const std::string& type, const std::string& awaited, int limitSeconds) {
        const std::string head = "ERR - " + type + "-reply limit of " + std::to_string(limitSeconds) +
                                 " seconds reached: the device kept sending for ";
        size_t at = run.log.find(head);
        ASSERT_NE(at, std::string::npos) << run.log;
        double waited = atof(run.log.c_str() + at + head.size());
        EXPECT_GE(waited, limitSeconds) << run.log;
        EXPECT_TRUE(contains(run.log.substr(at), " seconds without ever showing '" + awaited + "'!")) << run.log;
        printf("%s: the wait ended at its limit after %.1f s\n", type.c_str(), waited);
        EXPECT_TRUE(contains(device.sim.transcript(), "fault: trickling")) << device.sim.transcript();
    }

    // Nothing reached the device after the command it trickles for.
    void expectNothingSentAfter(const std::string& command) {
        const std::string transcript = device.sim.transcript();
        size_t at = transcript.find("<<< " + command);
        ASSERT_NE(at, std::string::npos) << transcript;
        EXPECT_FALSE(contains(transcript.substr(at + 4), "<<< ")) << transcript;
    }
};

// The device of the report: "t 0" answered with a dot at a time. The
// command limit of 300 seconds is scaled to 15.
TEST_F(Deadlines, TricklingDeviceOverTelnetEndsTheLoginAtItsWaitLimit) {
    setup.waitLimitScale = 0.05;
    unsigned long router = startDevice("nexa", "Telnet", {"--trickle", "100"});
    JobRun run = cell(router, "Test", "Could not log in");
    expectLimitLine(run, "Telnet", ">", 15);
    EXPECT_TRUE(contains(run.log, "ERR - Missing '>' prompt!")) << run.log;
}

// The ping waits with a silence time-out of 20 seconds: its limit of 600
// is scaled to 30.
TEST_F(Deadlines, TricklingDeviceOverSshEndsThePingAtItsWaitLimit) {
    setup.waitLimitScale = 0.05;
    unsigned long router = startDevice("nexa", "SSH", {"--trickle", "100", "--trickle-after", "ping"});
    JobRun run = cell(router, "Test", "Ping failed");
    expectLimitLine(run, "SSH", ">", 30);
    EXPECT_TRUE(contains(run.log, "ERR - No ping-replies received.")) << run.log;
}

// Unscaled, the ping's wait would last ten minutes; the deadline ends the
// job after 20 seconds.
TEST_F(Deadlines, TheJobDeadlineEndsAJobThatATricklingDeviceHolds) {
    settings.jobDeadline = "20";
    setup.writeSettings(settings);
    unsigned long router = startDevice("nexa", "SSH", {"--trickle", "100", "--trickle-after", "ping"});
    JobRun run = cell(router, "Test", "Deadline exceeded");
    EXPECT_GE(run.seconds, 20.0);
    EXPECT_TRUE(
        contains(run.log, "ERR - Job deadline of 20 seconds exceeded; no further command is sent to the device."))
        << run.log;
    EXPECT_TRUE(contains(run.log, "Wait ended by a termination request!")) << run.log;
    EXPECT_FALSE(contains(run.log, "reply limit of")) << "the deadline, not the wait limit";
    expectNothingSentAfter("ping");
}

// A Config job held at its configd step, with the fallback timer armed:
// the log says that the device will restart by itself.
TEST_F(Deadlines, TheJobDeadlineNamesTheArmedFallbackTimer) {
    settings.jobDeadline = "20";
    setup.writeSettings(settings);
    writeUploadTemplates(setup);
    device.sim.writeStateFile("variables", kNexaRev2Variables);
    unsigned long router =
        startDevice("nexa", "SSH", {"--trickle", "100", "--trickle-after", "configd"},
                    {{"name", "gw-essen"}, {"configtype", "Template"}, {"globalmaster", "upload.tmpl"}});
    testsupport::writeFile(setup.transferDir() + certFile(router), "");
    JobRun run = cell(router, "Config", "Deadline exceeded");
    EXPECT_TRUE(contains(run.log, "INF - The device will restart by itself within 600 seconds (auto-fallback-reboot)."))
        << run.log;
    EXPECT_TRUE(contains(device.sim.transcript(), "<<< tmibAdmConfigCmd")) << "the timer was armed";
    expectNothingSentAfter("configd");
}

}  // namespace
