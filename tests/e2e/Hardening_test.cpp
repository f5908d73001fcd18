// What an operator's bad day does to a job: router values that are no
// addresses, ports out of range, a database that freezes or restarts under
// the job, a termination signal and a device that drops the line mid-reply.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <memory>
#include <thread>

#include "tests/e2e/SimRouter.h"

using e2e::JobSetup;
using testsupport::contains;

namespace {

// The command lines of the running processes that contain every part.
std::vector<std::string> processesWith(const std::vector<std::string>& parts) {
    std::vector<std::string> found;
    DIR* proc = opendir("/proc");
    if (!proc) return found;
    while (dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        std::string cmdline = testsupport::readFile(std::string("/proc/") + entry->d_name + "/cmdline");
        for (char& c : cmdline)
            if (c == '\0') c = ' ';
        bool all = !cmdline.empty();
        for (const auto& part : parts) all = all && contains(cmdline, part);
        if (all) found.push_back(cmdline);
    }
    closedir(proc);
    return found;
}

// A TCP listener on a free loopback port that only counts what connects.
class Listener {
public:
    explicit Listener(int wanted = 0) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(wanted));
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0) {
            close(fd);
            fd = -1;
            return;
        }
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~Listener() {
        if (fd >= 0) close(fd);
    }
    bool listening() const { return fd >= 0; }
    // Whether a connection is waiting (the listener never blocks).
    bool connected() const {
        int client = accept(fd, nullptr, nullptr);
        if (client < 0) return false;
        close(client);
        return true;
    }

    int fd = -1;
    int port = 0;
};

class Hardening : public ::testing::Test {
protected:
    void SetUp() override { prepare(setup); }

    static void prepare(JobSetup& s) {
        s.addRouterType("NX-1", "NEXA");
        s.addRouterType("QX-1", "qx.CLI");
        e2e::JobSettings settings;
        settings.connectTimeout = "3";
        settings.rebootTime = "100";  // scaled to 5 seconds
        s.writeSettings(settings);
    }

    // Runs job 42 for a router row and returns its history row.
    std::map<std::string, std::string> runJob(JobSetup& s, const std::map<std::string, std::string>& router,
                                              const std::string& workmode) {
        s.db.exec("DELETE FROM cordal_jobhistory; DELETE FROM cordal_jobs; DELETE FROM cordal_router");
        unsigned long id = s.addRouter(router);
        s.addJob(42, id, workmode);
        result = s.run(42);
        auto h = s.history(42);
        log = testsupport::unwrappedLog(h["log"]);
        return h;
    }

    JobSetup setup;
    testsupport::ProcessResult result;
    std::string log;
};

// Runs job 42 in a thread of its own; the test acts on the process while
// it runs and then collects its result.
class BackgroundJob {
public:
    BackgroundJob(JobSetup& s, int timeoutSeconds = 400) {
        thread = std::thread([this, &s, timeoutSeconds] { result = s.run(42, {"-l"}, timeoutSeconds, &pid); });
        while (pid.load() == 0) std::this_thread::yield();
    }
    ~BackgroundJob() {
        if (thread.joinable()) thread.join();
    }
    testsupport::ProcessResult finish() {
        thread.join();
        return result;
    }

    std::atomic<int> pid{0};
    std::thread thread;
    testsupport::ProcessResult result;
};

}  // namespace

