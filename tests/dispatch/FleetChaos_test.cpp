// A fleet under fire: three worker hosts (dispatchers in UTS namespaces of
// their own, each with its own database node first in its server list)
// work through a queue of mixed jobs for thirty simulated routers, some of
// them misbehaving at random. Mid-run one host dies with all its
// processes (SIGKILL) and one database node is stopped and started again.
// Afterwards every job has exactly one history row (the dead host's
// claimed jobs "Job process lost", recorded by a survivor after the
// lease), no job ran twice, no two jobs of one router overlapped on the
// device, nothing is left running or claimed, and the metrics files add
// up to the history.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "tests/dispatch/DispatcherProcess.h"
#include "tests/dispatch/FleetDatabase.h"
#include "tests/e2e/ClaimSupport.h"
#include "tests/e2e/SimRouter.h"
#include "tests/e2esupport/ProcessTable.h"

using dispatchtest::DispatcherProcess;
using testsupport::contains;

namespace {

const int kRouters = 30;
const int kJobs = 150;
const unsigned kLeaseSeconds = 20;
const char* const kHosts[] = {"fleet-a", "fleet-b", "fleet-c"};
const int kDying = 2;  // fleet-c dies
// Each router gets each of these in turn (its jobs are kRouters apart).
const char* const kWorkmodes[] = {"Test", "Invent", "GetConf", "Reboot", "SetPass"};

using Clock = std::chrono::steady_clock;

template <class Done>
bool waitFor(Done done, int seconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

// What a dispatcher's lines say about each job: how often it started it
// and how each start ended ("exit 0", "exit 3", …; none while running).
struct Lines {
    std::map<unsigned long, int> starts;
    std::map<unsigned long, std::vector<std::string>> ends;
    std::map<std::string, long long> endsByKind;  // "success", "error", "other", "lost claim"

    explicit Lines(const std::string& output) {
        static const std::regex started("^job ([0-9]+) started: "),
            ended("^job ([0-9]+) ended: .*, (exit [0-9]+|killed)");
        std::istringstream in(output);
        std::string line;
        std::smatch m;
        while (std::getline(in, line)) {
            if (std::regex_search(line, m, started)) ++starts[std::stoul(m[1])];
            if (!std::regex_search(line, m, ended)) continue;
            const std::string how = m[2];
            ends[std::stoul(m[1])].push_back(how);
            ++endsByKind[how == "exit 0"   ? "success"
                         : how == "exit 2" ? "error"
                         : how == "exit 3" ? "lost claim"
                                           : "other"];
        }
    }
};

size_t countOfLostLines(const std::string& output) {
    static const std::regex lostLine("(^|\n)job [0-9]+ lost: ");
    return static_cast<size_t>(
        std::distance(std::sregex_iterator(output.begin(), output.end(), lostLine), std::sregex_iterator()));
}

// Stops every process of a host at once, then kills them: the dispatcher
// first, so it starts nothing more, then whatever runs below it, until
// no new process appears.
std::set<pid_t> killHost(DispatcherProcess& host) {
    std::set<pid_t> tree{host.pid()};
    kill(host.pid(), SIGSTOP);
    for (size_t before = 0; before != tree.size();) {
        before = tree.size();
        for (const auto& p : e2e::ProcessTable::snapshot())
            if (tree.count(p.parent) && !tree.count(p.pid) && p.state != 'Z') {
                kill(p.pid, SIGSTOP);
                tree.insert(p.pid);
            }
    }
    for (pid_t pid : tree) kill(pid, SIGKILL);
    host.wait(60);
    return tree;
}

class FleetChaos : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(DispatcherProcess::hostsOfTheirOwn()) << "the fleet needs UTS namespaces (run as root)";
        ASSERT_TRUE(database.start()) << database.error();
        setup = std::make_unique<e2e::JobSetup>(database.facts());
        setup->addRouterType("NX-1", "NEXA");
        settings.connectTimeout = "10";
        // A rebooting device takes a while on a busy machine: the scaled
        // wait is 3 seconds.
        settings.rebootTime = "60";
        setup->writeSettings(settings);
        for (int i = 0; i < kRouters; ++i) {
            devices.push_back(std::make_unique<SimRouter>("r" + std::to_string(i)));
            std::vector<std::string> options{"--transfer-dir", setup->transferDir(), "--reboot-downtime", "0"};
            if (i % 5 == 4) options.insert(options.end(), {"--chaos", std::to_string(90210 + i)});
            ASSERT_TRUE(devices.back()->start("nexa", options)) << devices.back()->sim.error();
            routerIds.push_back(setup->addRouter(
                devices.back()->row("NX-1", i % 2 ? "SSH" : "Telnet",
                                    {{"name", "router-" + std::to_string(i)}, {"pass", "Pw-" + std::to_string(i)}})));
        }
        for (int i = 0; i < kJobs; ++i)
            setup->addJob(jobId(i), routerIds[i % kRouters], kWorkmodes[(i / kRouters + i) % 5]);
    }

