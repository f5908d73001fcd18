// The job claim, the router lease and the fail-over on a real three-node
// Galera cluster (the fixture "galera"): processes that talk to different
// nodes see each other's rows only through the cluster, where row locks are
// not shared and the first commit wins.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/e2e/ClaimSupport.h"
#include "tests/e2e/SimRouter.h"

using claimtest::lostLine;
using claimtest::sessions;
using testsupport::contains;

namespace {

testdb::ServerFacts clusterFacts() {
    return testdb::readFacts(TARVO_TEST_GALERA_DIR);
}

std::string fact(const std::string& key) {
    std::string text = testsupport::readFile(std::string(TARVO_TEST_GALERA_DIR) + "/server.env");
    size_t at = text.find("\n" + key + "=");
    if (at == std::string::npos) return "";
    at += key.size() + 2;
    return text.substr(at, text.find('\n', at) - at);
}

std::string node(int n) {
    return "127.0.0.1:" + fact("port" + std::to_string(n));
}

// The test's database on the cluster, and one installation root per
// database client: the settings of root k name the servers of clients[k].
class Cluster : public ::testing::Test {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        settings.connectTimeout = "3";
        settings.rebootTime = "1";
        setup.writeSettings(settings);
    }

    // A root whose settings list servers (one or more, comma-separated).
    std::string rootFor(const std::string& servers, const e2e::JobSettings& s) {
        roots.emplace_back(new testsupport::TempDir("root" + std::to_string(roots.size())));
        const std::string root = roots.back()->path();
        for (const char* folder : {"/etc", "/tftpboot", "/var/template/master", "/bin"})
            testsupport::makeDirs(root + folder);
        std::string xml = setup.settingsXml(s);
        xml.replace(xml.find(setup.db.host()), setup.db.host().size(), servers);
        testsupport::writeFile(root + "/etc/cordal.xml", xml);
        return root;
    }

