// Whole jobs of the workmodes "Test", "Reboot" and "SSHKeyGen" against
// simulated routers of both families, over Telnet and SSH.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "tests/e2e/JobTest.h"

using testsupport::contains;

namespace {
double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class Jobs : public JobTest {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        setup.addRouterType("QX-1", "qx.CLI");
        e2e::JobSettings settings;
        settings.connectTimeout = "3";
        settings.rebootTime = "1";
        setup.writeSettings(settings);
    }
};
}  // namespace

TEST_F(Jobs, TestPingOverSshToNexa) {
    SimRouter device("nexa");
    ASSERT_TRUE(device.start("nexa")) << device.sim.error();
    // The real pause after the disconnect, not the tests' scaled one.
    setup.pauseScale = 1.0;
    auto start = std::chrono::steady_clock::now();
    auto h = runJob(device.row("NX-1", "SSH"), "Test");
    EXPECT_GE(secondsSince(start), 2.0) << "the job pauses 2 seconds after its disconnect";
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_EQ(h["status"], "success");
    EXPECT_EQ(h["reason"], "");
    EXPECT_FALSE(setup.jobRowExists(42));
    // No local address for the ping: the router's own address is the source.
    EXPECT_TRUE(contains(device.sim.transcript(), "<<< ping -c 10 -s 127.0.0.1 10.0.0.254")) << device.sim.transcript();
    EXPECT_TRUE(contains(log, "*** SSH-connecting."));
    EXPECT_TRUE(contains(log, "*** Sending test-pings."));
    EXPECT_TRUE(contains(log, "*** SSH-disconnecting."));
}

TEST_F(Jobs, TestPingFailuresAndTheLocalPingAddress) {
    SimRouter failing("failing");
    ASSERT_TRUE(failing.start("qxcli", {"--ping-fails"})) << failing.sim.error();
    auto h = runJob(failing.row("QX-1", "Telnet", {{"localipforping", "10.9.9.9"}}), "Test");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(h["reason"], "Ping failed");
    EXPECT_TRUE(contains(log, "No ping-replies received."));
    EXPECT_TRUE(contains(failing.sim.transcript(), "<<< ping 10.0.0.254 num-pings 10 source 10.9.9.9"))
        << failing.sim.transcript();

    // A device that never shows the prompt after the ping.
    setup.db.exec("DELETE FROM cordal_jobhistory; DELETE FROM cordal_router");
    SimRouter silent("silent");
    ASSERT_TRUE(silent.start("nexa", {"--silent-after", "ping"})) << silent.sim.error();
    h = runJob(silent.row("NX-1", "Telnet"), "Test");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(h["reason"], "Ping failed");
    EXPECT_TRUE(contains(log, "Telnet-reply timed-out!"));
}

TEST_F(Jobs, FallbackAddressWhenTheMainOneRefuses) {
    SimRouter device("fallback");
    ASSERT_TRUE(device.start("nexa", {"--listen", "127.0.0.1", "--listen", "127.0.0.2", "--refuse", "127.0.0.1"}))
        << device.sim.error();
    auto h = runJob(device.row("NX-1", "Telnet", {{"ipfallbacknumber", "127.0.0.2"}}), "Test");
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_TRUE(contains(log, "Connection to host '127.0.0.1' failed with '"));
    EXPECT_TRUE(contains(log, "Connected to host '127.0.0.2'."));
    EXPECT_TRUE(contains(device.sim.transcript(), "<<< ping -c 10 -s 127.0.0.1 10.0.0.254"));
}

