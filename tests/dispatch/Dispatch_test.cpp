// One dispatcher against the private MariaDB and simulated routers: the
// limit of jobs at once (and a new limit read on SIGHUP), one job per
// router at a time, and the orderly stop on SIGTERM with jobs running.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/dispatch/DispatcherProcess.h"
#include "tests/e2e/SimRouter.h"
#include "tests/e2esupport/ProcessTable.h"

using dispatchtest::DispatcherProcess;
using testsupport::contains;

namespace {

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        settings.connectTimeout = "10";
    }

    void writeSettings(unsigned maxJobs) {
        setup.writeSettingsText(dispatchtest::withDispatch(
            setup.settingsXml(settings), dispatchtest::dispatchElement(maxJobs, "0.2", metricsFile())));
    }

    void addDevices(int count, const std::vector<std::string>& options = {}) {
        for (int i = 0; i < count; ++i) {
            devices.push_back(std::make_unique<SimRouter>("r" + std::to_string(i)));
            ASSERT_TRUE(devices.back()->start("nexa", options)) << devices.back()->sim.error();
            routerIds.push_back(
                setup.addRouter(devices.back()->row("NX-1", "Telnet", {{"name", "router-" + std::to_string(i)}})));
        }
    }

    std::string metricsFile() const { return setup.root.file("tarvo-dispatch.prom"); }

    bool waitForHistory(long long rows, int timeoutSeconds) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (setup.db.count("cordal_jobhistory") >= rows) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    }

    e2e::JobSetup setup;
    e2e::JobSettings settings;
    std::vector<std::unique_ptr<SimRouter>> devices;
    std::vector<unsigned long> routerIds;
};

// From the dispatcher's lines: whether two jobs of one router ever ran at
// the same time, and how often each job was started.
struct StartsAndEnds {
    std::map<unsigned long, int> starts;
    std::string overlap;

    explicit StartsAndEnds(const std::string& output) {
        std::regex line("job ([0-9]+) (started|ended): router ([0-9]+)");
        std::map<unsigned long, unsigned long> runningOnRouter;  // router -> job
        std::istringstream in(output);
        std::string text;
        std::smatch m;
        while (std::getline(in, text)) {
            if (!std::regex_search(text, m, line)) continue;
            unsigned long job = std::stoul(m[1]), router = std::stoul(m[3]);
            if (m[2] == "started") {
                ++starts[job];
                if (runningOnRouter.count(router))
                    overlap += "job " + std::to_string(job) + " started while job " +
                               std::to_string(runningOnRouter[router]) + " ran on router " + std::to_string(router) +
                               "\n";
                runningOnRouter[router] = job;
            } else if (runningOnRouter[router] == job) {
                runningOnRouter.erase(router);
            }
        }
    }
};

