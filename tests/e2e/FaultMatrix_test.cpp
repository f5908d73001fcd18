// Every workmode that talks to a device, under faults: the device breaks a
// reply off, goes silent, restarts in the middle of the job, the ssh
// client is killed, the database is gone at the start, goes away during
// the job or before its end. Whatever happens, the job ends with exit 2
// and a recorded outcome, in a bounded time (printed, never asserted),
// and leaves no client process and no zombie behind.
//
// One cell per stage and family where the code differs; the workmodes
// that share a stage's code (GetconfAll with GetConf, ConfComp's and the
// local configurations' download with GetConf's) get no cell of their own.
// The login is the same code for every workmode: its faults are met where
// they fall (the Reboot and SSHKeyGen cells). None of these workmodes arms
// a fallback timer, so no cell checks for the reboot that must follow one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#include "tests/e2e/SimRouter.h"
#include "tests/e2esupport/ProcessTable.h"

using e2e::JobSetup;
using testsupport::contains;

namespace {

double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

struct JobRun {
    testsupport::ProcessResult result;
    double seconds = 0;
    pid_t pid = 0;
    std::map<std::string, std::string> history;
    std::string log;
};

// Runs a job in a thread of its own; during (when given) runs once the
// job's process is seen, with its pid, while the job goes on.
JobRun runJob(JobSetup& setup, unsigned long jobId, std::function<void(pid_t)> during = {}, bool readHistory = true) {
    JobRun run;
    std::atomic<bool> ended{false};
    double start = now();
    std::thread job([&] {
        run.result = setup.run(jobId, {"-l"}, 600);
        ended = true;
    });
    while (!ended && !run.pid) {
        run.pid = e2e::ProcessTable::findJob(setup.root.path(), jobId);
        if (!run.pid) sleepMs(5);
    }
    if (during && run.pid) during(run.pid);
    job.join();
    run.seconds = now() - start;
    printf("job %lu ended with %d after %.1f s\n", jobId, run.result.exitCode, run.seconds);
    if (readHistory) {
        run.history = setup.history(jobId);
        run.log = testsupport::unwrappedLog(run.history["log"]);
    }
    return run;
}

void expectNothingLeft(pid_t job, const std::vector<int>& ports) {
    EXPECT_EQ(e2e::ProcessTable::leftBehind(job, ports), "");
}

class FaultMatrix : public ::testing::Test {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        setup.addRouterType("QX-1", "qx.CLI");
        // Silence ends a wait after the connect time-out.
        settings.connectTimeout = "4";
        settings.ipAllowDelete = "true";
        setup.writeSettings(settings);
    }

    // family "nexa" or "qxcli"; conntype "Telnet" or "SSH".
    unsigned long startDevice(const std::string& family, const std::string& conntype,
                              std::vector<std::string> options = {}) {
        options.insert(options.end(), {"--transfer-dir", setup.transferDir(), "--reboot-downtime", "0", "--user",
                                       "admin", "--password", "Kc9-admin-comm"});
        deviceOptions = options;
        family_ = family;
        EXPECT_TRUE(device.start(family, options)) << device.sim.error();
        return setup.addRouter(device.row(family == "nexa" ? "NX-1" : "QX-1", conntype,
                                          {{"pass", "Zq8-router-pw"},
                                           {"tmibadmadmincommunity", "Kc9-admin-comm"},
                                           {"tmibadmreadcommunity", "Rd7-read-comm"},
                                           {"tmibadmwritecommunity", "Wr6-write-comm"}}));
    }

    // The device restarts the hard way: the simulator ends and starts
    // again on the same ports with the same state.
    void restartDevice() {
        int telnet = device.sim.telnetPort(), ssh = device.sim.sshPort();
        device.sim.stop();
        std::vector<std::string> options = deviceOptions;
        options.insert(options.end(), {"--telnet-port", std::to_string(telnet), "--ssh-port", std::to_string(ssh)});
        ASSERT_TRUE(device.start(family_, options)) << device.sim.error();
    }