TEST_F(Jobs, RebootOverTelnetAndSshForBothFamilies) {
    e2e::JobSettings settings;
    settings.connectTimeout = "3";
    settings.rebootTime = "1";
    settings.rebootTimePerModel["QX-1"] = "3";
    setup.writeSettings(settings);
    setup.pauseScale = 1.0;  // the reboot wait is checked as a lower bound
    for (const auto& c : kEveryFamilyAndConnection) {
        SCOPED_TRACE(std::string(c.family) + " over " + c.conntype);
        setup.db.exec("DELETE FROM cordal_jobhistory; DELETE FROM cordal_router");
        SimRouter device(std::string(c.family) + c.conntype);
        ASSERT_TRUE(device.start(c.family, {"--reboot-downtime", "1"})) << device.sim.error();
        auto start = std::chrono::steady_clock::now();
        auto h = runJob(device.row(c.model, c.conntype), "Reboot");
        double took = secondsSince(start);
        EXPECT_EQ(result.exitCode, 0) << log;
        EXPECT_EQ(h["status"], "success");
        EXPECT_TRUE(contains(device.sim.readStateFile("boot"), "count 1")) << device.sim.readStateFile("boot");
        std::string waited =
            std::string("[ Sleeping ") + (c.family == std::string("qxcli") ? "3" : "1") + " seconds. ]";
        EXPECT_TRUE(contains(log, waited)) << log;
        EXPECT_GE(took, c.family == std::string("qxcli") ? 3.0 : 1.0) << "the job waits the model's reboot time";
        EXPECT_TRUE(contains(log, "Testping not required in this workmode."));
        EXPECT_TRUE(contains(h["config"], "No config file generated or uploaded."));
        std::string command = c.family == std::string("qxcli") ? "<<< \\x10restart yes" : "<<< cmd=reboot";
        EXPECT_TRUE(contains(device.sim.transcript(), command)) << device.sim.transcript();
    }
}

TEST_F(Jobs, RebootOfARefusingDeviceFailsToLogIn) {
    SimRouter device("refusing");
    ASSERT_TRUE(device.start("nexa", {"--refuse", "127.0.0.1"})) << device.sim.error();
    auto h = runJob(device.row("NX-1", "Telnet"), "Reboot");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(h["reason"], "Could not log in");
    EXPECT_TRUE(contains(log, "Telnet-connection failed!"));
    EXPECT_TRUE(contains(device.sim.readStateFile("boot"), "count 0"));
}

TEST_F(Jobs, SshKeyGenOverTelnetMakesKeysAndStartsTheDaemon) {
    SimRouter nexa("nexa");
    ASSERT_TRUE(nexa.start("nexa", {"--no-ssh"})) << nexa.sim.error();
    auto h = runJob(nexa.row("NX-1", "Telnet"), "SSHKeyGen");
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_TRUE(contains(log, "Found no SSH-keys. Try to build them."));
    EXPECT_TRUE(contains(log, "Found SSH-keys. Make sure that SSH-daemon is running."));
    std::string ssh = nexa.sim.readStateFile("ssh");
    EXPECT_TRUE(contains(ssh, "keys yes")) << ssh;
    EXPECT_TRUE(contains(ssh, "service enabled")) << ssh;
    EXPECT_TRUE(contains(nexa.sim.transcript(), "<<< ssh-keygen -q -t rsa -b 1024 -f sshd_host_rsa_key -N ''"));
    // The job's test ping runs over Telnet afterwards.
    EXPECT_TRUE(contains(nexa.sim.transcript(), "<<< ping -c 10"));
}

TEST_F(Jobs, SshKeyGenEnablesTheQxCliServerAndIsImmediateOverSsh) {
    SimRouter qx("qx");
    ASSERT_TRUE(qx.start("qxcli", {"--no-ssh"})) << qx.sim.error();
    auto h = runJob(qx.row("QX-1", "Telnet"), "SSHKeyGen");
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_TRUE(contains(log, "Found SSH-server disabled. Try to enable it."));
    EXPECT_TRUE(contains(log, "Found SSH-server enabled."));
    EXPECT_TRUE(contains(qx.sim.readStateFile("ssh"), "service enabled"));

    setup.db.exec("DELETE FROM cordal_jobhistory; DELETE FROM cordal_router");
    SimRouter viaSsh("viassh");
    ASSERT_TRUE(viaSsh.start("nexa")) << viaSsh.sim.error();
    h = runJob(viaSsh.row("NX-1", "SSH"), "SSHKeyGen");
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_TRUE(contains(log, "No need for SSH-enable-check as SSH-login was successful."));
    EXPECT_FALSE(contains(viaSsh.sim.transcript(), "update -i"));
}