    static unsigned long jobId(int i) { return 5000 + i; }

    // Host k's root: its settings list its own node first, the others
    // after it; the transfer folder is the one the devices use (hosts
    // that mount one transfer server).
    std::string rootFor(int k) {
        if (k == 0) {
            writeHostSettings(setup->root.path(), 0);
            return setup->root.path();
        }
        roots.push_back(std::make_unique<testsupport::TempDir>(kHosts[k]));
        const std::string root = roots.back()->path();
        testsupport::makeDirs(root + "/etc");
        testsupport::makeDirs(root + "/var/template/master");
        EXPECT_EQ(symlink(setup->transferDir().c_str(), (root + "/tftpboot").c_str()), 0);
        writeHostSettings(root, k);
        return root;
    }

    void writeHostSettings(const std::string& root, int k) {
        std::string xml = setup->settingsXml(settings);
        xml.replace(xml.find(setup->db.host()), setup->db.host().size(), database.serversFor(k));
        xml = dispatchtest::withClaimLease(xml, kLeaseSeconds);
        xml = dispatchtest::withDispatch(xml, dispatchtest::dispatchElement(4, "0.5", metricsFile(root)));
        testsupport::writeFile(root + "/etc/cordal.xml", xml);
    }

    static std::string metricsFile(const std::string& root) { return root + "/dispatch.prom"; }

    long long historyRows() { return setup->db.count("cordal_jobhistory"); }

    dispatchtest::FleetDatabase database;
    std::unique_ptr<e2e::JobSetup> setup;
    e2e::JobSettings settings;
    std::vector<std::unique_ptr<SimRouter>> devices;
    std::vector<unsigned long> routerIds;
    std::vector<std::unique_ptr<testsupport::TempDir>> roots;
};