TEST_F(Hardening, RouterValuesNeverReachAShellAndMustBeAddresses) {
    SimRouter device("nexa");
    ASSERT_TRUE(device.start("nexa")) << device.sim.error();
    const std::string marker = setup.root.file("PWNED");
    struct Case {
        const char* conntype;
        const char* column;
        std::string value;
    };
    const Case cases[] = {
        {"SSH", "ipnumber", "127.0.0.1 -p 1;touch " + marker + ";#"},
        {"SSH", "ipnumber", "-oProxyCommand=touch " + marker},
        {"SSH", "ipfallbacknumber", "127.0.0.1;touch " + marker},
        {"SSH", "ipnumber", "$(touch " + marker + ")"},
        {"Telnet", "ipnumber", "127.0.0.1 garbage"},
        {"Telnet", "ipfallbacknumber", "-127.0.0.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.conntype) + " " + c.column + "=" + c.value);
        auto h = runJob(setup, device.row("NX-1", c.conntype, {{c.column, c.value}}), "Reboot");
        EXPECT_EQ(result.exitCode, 2) << log;
        EXPECT_EQ(h["reason"], "Could not log in");
        EXPECT_TRUE(
            contains(log, "Refusing router address '" + c.value + "': not an IPv4 or IPv6 address or host name."))
            << log;
        EXPECT_FALSE(testsupport::fileExists(marker)) << "a router value ran as a shell command";
        EXPECT_FALSE(contains(log, "-connecting to host")) << "nothing may be started or connected";
        EXPECT_FALSE(contains(device.sim.transcript(), "<<<")) << device.sim.transcript();
    }

    // Host names and IPv6 literals are addresses; the device is reached by name.
    auto h = runJob(setup, device.row("NX-1", "SSH", {{"ipnumber", "localhost"}}), "Reboot");
    EXPECT_FALSE(contains(log, "Refusing")) << log;
    // (The user shows as "******" here: the row's password is "admin" too.)
    EXPECT_TRUE(contains(log, "@localhost'.")) << log;
    EXPECT_EQ(h["status"], "success") << log;
}

TEST_F(Hardening, PortsOutOfRangeAreRefusedBeforeConnecting) {
    SimRouter device("nexa");
    ASSERT_TRUE(device.start("nexa")) << device.sim.error();
    // The port a wrapped value would reach (port + 65536) has a listener.
    Listener wrapped;
    ASSERT_TRUE(wrapped.listening());
    struct Case {
        const char* conntype;
        const char* column;
        long value;
    };
    const Case cases[] = {
        {"Telnet", "telnetport", 0},
        {"Telnet", "telnetport", 65536},
        {"Telnet", "telnetport", 65536L + wrapped.port},
        {"Telnet", "telnetport", 99999},
        {"SSH", "sshport", 65536L + wrapped.port},
        {"SSH", "sshport", 0},
        {"Telnet", "telnetport", 4294967295L},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.conntype) + " " + c.column + "=" + std::to_string(c.value));
        auto h = runJob(setup, device.row("NX-1", c.conntype, {{c.column, std::to_string(c.value)}}), "Reboot");
        EXPECT_EQ(result.exitCode, 2) << log;
        EXPECT_EQ(h["reason"], "Could not log in");
        EXPECT_TRUE(contains(log, std::string("Refusing ") + c.conntype + " port " + std::to_string(c.value) +
                                      ": a port is a number from 1 to 65535."))
            << log;
        EXPECT_FALSE(wrapped.connected()) << "the wrapped port was connected";
        EXPECT_FALSE(contains(log, "-connecting to host")) << log;
    }
    EXPECT_FALSE(contains(device.sim.transcript(), "<<<")) << device.sim.transcript();
}