TEST_F(Dispatch, NeverMoreJobsThanTheLimitAndANewLimitOnSighup) {
    addDevices(10);
    for (int i = 0; i < 20; ++i) setup.addJob(1000 + i, routerIds[i % 10], "Test");
    writeSettings(2);

    DispatcherProcess dispatcher(setup.root.path(), setup.pauseScale);
    ASSERT_TRUE(dispatcher.start());
    // Sampled while the jobs run: the children of the dispatcher.
    std::atomic<bool> sampling{true}, raised{false};
    std::atomic<size_t> mostBefore{0}, mostAfter{0};
    std::thread sampler([&] {
        while (sampling) {
            const bool after = raised;
            size_t n = dispatcher.children().size();
            auto& most = after ? mostAfter : mostBefore;
            if (n > most) most = n;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });

    EXPECT_TRUE(dispatcher.waitForOutput(" ended: ", 120, 2)) << dispatcher.output() << dispatcher.errors();
    writeSettings(4);
    raised = true;
    dispatcher.signal(SIGHUP);
    EXPECT_TRUE(dispatcher.waitForOutput("settings re-read: at most 4 jobs at once", 30)) << dispatcher.output();
    EXPECT_TRUE(waitForHistory(20, 300)) << dispatcher.output() << dispatcher.errors();
    EXPECT_TRUE(dispatcher.waitForOutput(" ended: ", 60, 20)) << dispatcher.output();
    sampling = false;
    sampler.join();
    dispatcher.signal(SIGTERM);
    EXPECT_EQ(dispatcher.wait(60), 0) << dispatcher.errors();

    EXPECT_GE(mostBefore.load(), 1u);
    EXPECT_LE(mostBefore.load(), 2u);
    EXPECT_EQ(mostAfter.load(), 4u) << "the raised limit was used";
    for (int i = 0; i < 20; ++i) {
        auto h = setup.history(1000 + i);
        EXPECT_EQ(h["status"], "success") << i << ": " << h["log"];
    }
    EXPECT_EQ(setup.db.count("cordal_jobs"), 0);
    StartsAndEnds lines(dispatcher.output());
    EXPECT_EQ(lines.overlap, "");
    EXPECT_EQ(lines.starts.size(), 20u);
    for (const auto& s : lines.starts) EXPECT_EQ(s.second, 1) << "job " << s.first;
    EXPECT_TRUE(contains(dispatcher.output(), "job 1000 ended: router " + std::to_string(routerIds[0]) +
                                                  ", workmode Test, exit 0 (success), "))
        << dispatcher.output();

    auto metrics = dispatchtest::readMetrics(metricsFile());
    EXPECT_EQ(metrics["tarvo_dispatch_jobs_started_total"], 20);
    EXPECT_EQ(metrics["tarvo_dispatch_jobs_ended_total{status=\"success\"}"], 20);
    EXPECT_EQ(metrics["tarvo_dispatch_jobs_ended_total{status=\"error\"}"], 0);
    EXPECT_EQ(metrics["tarvo_dispatch_jobs_running"], 0);
    EXPECT_EQ(metrics["tarvo_dispatch_jobs_due"], 0);
    EXPECT_EQ(metrics["tarvo_dispatch_max_jobs"], 4);
    EXPECT_EQ(metrics["tarvo_dispatch_database_up"], 1);
}

TEST_F(Dispatch, SigtermEndsEveryRunningJobThroughItsHistory) {
    // The jobs sit in their reboot wait (2000 s, scaled to 100) when the
    // dispatcher is told to stop.
    settings.rebootTime = "2000";
    addDevices(3, {"--reboot-downtime", "0"});
    for (int i = 0; i < 3; ++i) setup.addJob(2000 + i, routerIds[i], "Reboot");
    // A job that is not due yet is left alone.
    setup.addJob(2009, routerIds[0], "Reboot", 4102444800ULL);
    writeSettings(8);

    DispatcherProcess dispatcher(setup.root.path(), setup.pauseScale);
    ASSERT_TRUE(dispatcher.start());
    for (int i = 0; i < 3; ++i) {
        const std::string log = setup.transferDir() + std::to_string(2000 + i) + ".log";
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!contains(testsupport::readFile(log), "[ Sleeping 2000 seconds. ]") &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(contains(testsupport::readFile(log), "[ Sleeping")) << dispatcher.output();
    }
    std::vector<pid_t> jobs = dispatcher.children();
    EXPECT_EQ(jobs.size(), 3u);
    dispatcher.signal(SIGTERM);
    EXPECT_EQ(dispatcher.wait(120), 0) << dispatcher.output() << dispatcher.errors();

    for (int i = 0; i < 3; ++i) {
        auto h = setup.history(2000 + i);
        EXPECT_EQ(h["reason"], "Terminated") << h["log"];
        EXPECT_TRUE(contains(h["log"], "Terminated by signal SIGTERM")) << h["log"];
        EXPECT_TRUE(contains(devices[i]->sim.transcript(), "<<< cmd=reboot")) << devices[i]->sim.transcript();
        EXPECT_TRUE(contains(dispatcher.output(), "job " + std::to_string(2000 + i) + " ended: router " +
                                                      std::to_string(routerIds[i]) + ", workmode Reboot, exit 2"))
            << dispatcher.output();
    }
    EXPECT_TRUE(setup.jobRowExists(2009));
    EXPECT_EQ(setup.db.count("cordal_jobs"), 1);
    EXPECT_FALSE(contains(dispatcher.output(), "job 2009 started"));
    EXPECT_TRUE(contains(dispatcher.output(), "SIGTERM received, stopping")) << dispatcher.output();
    for (pid_t pid : jobs) EXPECT_NE(kill(pid, 0), 0) << "job process " << pid << " is left";
    auto metrics = dispatchtest::readMetrics(metricsFile());
    EXPECT_EQ(metrics["tarvo_dispatch_jobs_ended_total{status=\"error\"}"], 3);
    EXPECT_EQ(metrics["tarvo_dispatch_jobs_running"], 0);
}

}  // namespace