TEST_F(Jobs, SecondPasswordWorksAndNoPasswordReachesTheLog) {
    for (const char* conntype : {"Telnet", "SSH"}) {
        SCOPED_TRACE(conntype);
        setup.db.exec("DELETE FROM cordal_jobhistory; DELETE FROM cordal_router");
        SimRouter device(conntype);
        ASSERT_TRUE(device.start("nexa", {"--user", "admin", "--password", "Right-Pw-7"})) << device.sim.error();
        auto h = runJob(
            device.row("NX-1", conntype, {{"tmibadmadmincommunity", "Wrong-Pw-3"}, {"oldcommunity", "Right-Pw-7"}}),
            "Test");
        EXPECT_EQ(result.exitCode, 0) << log;
        EXPECT_TRUE(contains(log, "(lastworking)")) << log;
        EXPECT_FALSE(contains(h["log"], "Right-Pw-7"));
        EXPECT_FALSE(contains(h["log"], "Wrong-Pw-3"));
        EXPECT_FALSE(contains(result.err + result.out, "Right-Pw-7"));
    }
    // With -d the debug lines name them.
    setup.db.exec("DELETE FROM cordal_jobhistory; DELETE FROM cordal_router");
    SimRouter device("debug");
    ASSERT_TRUE(device.start("nexa", {"--user", "admin", "--password", "Right-Pw-7"})) << device.sim.error();
    runJob(device.row("NX-1", "Telnet", {{"tmibadmadmincommunity", "Wrong-Pw-3"}, {"oldcommunity", "Right-Pw-7"}}),
           "Test", {"-d"});
    EXPECT_TRUE(contains(log, "DBG - Success: User 'admin' with password 'Right-Pw-7'.")) << log;
}

TEST_F(Jobs, StatusColumnFollowsTheSteps) {
    SimRouter device("slow");
    ASSERT_TRUE(device.start("nexa", {"--slow-reply", "400"})) << device.sim.error();
    unsigned long id = setup.addRouter(device.row("NX-1", "Telnet"));
    setup.addJob(42, id, "Test");
    std::atomic<bool> done{false};
    std::vector<std::string> seen;
    std::thread watcher([&] {
        while (!done) {
            std::vector<testdb::Row> rows;
            {
                // The run's secret scan uses the same connection once the
                // job has ended.
                std::lock_guard<std::mutex> hold(setup.scanLock);
                rows = setup.db.rows("SELECT status FROM cordal_jobs WHERE id=42");
            }
            if (!rows.empty() && rows[0][0] && (seen.empty() || seen.back() != *rows[0][0]))
                seen.push_back(*rows[0][0]);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    result = setup.run(42, {});
    done = true;
    watcher.join();
    EXPECT_EQ(result.exitCode, 0);
    auto position = [&](const std::string& status) {
        for (size_t i = 0; i < seen.size(); ++i)
            if (seen[i] == status) return static_cast<int>(i);
        return -1;
    };
    std::string all;
    for (const auto& s : seen) all += "[" + s + "]";
    int connecting = position("Telnet-connecting"), pinging = position("Sending test-pings"),
        disconnecting = position("Telnet-disconnecting");
    EXPECT_GE(connecting, 0) << all;
    EXPECT_GT(pinging, connecting) << all;
    EXPECT_GT(disconnecting, pinging) << all;
}

// The scan every end-to-end run makes is only worth something if it finds
// a secret where one is: with -d the job logs its passwords in debug lines.
TEST_F(Jobs, SecretScanFindsThePasswordsThatDebugShows) {
    SimRouter device("scan");
    ASSERT_TRUE(device.start("nexa", {"--user", "admin", "--password", "Scan-pw-7"})) << device.sim.error();
    runJob(device.row("NX-1", "Telnet", {{"tmibadmadmincommunity", "Scan-pw-7"}}), "Test", {"-l", "-d"});
    EXPECT_EQ(result.exitCode, 0) << log;
    std::string leaks = setup.leakedSecrets(42, result);
    EXPECT_TRUE(contains(leaks, "secret 'Scan-pw-7' in the history log")) << leaks;
    EXPECT_TRUE(contains(leaks, "secret '" + setup.db.password() + "'")) << leaks;
}