TEST_F(Hardening, FailuresWithoutAHistoryRowSayWhyOnStandardError) {
    // No settings file at all.
    remove(setup.root.file("etc/cordal.xml").c_str());
    testsupport::ProcessResult r = setup.run(42, {});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.err,
                         "Tarvo: ERROR: Job 42 failed without a history row (No DB-settings: Could not get "
                         "database-settings from config.); the log is in '" +
                             setup.transferDir() + "42.log'."))
        << r.err;
    EXPECT_TRUE(contains(testsupport::readFile(setup.transferDir() + "42.log"), "Could not get database-settings"));

    // A database that is not there.
    std::string settings = setup.settingsXml(e2e::JobSettings());
    settings.replace(settings.find(setup.db.host()), setup.db.host().size(), "127.0.0.1:1");
    setup.writeSettingsText(settings);
    r = setup.run(42, {});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.err, "(No DB-connection: Could not connect to database.)")) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;

    // A job that is not in the database.
    setup.writeSettings();
    r = setup.run(42, {});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.err, "(No job in DB: Job 42 not found in database.)")) << r.err;
    EXPECT_TRUE(contains(testsupport::readFile(setup.transferDir() + "42.log"), "Job 42 not found in database."));

    // A log file that cannot be written is said too.
    testsupport::writeFile(setup.root.file("blocker"), "");
    std::filesystem::remove_all(setup.root.file("tftpboot"));
    symlink(setup.root.file("blocker").c_str(), setup.root.file("tftpboot").c_str());
    r = setup.run(42, {});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.err, "the log could not be written to '")) << r.err;
}

TEST_F(Hardening, TerminationSignalEndsTheJobThroughFinish) {
    for (const char* conntype : {"Telnet", "SSH"}) {
        SCOPED_TRACE(conntype);
        setup.db.exec("DELETE FROM cordal_jobhistory; DELETE FROM cordal_jobs; DELETE FROM cordal_router");
        SimRouter device(std::string("silent") + conntype);
        ASSERT_TRUE(device.start("nexa", {"--silent-after", "ping"})) << device.sim.error();
        setup.addJob(42, setup.addRouter(device.row("NX-1", conntype)), "Test");
        BackgroundJob job(setup);
        ASSERT_TRUE(device.sim.waitForTranscript("<<< ping", 120000)) << device.sim.transcript();
        kill(job.pid.load(), SIGTERM);
        auto r = job.finish();
        auto h = setup.history(42);
        std::string text = testsupport::unwrappedLog(h["log"]);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_EQ(h["reason"], "Terminated") << text;
        EXPECT_EQ(h["status"], "error");
        EXPECT_FALSE(setup.jobRowExists(42));
        EXPECT_TRUE(contains(text, "Terminated by signal SIGTERM; no further command is sent to the device.")) << text;
        EXPECT_TRUE(contains(text, std::string("*** ") + conntype + "-connecting.")) << text;
        // The device wait ended on the request, not by its silence time-out.
        EXPECT_TRUE(contains(text, "Wait ended by a termination request!")) << text;
        std::string transcript = device.sim.transcript();
        EXPECT_FALSE(contains(transcript.substr(transcript.find("<<< ping")), "\n<<<"))
            << "no command after the signal:\n"
            << transcript;
        EXPECT_TRUE(processesWith({"ssh", "-p " + std::to_string(device.sim.sshPort())}).empty())
            << "the client was ended";
    }
}

namespace {
// A Reboot job on a server of the test's own, held (SIGSTOP) once the
// device got its reboot command, while the job waits out its reboot time
// (5 seconds at the tests' pause scale): what the test does to the server
// then surely comes before the job's last statements.
class HardeningDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        e2e::JobSettings settings;
        settings.rebootTime = "100";
        setup.writeSettings(settings);
        ASSERT_TRUE(device.start("nexa", {"--reboot-downtime", "0"})) << device.sim.error();
        setup.addJob(42, setup.addRouter(device.row("NX-1", "Telnet")), "Reboot");
        // The secret scan reads the server, which these tests stop while
        // the job ends; they scan once the server is back.
        setup.scanSecrets = false;
    }

    void startAndHoldAfterReboot() {
        job = std::make_unique<BackgroundJob>(setup);
        ASSERT_TRUE(device.sim.waitForTranscript("<<< cmd=reboot", 120000)) << device.sim.transcript();
        kill(job->pid.load(), SIGSTOP);
        ASSERT_EQ(setup.historyRows(42), 0) << "the job got past its reboot wait";
    }

    testdb::PrivateServer server;
    JobSetup setup{server.facts()};
    SimRouter device{"nexa"};
    std::unique_ptr<BackgroundJob> job;
};
}  // namespace