    // Runs the workmode as job 7 and checks the promises of every cell.
    JobRun cell(unsigned long routerId, const std::string& workmode, const std::string& reason,
                std::function<void(pid_t)> during = {}) {
        setup.addJob(7, routerId, workmode);
        JobRun run = runJob(setup, 7, during);
        EXPECT_EQ(run.result.exitCode, 2) << run.result.err << run.log;
        EXPECT_EQ(run.history["status"], "error") << run.log;
        EXPECT_EQ(run.history["reason"], reason) << run.log << "\n--- device ---\n" << device.sim.transcript();
        EXPECT_FALSE(setup.jobRowExists(7));
        expectNothingLeft(run.pid, {device.sim.telnetPort(), device.sim.sshPort()});
        return run;
    }

    // Waits for the device to note text in its transcript.
    bool awaitDevice(const std::string& text) {
        bool seen = device.sim.waitForTranscript(text, 120000);
        EXPECT_TRUE(seen) << text << "\n" << device.sim.transcript();
        return seen;
    }

    // Waits for the job's ssh client and kills it.
    void killSsh(pid_t job) {
        std::vector<pid_t> clients;
        for (int i = 0; i < 6000 && clients.empty(); ++i) {
            clients = e2e::ProcessTable::descendantsNamed(job, "ssh");
            if (clients.empty()) sleepMs(10);
        }
        ASSERT_FALSE(clients.empty()) << "no ssh client of job " << job;
        for (pid_t client : clients) kill(client, SIGKILL);
    }

    JobSetup setup;
    e2e::JobSettings settings;
    SimRouter device{"device"};
    std::vector<std::string> deviceOptions;
    std::string family_;
};

// --- Test's ping (the test ping of every workmode that needs one) ---

TEST_F(FaultMatrix, PingCutMidReplyNexaSsh) {
    unsigned long router = startDevice("nexa", "SSH", {"--close-mid-reply", "ping"});
    cell(router, "Test", "Ping failed");
}

TEST_F(FaultMatrix, PingSshClientKilledQxCli) {
    unsigned long router = startDevice("qxcli", "SSH", {"--silent-after", "ping"});
    cell(router, "Test", "Ping failed", [&](pid_t job) {
        if (awaitDevice("fault: silent from now on")) killSsh(job);
    });
}

// --- SetPass ---

TEST_F(FaultMatrix, SetPassCutMidSecretNexaSsh) {
    unsigned long router = startDevice("nexa", "SSH", {"--close-mid-reply", "tmibAdmAdminCommunity"});
    cell(router, "SetPass", "Missing prompt");
}

TEST_F(FaultMatrix, SetPassSilentQxCliTelnet) {
    unsigned long router = startDevice("qxcli", "Telnet", {"--silent-after", "save"});
    cell(router, "SetPass", "Missing prompt");
}

TEST_F(FaultMatrix, SetPassDeviceRestartedNexaTelnet) {
    unsigned long router = startDevice("nexa", "Telnet", {"--silent-after", "configd save"});
    cell(router, "SetPass", "Missing prompt", [&](pid_t) {
        if (awaitDevice("fault: silent from now on")) restartDevice();
    });
}

// --- Invent ---

TEST_F(FaultMatrix, InventSilentNexaTelnet) {
    unsigned long router = startDevice("nexa", "Telnet", {"--silent-after", "y"});
    cell(router, "Invent", "Missing prompt");
}

TEST_F(FaultMatrix, InventSshClientKilledNexa) {
    unsigned long router = startDevice("nexa", "SSH", {"--silent-after", "y"});
    cell(router, "Invent", "Missing prompt", [&](pid_t job) {
        if (awaitDevice("fault: silent from now on")) killSsh(job);
    });
}

TEST_F(FaultMatrix, InventCutMidReplyQxCliSsh) {
    unsigned long router = startDevice("qxcli", "SSH", {"--close-mid-reply", "version"});
    cell(router, "Invent", "Missing prompt");
}