    // Waits until node n has applied everything the cluster committed so
    // far (the test's rows go in through node 1, and a node applies
    // another's commits a moment later).
    void catchUp(int n) {
        auto r = testsupport::runProcess(
            {"mariadb", "--no-defaults", "-h127.0.0.1", "-P" + fact("port" + std::to_string(n)), "-u" + setup.db.user(),
             "-p" + setup.db.password(), "-N", "-e",
             "SET SESSION wsrep_sync_wait = 15; SELECT COUNT(*) FROM " + setup.db.name() + ".cordal_jobs"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }

    testsupport::ProcessResult run(const std::string& root, unsigned long jobId, std::atomic<int>* pid = nullptr) {
        return testsupport::runProcess({testsupport::builtProgram("tests/tarvo-test-runner"), root,
                                        "--pause-scale=0.05", "-j", std::to_string(jobId)},
                                       180, pid);
    }

    e2e::JobSetup setup{clusterFacts()};
    e2e::JobSettings settings;
    std::vector<std::unique_ptr<testsupport::TempDir>> roots;
};

// The same job started through node 1 and node 2 at the same instant, 20
// times (four routers, five rounds each): one process runs it, the other
// finds it held, every time.
TEST_F(Cluster, TheSameJobStartedOnTwoNodesRunsOnce) {
    const std::string viaNode1 = rootFor(node(1), settings), viaNode2 = rootFor(node(2), settings);
    const int kLanes = 4, kRounds = 5;
    std::vector<std::unique_ptr<SimRouter>> devices;
    std::vector<unsigned long> routers;
    for (int lane = 0; lane < kLanes; ++lane) {
        devices.emplace_back(new SimRouter("lane" + std::to_string(lane)));
        ASSERT_TRUE(devices.back()->start("nexa", {"--slow-reply", "100"})) << devices.back()->sim.error();
        routers.push_back(setup.addRouter(devices.back()->row("NX-1", "Telnet")));
    }
    for (int lane = 0; lane < kLanes; ++lane)
        for (int round = 0; round < kRounds; ++round) setup.addJob(100 + lane * kRounds + round, routers[lane], "Test");
    catchUp(2);
    std::atomic<int> oneRan{0}, oneLost{0};
    std::vector<std::string> failures[kLanes];
    std::vector<std::thread> lanes;
    for (int lane = 0; lane < kLanes; ++lane) {
        lanes.emplace_back([&, lane] {
            for (int round = 0; round < kRounds; ++round) {
                const unsigned long job = 100 + lane * kRounds + round;
                testsupport::ProcessResult a, b;
                std::thread other([&] { b = run(viaNode2, job); });
                a = run(viaNode1, job);
                other.join();
                const auto& winner = a.exitCode == 0 ? a : b;
                const auto& loser = a.exitCode == 0 ? b : a;
                if (winner.exitCode == 0) ++oneRan;
                if (loser.exitCode == 3 && contains(loser.err, lostLine(job)))
                    ++oneLost;
                else
                    failures[lane].push_back("job " + std::to_string(job) + ": " + std::to_string(a.exitCode) + "/" +
                                             std::to_string(b.exitCode) + "\n" + a.err + b.err);
            }
        });
    }
    for (auto& t : lanes) t.join();
    for (const auto& f : failures)
        for (const auto& text : f) ADD_FAILURE() << text;
    EXPECT_EQ(oneRan, kLanes * kRounds);
    EXPECT_EQ(oneLost, kLanes * kRounds);
    EXPECT_EQ(setup.db.count("cordal_jobhistory"), kLanes * kRounds);
    EXPECT_EQ(setup.db.value("SELECT COUNT(DISTINCT id) FROM cordal_jobhistory"), std::to_string(kLanes * kRounds));
    for (const auto& d : devices) {
        EXPECT_EQ(sessions(d->sim.transcript()).size(), static_cast<size_t>(kRounds)) << d->sim.transcript();
        EXPECT_FALSE(claimtest::overlap(sessions(d->sim.transcript()))) << d->sim.transcript();
    }
    EXPECT_EQ(setup.db.count("tarvo_claims"), 0);
}

// Two jobs for one router through two nodes: they take turns; and with
// routerLockWait 1 a job that comes while a long one holds the router
// ends "Router busy".
TEST_F(Cluster, TwoJobsForOneRouterOnTwoNodesNeverOverlap) {
    const std::string viaNode1 = rootFor(node(1), settings), viaNode2 = rootFor(node(2), settings);
    SimRouter device("nexa");
    ASSERT_TRUE(device.start("nexa", {"--slow-reply", "200"})) << device.sim.error();
    unsigned long router = setup.addRouter(device.row("NX-1", "Telnet"));
    setup.addJob(42, router, "Test");
    setup.addJob(43, router, "Test");
    catchUp(2);
    testsupport::ProcessResult first, second;
    std::thread other([&] { second = run(viaNode2, 43); });
    first = run(viaNode1, 42);
    other.join();
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(setup.history(42)["status"], "success");
    EXPECT_EQ(setup.history(43)["status"], "success");
    auto all = sessions(device.sim.transcript());
    EXPECT_EQ(all.size(), 2u) << device.sim.transcript();
    EXPECT_FALSE(claimtest::overlap(all)) << device.sim.transcript();

    // A long job holds the router; the next one waits only a second.
    SimRouter slow("slow");
    ASSERT_TRUE(slow.start("nexa", {"--slow-reply", "1500"})) << slow.sim.error();
    setup.db.exec("UPDATE cordal_router SET telnetport = " + std::to_string(slow.sim.telnetPort()));
    e2e::JobSettings impatient = settings;
    impatient.routerLockWait = "1";
    const std::string waitsBriefly = rootFor(node(2), impatient);
    setup.addJob(44, router, "Test");
    setup.addJob(45, router, "Test");
    catchUp(2);
    std::thread longJob([&] { first = run(viaNode1, 44); });
    ASSERT_TRUE(slow.sim.waitForTranscript("connection from", 60000)) << slow.sim.transcript();
    second = run(waitsBriefly, 45);
    longJob.join();
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(second.exitCode, 2) << second.err;
    auto busy = setup.history(45);
    EXPECT_EQ(busy["reason"], "Router busy");
    EXPECT_TRUE(contains(busy["log"], "is held by job 44 (pid ")) << busy["log"];
    EXPECT_EQ(sessions(slow.sim.transcript()).size(), 1u) << slow.sim.transcript();
}

// The node a job talks to dies while the job waits for its device: the job
// ends normally through the next server of its list.
TEST_F(Cluster, AJobWhoseNodeDiesEndsThroughTheNextServer) {
    const std::string root = rootFor(node(3) + "," + node(1), settings);
    SimRouter device("nexa");
    ASSERT_TRUE(device.start("nexa", {"--slow-reply", "1500"})) << device.sim.error();
    setup.addJob(42, setup.addRouter(device.row("NX-1", "Telnet")), "Test");
    catchUp(3);
    testsupport::ProcessResult r;
    std::thread job([&] { r = run(root, 42); });
    const bool contacted = device.sim.waitForTranscript("connection from", 60000);
    if (!contacted) job.join();
    ASSERT_TRUE(contacted) << r.err << device.sim.transcript();
    auto stopped = testsupport::runProcess({TARVO_GALERA_FIXTURE, "stopnode", TARVO_TEST_GALERA_DIR, "3"});
    job.join();
    EXPECT_EQ(stopped.exitCode, 0) << stopped.err;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    auto h = setup.history(42);
    EXPECT_EQ(h["status"], "success") << h["log"];
    EXPECT_FALSE(setup.jobRowExists(42));
    EXPECT_EQ(setup.db.count("tarvo_claims"), 0);
}

}  // namespace