TEST_F(HardeningDatabase, FrozenServerEndsTheJobWithItsOutcomeOnDisk) {
    ASSERT_NO_FATAL_FAILURE(startAndHoldAfterReboot());
    kill(server.facts().pid, SIGSTOP);
    kill(job->pid.load(), SIGCONT);
    auto r = job->finish();
    kill(server.facts().pid, SIGCONT);
    EXPECT_EQ(setup.leakedSecrets(42, r), "");

    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_TRUE(contains(r.err, "Tarvo: ERROR: Could not store the history of job 42")) << r.err;
    EXPECT_TRUE(setup.jobRowExists(42));
    EXPECT_EQ(setup.historyRows(42), 0);
    std::string log = testsupport::readFile(setup.transferDir() + "42.log");
    EXPECT_TRUE(contains(log, "*** Rebooting.")) << log;
    EXPECT_TRUE(contains(log, "Tarvo finished.")) << log;
}

TEST_F(HardeningDatabase, RestartedServerStillGetsTheHistoryRow) {
    ASSERT_NO_FATAL_FAILURE(startAndHoldAfterReboot());
    server.restart();
    kill(job->pid.load(), SIGCONT);
    auto r = job->finish();

    EXPECT_EQ(r.exitCode, 0) << r.err;
    auto h = setup.history(42);
    EXPECT_EQ(h["status"], "success") << r.err;
    EXPECT_EQ(setup.leakedSecrets(42, r), "");
    EXPECT_FALSE(setup.jobRowExists(42));
    // The reconnection comes with the history insert, after the log was
    // copied into the row; the log on standard error (-l) shows it.
    std::string log = testsupport::unwrappedLog(r.err);
    EXPECT_TRUE(contains(log, "DB  - pooled connection lost (")) << log;
    EXPECT_TRUE(contains(log, "DB  - reconnected to the database.")) << log;
}

TEST_F(Hardening, ReplyCutMidLineIsLoggedAlone) {
    SimRouter device("cut");
    ASSERT_TRUE(device.start("qxcli", {"--close-mid-reply", "ping"})) << device.sim.error();
    auto h = runJob(setup, device.row("QX-1", "Telnet"), "Test");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(h["reason"], "Ping failed") << log;
    // What the device sent last, as it arrived, on a line of its own.
    std::string sent = device.sim.transcript();
    ASSERT_TRUE(contains(sent, "fault: connection dropped in the middle of the reply")) << sent;
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        lines.push_back(log.substr(start, end - start));
        start = end + 1;
    }
    size_t error = 0;
    while (error < lines.size() && !contains(lines[error], "ERR - Expected")) ++error;
    ASSERT_LT(error, lines.size()) << log;
    // The line before the error (blank lines around errors aside) is the cut one.
    size_t cut = error;
    while (cut > 0 && !contains(lines[cut - 1], "COM - ")) --cut;
    ASSERT_GT(cut, 0u) << log;
    std::string last = lines[cut - 1].substr(lines[cut - 1].find("COM - ") + 6);
    while (!last.empty() && last.back() == ' ') last.pop_back();
    ASSERT_FALSE(last.empty()) << log;
    // It is where the device's last reply ends (the transcript writes each
    // reply on one line, ">>> " then the text).
    size_t lastReply = sent.rfind(" >>> ");
    ASSERT_NE(lastReply, std::string::npos) << sent;
    std::string tail = sent.substr(lastReply, sent.find('\n', lastReply) - lastReply);
    ASSERT_GE(tail.size(), last.size()) << tail;
    EXPECT_EQ(tail.substr(tail.size() - last.size()), last) << "the cut line is logged as it arrived:\n" << log;
    // Nothing follows it as device traffic: the half-line is not glued to
    // anything later, nor logged again after the errors.
    for (size_t i = error; i < lines.size(); ++i) EXPECT_FALSE(contains(lines[i], "COM - ")) << lines[i];
}