TEST_F(FleetChaos, AHostDiesAndADatabaseNodeRestartsMidRun) {
    std::vector<std::string> hostRoots;
    std::vector<std::unique_ptr<DispatcherProcess>> hosts;
    for (int k = 0; k < 3; ++k) {
        hostRoots.push_back(rootFor(k));
        hosts.push_back(std::make_unique<DispatcherProcess>(hostRoots[k], setup->pauseScale, kHosts[k]));
        ASSERT_TRUE(hosts[k]->startAsHost(kHosts[k]));
    }
    DispatcherProcess& dying = *hosts[kDying];

    // A host dies while it runs jobs, a fifth of the way in, once one of
    // them holds its claim (a job killed before its claim is simply run
    // again elsewhere).
    const std::string dyingClaims = std::string("host = '") + kHosts[kDying] + "'";
    ASSERT_TRUE(waitFor(
        [&] {
            return historyRows() >= kJobs / 5 && dying.children().size() >= 2 &&
                   setup->db.count("tarvo_claims", dyingClaims) >= 2;
        },
        300))
        << historyRows() << " history rows\n"
        << dying.output() << dying.errors();
    killHost(dying);
    Lines dyingLines(dying.output());
    std::set<unsigned long> killedJobs;
    for (const auto& s : dyingLines.starts)
        if (dyingLines.ends[s.first].size() < static_cast<size_t>(s.second)) killedJobs.insert(s.first);
    EXPECT_FALSE(killedJobs.empty()) << dying.output();

    // A database node goes down and comes back while the others work on.
    const long long beforeStop = historyRows();
    ASSERT_TRUE(database.stopNode()) << database.error();
    waitFor([&] { return database.noticed(hosts) || historyRows() >= beforeStop + 10; }, 60);
    ASSERT_TRUE(database.restartNode()) << database.error();

    // Every job recorded, nothing claimed or queued.
    EXPECT_TRUE(waitFor(
        [&] {
            return historyRows() >= kJobs && setup->db.count("cordal_jobs") == 0 &&
                   setup->db.count("tarvo_claims") == 0;
        },
        600))
        << historyRows() << " history rows, " << setup->db.count("cordal_jobs") << " job rows, "
        << setup->db.count("tarvo_claims") << " claims\n"
        << hosts[0]->output() << hosts[0]->errors() << hosts[1]->output() << hosts[1]->errors();
    for (int k = 0; k < 3; ++k) {
        if (k == kDying) continue;
        hosts[k]->signal(SIGTERM);
        EXPECT_EQ(hosts[k]->wait(120), 0) << hosts[k]->errors();
    }

    // Exactly one history row per job.
    EXPECT_EQ(historyRows(), kJobs);
    EXPECT_EQ(setup->db.count("cordal_jobhistory", "id < 5000 OR id >= " + std::to_string(jobId(kJobs))), 0);
    for (const auto& twice : setup->db.rows("SELECT id FROM cordal_jobhistory GROUP BY id HAVING COUNT(*) > 1")) {
        std::string rows;
        for (const auto& row :
             setup->db.rows("SELECT status, reason, log FROM cordal_jobhistory WHERE id = " + twice[0].value_or("")))
            rows += "--- " + row[0].value_or("") + " / " + row[1].value_or("") + "\n" + row[2].value_or("") + "\n";
        ADD_FAILURE() << "job " << twice[0].value_or("") << " has more than one history row:\n" << rows;
    }

    // The lost jobs: those the dead host had claimed, each recorded by a
    // survivor after the lease, with its log file.
    std::vector<Lines> lines;
    std::map<unsigned long, long long> neverLoaded;
    long long neverLoadedInAll = 0;
    for (const auto& h : hosts) {
        lines.emplace_back(h->output());
        static const std::regex unloaded("Tarvo: ERROR: Job ([0-9]+) failed without a history row \\(");
        const std::string errors = h->errors();
        for (std::sregex_iterator it(errors.begin(), errors.end(), unloaded), end; it != end; ++it) {
            ++neverLoaded[std::stoul((*it)[1])];
            ++neverLoadedInAll;
        }
    }
    std::set<unsigned long> lost;
    for (const auto& row : setup->db.rows("SELECT id, log FROM cordal_jobhistory WHERE reason = 'Job process lost'")) {
        const unsigned long id = std::stoul(*row[0]);
        const std::string log = testsupport::unwrappedLog(row[1].value_or(""));
        lost.insert(id);
        SCOPED_TRACE("lost job " + std::to_string(id));
        EXPECT_TRUE(contains(log, "Tarvo Version 4.1.1 starting.")) << "the log file's lines:\n" << log;
        if (killedJobs.count(id)) {
            EXPECT_TRUE(contains(log, "on host 'fleet-c' ended without recording the job")) << log;
            EXPECT_FALSE(contains(log, "recorded by tarvo-dispatch on host 'fleet-c'")) << log;
        } else {
            ADD_FAILURE() << "only the dead host's jobs are lost; a database node's end costs no job:\n" << log;
        }
    }
    size_t killedAndClaimed = 0;
    for (unsigned long id : killedJobs) killedAndClaimed += lost.count(id);
    EXPECT_GT(killedAndClaimed, 0u) << "a job of the dead host was recorded as lost";
    // A recorded log file goes with its record, and a process that lost
    // the claim wrote none.
    for (int i = 0; i < kJobs; ++i)
        EXPECT_FALSE(testsupport::fileExists(setup->transferDir() + std::to_string(jobId(i)) + ".log"))
            << "job " << jobId(i) << " left its log file";

    // No job ran twice: of all starts of a job, every one but one lost the
    // claim (exit 3). A start the dead host made when it died may have
    // claimed (its job is lost, nobody else ran it), ended without its
    // line, or claimed nothing (a survivor ran the job).
    for (int i = 0; i < kJobs; ++i) {
        const unsigned long id = jobId(i);
        // Starts that did not lose the claim, the dead host's last one left
        // out, nor those that never loaded the job (a node that answered
        // before it had caught up): they touched neither job nor device.
        int ran = -static_cast<int>(neverLoaded[id]);
        for (const Lines& l : lines) {
            const auto ends = l.ends.find(id);
            const auto starts = l.starts.find(id);
            ran += starts == l.starts.end() ? 0 : starts->second;
            if (ends != l.ends.end())
                for (const auto& how : ends->second) ran -= how == "exit 3";
        }
        if (!killedJobs.count(id)) {
            EXPECT_EQ(ran, 1) << "job " << id;
        } else if (lost.count(id)) {
            EXPECT_EQ(ran - 1, 0) << "job " << id << " ran beside its dead holder";
        } else {
            EXPECT_LE(ran - 1, 1) << "job " << id;
        }
    }

    // On the devices: no two sessions at once (one job per router at a
    // time, and each job's own sessions one after the other), and no more
    // sessions than the router's jobs can open.
    for (int r = 0; r < kRouters; ++r) {
        const std::string transcript = devices[r]->sim.transcript();
        const auto sessions = claimtest::sessions(transcript);
        EXPECT_FALSE(claimtest::overlap(sessions)) << "router " << r << ":\n" << transcript;
        EXPECT_GE(sessions.size(), 1u) << "router " << r;
    }

    // Nothing left: no job runner, ssh or sftp, no claim.
    std::vector<int> ports;
    for (const auto& d : devices) ports.insert(ports.end(), {d->sim.telnetPort(), d->sim.sshPort()});
    EXPECT_EQ(e2e::ProcessTable::leftBehind(0, ports), "");
    for (const auto& p : e2e::ProcessTable::snapshot())
        for (const auto& root : hostRoots)
            for (const auto& word : p.words)
                EXPECT_FALSE(word == root && p.state != 'Z') << "process " << p.pid << " of " << root << " is left";
    EXPECT_EQ(setup->db.count("tarvo_claims"), 0);

    // The metrics add up to the history: the survivors' files as they left
    // them, the dead host's as it last wrote it, with the jobs it saw end
    // after that counted from its lines.
    long long success = 0, error = 0, reaped = 0;
    for (int k = 0; k < 3; ++k) {
        auto m = dispatchtest::readMetrics(metricsFile(hostRoots[k]));
        SCOPED_TRACE(kHosts[k]);
        const long long started = m["tarvo_dispatch_jobs_started_total"];
        const long long mSuccess = m["tarvo_dispatch_jobs_ended_total{status=\"success\"}"];
        const long long mError = m["tarvo_dispatch_jobs_ended_total{status=\"error\"}"];
        const long long mOther = m["tarvo_dispatch_jobs_ended_total{status=\"other\"}"];
        const long long mLostClaims = m["tarvo_dispatch_lost_claims_total"];
        if (k == kDying) {
            EXPECT_LE(mSuccess, lines[k].endsByKind["success"]);
            EXPECT_LE(mError, lines[k].endsByKind["error"]);
            success += lines[k].endsByKind["success"];
            error += lines[k].endsByKind["error"];
            reaped += countOfLostLines(hosts[k]->output());
            continue;
        }
        EXPECT_EQ(m["tarvo_dispatch_jobs_running"], 0);
        EXPECT_EQ(started, mSuccess + mError + mOther + mLostClaims);
        EXPECT_EQ(mSuccess, lines[k].endsByKind["success"]);
        EXPECT_EQ(mError, lines[k].endsByKind["error"]);
        EXPECT_EQ(mLostClaims, lines[k].endsByKind["lost claim"]);
        EXPECT_EQ(m["tarvo_dispatch_jobs_reaped_total"], countOfLostLines(hosts[k]->output()));
        success += mSuccess;
        error += mError;
        reaped += m["tarvo_dispatch_jobs_reaped_total"];
    }
    // A job that failed without its history row (its database gone) is
    // counted as an error by its dispatcher and recorded as lost.
    long long errorsRecordedAsLost = 0;
    for (unsigned long id : lost)
        for (const auto& l : lines)
            for (const auto& how : l.ends.count(id) ? l.ends.at(id) : std::vector<std::string>{})
                errorsRecordedAsLost += how == "exit 2";
    // A process of the dead host that stored its outcome just before it
    // was killed ended without its dispatcher's line.
    for (unsigned long id : killedJobs) {
        if (lost.count(id)) continue;
        bool seen = false;
        for (const auto& l : lines)
            for (const auto& how : l.ends.count(id) ? l.ends.at(id) : std::vector<std::string>{})
                seen = seen || how != "exit 3";
        if (seen) continue;
        const std::string status =
            setup->db.value("SELECT status FROM cordal_jobhistory WHERE id = " + std::to_string(id));
        (status == "success" ? success : error) += 1;
    }
    EXPECT_EQ(setup->db.count("cordal_jobhistory", "status = 'success'"), success);
    EXPECT_EQ(setup->db.count("cordal_jobhistory", "status = 'error' AND reason <> 'Job process lost'"),
              error - errorsRecordedAsLost - neverLoadedInAll);
    EXPECT_EQ(static_cast<long long>(lost.size()), reaped);
    printf(
        "fleet: %d jobs, %zu started on the dead host when it died, %zu of them recorded as lost, %zu lost in "
        "all; %lld succeeded\n",
        kJobs, killedJobs.size(), killedAndClaimed, lost.size(), success);
}

}  // namespace