// --- Reboot ---
// The reboot command's reply is not judged (a rebooting device drops the
// line, or says nothing): a fault there ends the job as a reboot does. What
// can fail is the login before it, where the qx.CLI family switches the
// shell time-out off.

TEST_F(FaultMatrix, RebootSshClientKilledDuringLoginQxCli) {
    unsigned long router = startDevice("qxcli", "SSH", {"--silent-after", "running-config"});
    cell(router, "Reboot", "Could not log in", [&](pid_t job) {
        if (awaitDevice("fault: silent from now on")) killSsh(job);
    });
}

// --- GetConf (GetconfAll, ConfComp and the merge download share it) ---

TEST_F(FaultMatrix, GetConfCutMidReplyNexaTelnet) {
    unsigned long router = startDevice("nexa", "Telnet", {"--close-mid-reply", "configd"});
    cell(router, "GetConf", "Bad file-transfer");
}

TEST_F(FaultMatrix, GetConfDeviceRestartedNexaSsh) {
    unsigned long router = startDevice("nexa", "SSH", {"--silent-after", "configd"});
    cell(router, "GetConf", "Bad file-transfer", [&](pid_t) {
        if (awaitDevice("fault: silent from now on")) restartDevice();
    });
}

TEST_F(FaultMatrix, GetConfSilentQxCliSsh) {
    unsigned long router = startDevice("qxcli", "SSH", {"--silent-after", "set file-cfg"});
    cell(router, "GetConf", "No cfg-file-name");
}

// --- SSHKeyGen ---

TEST_F(FaultMatrix, SSHKeyGenSilentNexa) {
    // The check over Telnet waits out the silence; SSH stays off and the
    // SSH login fails.
    unsigned long router = startDevice("nexa", "SSH", {"--no-ssh", "--silent-after", "ssh"});
    cell(router, "SSHKeyGen", "Could not log in");
}

TEST_F(FaultMatrix, SSHKeyGenCutMidReplyQxCli) {
    unsigned long router = startDevice("qxcli", "SSH", {"--no-ssh", "--close-mid-reply", "feature ssh"});
    cell(router, "SSHKeyGen", "Could not log in");
}

// --- Erase ---

TEST_F(FaultMatrix, EraseCutMidReplyNexaSsh) {
    unsigned long router = startDevice("nexa", "SSH", {"--close-mid-reply", "configd delete"});
    cell(router, "Erase", "Missing prompt");
}

TEST_F(FaultMatrix, EraseDeviceRestartedQxCliTelnet) {
    unsigned long router = startDevice("qxcli", "Telnet", {"--silent-after", "set file-cfg"});
    cell(router, "Erase", "No cfg-file-name", [&](pid_t) {
        if (awaitDevice("fault: silent from now on")) restartDevice();
    });
}

// --- The database ---

// A job whose database is on a server of the test's own.
class FaultMatrixDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        setup = std::make_unique<JobSetup>(server.facts());
        setup->addRouterType("NX-1", "NEXA");
        e2e::JobSettings settings;
        settings.connectTimeout = "4";
        setup->writeSettings(settings);
        ASSERT_TRUE(device.start("nexa", deviceOptions)) << device.sim.error();
        routerId = setup->addRouter(
            device.row("NX-1", "Telnet", {{"pass", "Zq8-router-pw"}, {"tmibadmadmincommunity", "Kc9-admin-comm"}}));
        // The server may be gone when the job ends: the secrets are
        // scanned once it is back.
        setup->scanSecrets = false;
    }

    // After the job: the server back, the job row kept, the log file
    // written and named on standard error, nothing left running.
    void expectOutcomeKept(const JobRun& run, unsigned long jobId) {
        EXPECT_EQ(run.result.exitCode, 2) << run.result.err;
        server.restart();
        EXPECT_EQ(setup->historyRows(jobId), 0);
        EXPECT_TRUE(setup->jobRowExists(jobId));
        const std::string logFile = setup->transferDir() + std::to_string(jobId) + ".log";
        EXPECT_TRUE(testsupport::fileExists(logFile)) << run.result.err;
        EXPECT_TRUE(contains(run.result.err, logFile)) << run.result.err;
        EXPECT_EQ(setup->leakedSecrets(jobId, run.result), "");
        expectNothingLeft(run.pid, {device.sim.telnetPort(), device.sim.sshPort()});
    }

    testdb::PrivateServer server;
    std::unique_ptr<JobSetup> setup;
    SimRouter device{"device"};
    std::vector<std::string> deviceOptions{"--slow-reply", "300", "--user", "admin", "--password", "Kc9-admin-comm"};
    unsigned long routerId = 0;
};

