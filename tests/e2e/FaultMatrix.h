#pragma once
// The fixtures of the fault matrix: a job run in a thread of its own while
// the test breaks its device, its client or its database, and the promises
// every cell checks afterwards.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "tests/e2e/SimRouter.h"
#include "tests/e2esupport/ProcessTable.h"

namespace faultmatrix {

inline double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

inline void sleepMs(int ms) {
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
inline JobRun runJob(e2e::JobSetup& setup, unsigned long jobId, std::function<void(pid_t)> during = {},
                     bool readHistory = true) {
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

inline void expectNothingLeft(pid_t job, const std::vector<int>& ports) {
    EXPECT_EQ(e2e::ProcessTable::leftBehind(job, ports), "");
}

// One cell of the matrix: the device of a family, reached over a transport,
// meets the fault at the trigger (the command it breaks on) while the job
// runs the workmode; the test's action (when any) follows the fault, and
// the job ends with the reason.
enum class Fault { CutMidReply, SilentAfter };
enum class Action { None, KillSsh, KillSftp, Restart, AwaitSilence, AwaitDrop };
// What a job that armed the timer must have done about it after the fault.
enum class Armed { Nothing, RebootSent, RestartsByItself };
// The short names the tables use.
constexpr Fault kCut = Fault::CutMidReply;
constexpr Fault kSilence = Fault::SilentAfter;
constexpr Action kNone = Action::None;
constexpr Action kKillSsh = Action::KillSsh;
constexpr Action kKillSftp = Action::KillSftp;
constexpr Action kRestart = Action::Restart;
constexpr Action kAwaitSilence = Action::AwaitSilence;
constexpr Action kAwaitDrop = Action::AwaitDrop;
constexpr Armed kNoTimer = Armed::Nothing;
constexpr Armed kRebootSent = Armed::RebootSent;
constexpr Armed kByItself = Armed::RestartsByItself;

// What a cell's extra column sees: before the job (run null) it may add
// device options, router columns, settings and the armed matrix's router
// material; after the job (run set) it checks what the cell checks besides.
struct CellRun {
    e2e::JobSetup& setup;
    e2e::JobSettings& settings;
    SimRouter& device;
    const JobRun* run = nullptr;
    std::vector<std::string> options = {};
    std::map<std::string, std::string> columns = {};
    std::string certificate = "";  // the armed matrix: the router's certificate file
    bool release = false;     // the armed matrix: a software release of one system image
    int nexaRevision = 3;     // its NEXA revision
};

struct Cell {
    const char* name;
    const char* workmode;
    const char* family;     // "nexa", "qxcli"
    const char* transport;  // "Telnet", "SSH"
    Fault fault;
    const char* trigger;
    const char* reason;
    Action action = Action::None;
    Armed armed = Armed::Nothing;
    const char* seconds = "600";  // Armed::RestartsByItself: the seconds the log names
    void (*extra)(CellRun&) = nullptr;
};

inline void PrintTo(const Cell& cell, std::ostream* out) {
    *out << cell.name;
}

inline std::string cellName(const ::testing::TestParamInfo<Cell>& info) {
    return info.param.name;
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
                              std::vector<std::string> options = {}, std::map<std::string, std::string> columns = {}) {
        options.insert(options.end(), {"--transfer-dir", setup.transferDir(), "--reboot-downtime", "0", "--user",
                                       "admin", "--password", "Kc9-admin-comm"});
        deviceOptions = options;
        family_ = family;
        EXPECT_TRUE(device.start(family, options)) << device.sim.error();
        columns.insert({{"pass", "Zq8-router-pw"},
                        {"tmibadmadmincommunity", "Kc9-admin-comm"},
                        {"tmibadmreadcommunity", "Rd7-read-comm"},
                        {"tmibadmwritecommunity", "Wr6-write-comm"}});
        return setup.addRouter(device.row(family == "nexa" ? "NX-1" : "QX-1", conntype, columns));
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

    // Waits for the device to note text in its transcript; faultMark is
    // where it did.
    bool awaitDevice(const std::string& text) {
        bool seen = device.sim.waitForTranscript(text, 120000);
        EXPECT_TRUE(seen) << text << "\n" << device.sim.transcript();
        if (seen) faultMark = device.sim.transcript().find(text);
        return seen;
    }

    // What the test does once the device has fallen silent.
    std::function<void(pid_t)> killClientOnSilence(const std::string& name = "ssh") {
        return [this, name](pid_t job) {
            if (awaitDevice(kSilent)) killClient(job, name);
        };
    }
    std::function<void(pid_t)> restartOnSilence() {
        return [this](pid_t) {
            if (awaitDevice(kSilent)) restartDevice();
        };
    }

    // The cell's run: its device started by start (family, transport, the
    // device options), the workmode run, the common promises and the
    // cell's own checks.
    using Starter = std::function<unsigned long(const Cell&, CellRun&)>;
    JobRun runCell(const Cell& c, const Starter& start) {
        CellRun extra{setup, settings, device};
        if (c.extra) c.extra(extra);
        setup.writeSettings(settings);
        extra.options.insert(extra.options.end(),
                             {c.fault == Fault::CutMidReply ? "--close-mid-reply" : "--silent-after", c.trigger});
        unsigned long router = start(c, extra);
        JobRun run = cell(router, c.workmode, c.reason, during(c.action));
        if (c.armed == Armed::RebootSent) {
            const std::string later = device.sim.transcript().substr(faultMark);
            const char* reboot = family_ == "nexa" ? "<<< cmd=reboot" : "restart yes";
            EXPECT_TRUE(testsupport::contains(later, reboot)) << later;
        } else if (c.armed == Armed::RestartsByItself) {
            expectRestartsByItself(run, c.seconds);
        }
        extra.run = &run;
        if (c.extra) c.extra(extra);
        return run;
    }

    // The connection was gone: the log says that the armed timer restarts
    // the device, and when.
    void expectRestartsByItself(const JobRun& run, const std::string& seconds) {
        EXPECT_TRUE(testsupport::contains(
            run.log, "INF - The device will restart by itself within " + seconds + " seconds (auto-fallback-reboot)."))
            << run.log;
    }

    std::function<void(pid_t)> during(Action action) {
        switch (action) {
            case Action::None:
                return {};
            case Action::KillSsh:
                return killClientOnSilence("ssh");
            case Action::KillSftp:
                return killClientOnSilence("sftp");
            case Action::Restart:
                return restartOnSilence();
            case Action::AwaitSilence:
                return [this](pid_t) { awaitDevice(kSilent); };
            case Action::AwaitDrop:
                return [this](pid_t) { awaitDevice("fault: connection dropped"); };
        }
        return {};
    }

    // Waits for the job's client named name ("ssh", "sftp") and kills it.
    void killClient(pid_t job, const std::string& name = "ssh") {
        std::vector<pid_t> clients;
        for (int i = 0; i < 6000 && clients.empty(); ++i) {
            clients = e2e::ProcessTable::descendantsNamed(job, name);
            if (clients.empty()) sleepMs(10);
        }
        ASSERT_FALSE(clients.empty()) << "no " << name << " client of job " << job;
        for (pid_t client : clients) kill(client, SIGKILL);
    }

    e2e::JobSetup setup;
    e2e::JobSettings settings;
    SimRouter device{"device"};
    std::vector<std::string> deviceOptions;
    std::string family_;
    size_t faultMark = 0;
    static constexpr const char* kSilent = "fault: silent from now on";
};

// A job whose database is on a server of the test's own.
class FaultMatrixDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        setup = std::make_unique<e2e::JobSetup>(server.facts());
        setup->addRouterType("NX-1", "NEXA");
        e2e::JobSettings settings;
        settings.connectTimeout = "4";
        setup->writeSettings(settings);
        deviceOptions.insert(deviceOptions.end(), {"--transfer-dir", setup->transferDir()});
        ASSERT_TRUE(device.start("nexa", deviceOptions)) << device.sim.error();
        routerId = setup->addRouter(
            device.row("NX-1", "Telnet", {{"pass", "Zq8-router-pw"}, {"tmibadmadmincommunity", "Kc9-admin-comm"}}));
        // The server may be gone when the job ends: the secrets are
        // scanned once it is back.
        setup->scanSecrets = false;
    }

    // Runs the job; once the device has noted text, the server goes, or
    // restarts when restart is true.
    JobRun runUntilDevice(unsigned long jobId, const std::string& text, bool restart = false) {
        return runJob(
            *setup, jobId,
            [&](pid_t) {
                EXPECT_TRUE(device.sim.waitForTranscript(text, 120000)) << device.sim.transcript();
                if (restart)
                    server.restart();
                else
                    server.halt();
            },
            false);
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
        EXPECT_TRUE(testsupport::contains(run.result.err, logFile)) << run.result.err;
        EXPECT_EQ(setup->leakedSecrets(jobId, run.result), "");
        expectNothingLeft(run.pid, {device.sim.telnetPort(), device.sim.sshPort()});
    }

    testdb::PrivateServer server;
    std::unique_ptr<e2e::JobSetup> setup;
    SimRouter device{"device"};
    std::vector<std::string> deviceOptions{"--slow-reply", "300", "--user", "admin", "--password", "Kc9-admin-comm"};
    unsigned long routerId = 0;
};

}  // namespace faultmatrix