TEST_F(FaultMatrixDatabase, UnreachableAtStart) {
    setup->addJob(7, routerId, "Invent");
    server.halt();
    JobRun run = runJob(*setup, 7, {}, false);
    EXPECT_EQ(run.result.exitCode, 2) << run.result.err;
    // Nothing but the settings is known: the standard error says why and
    // where the log went.
    printf("standard error:\n%s\n", run.result.err.c_str());
    const std::string logFile = setup->transferDir() + "7.log";
    EXPECT_TRUE(testsupport::fileExists(logFile)) << run.result.err;
    EXPECT_TRUE(contains(run.result.err, logFile)) << run.result.err;
    server.restart();
    EXPECT_TRUE(setup->jobRowExists(7));
    EXPECT_EQ(setup->historyRows(7), 0);
    EXPECT_EQ(setup->leakedSecrets(7, run.result), "");
    expectNothingLeft(run.pid, {device.sim.telnetPort(), device.sim.sshPort()});
    EXPECT_EQ(device.sim.transcript().find("connection from"), std::string::npos) << "the device was contacted";
}

TEST_F(FaultMatrixDatabase, StoppedWhileTheJobRuns) {
    setup->addJob(7, routerId, "Invent");
    JobRun run = runJob(
        *setup, 7,
        [&](pid_t) {
            EXPECT_TRUE(device.sim.waitForTranscript("logged in as", 120000)) << device.sim.transcript();
            server.halt();
        },
        false);
    expectOutcomeKept(run, 7);
}

TEST_F(FaultMatrixDatabase, StoppedBeforeFinish) {
    // The device goes silent on the last inventory command: the job waits
    // out the silence, the server goes meanwhile, and the outcome has
    // nowhere to go but the log file.
    device.sim.stop();
    ASSERT_TRUE(device.start("nexa", {"--silent-after", "y", "--user", "admin", "--password", "Kc9-admin-comm"}))
        << device.sim.error();
    setup->db.exec("UPDATE cordal_router SET telnetport=" + std::to_string(device.sim.telnetPort()) +
                   ", sshport=" + std::to_string(device.sim.sshPort()));
    setup->addJob(7, routerId, "Invent");
    JobRun run = runJob(
        *setup, 7,
        [&](pid_t) {
            EXPECT_TRUE(device.sim.waitForTranscript("fault: silent from now on", 120000)) << device.sim.transcript();
            server.halt();
        },
        false);
    expectOutcomeKept(run, 7);
}

TEST_F(FaultMatrixDatabase, RestartedWhileTheJobRunsKeepsTheHistory) {
    setup->addJob(7, routerId, "Invent");
    JobRun run = runJob(
        *setup, 7,
        [&](pid_t) {
            EXPECT_TRUE(device.sim.waitForTranscript("logged in as", 120000)) << device.sim.transcript();
            server.restart();
        },
        false);
    // The outcome reaches the restarted server, whatever it is.
    EXPECT_TRUE(run.result.exitCode == 0 || run.result.exitCode == 2) << run.result.exitCode;
    EXPECT_EQ(setup->historyRows(7), 1) << run.result.err;
    EXPECT_EQ(setup->history(7)["status"], run.result.exitCode == 0 ? "success" : "error");
    EXPECT_FALSE(setup->jobRowExists(7));
    EXPECT_EQ(setup->leakedSecrets(7, run.result), "");
    expectNothingLeft(run.pid, {device.sim.telnetPort(), device.sim.sshPort()});
}

}  // namespace
