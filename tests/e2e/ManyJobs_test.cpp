// Forty jobs against forty simulated routers, all started at once: each
// ends with its own history row and no job row is left.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "tests/e2e/SimRouter.h"

TEST(ManyJobs, FortyTestJobsAtOnce) {
    const int count = 40;
    e2e::JobSetup setup;
    setup.addRouterType("NX-1", "NEXA");
    e2e::JobSettings settings;
    settings.connectTimeout = "10";
    setup.writeSettings(settings);
    std::vector<std::unique_ptr<SimRouter>> devices;
    for (int i = 0; i < count; ++i) {
        devices.push_back(std::make_unique<SimRouter>("r" + std::to_string(i)));
        ASSERT_TRUE(devices.back()->start("nexa")) << devices.back()->sim.error();
        auto row = devices.back()->row("NX-1", "Telnet", {{"name", "router-" + std::to_string(i)}});
        setup.addJob(1000 + i, setup.addRouter(row), "Test");
    }
    std::vector<int> exitCodes(count, -1);
    std::vector<std::thread> jobs;
    for (int i = 0; i < count; ++i) jobs.emplace_back([&, i] { exitCodes[i] = setup.run(1000 + i, {}, 300).exitCode; });
    for (auto& t : jobs) t.join();
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(exitCodes[i], 0) << i;
        auto h = setup.history(1000 + i);
        ASSERT_FALSE(h.empty()) << i;
        EXPECT_EQ(h["status"], "success") << h["log"];
        EXPECT_NE(h["log"].find("Successfully loaded router 'router-" + std::to_string(i) + "'"), std::string::npos);
        EXPECT_NE(devices[i]->sim.transcript().find("<<< ping -c 10"), std::string::npos) << i;
    }
    EXPECT_EQ(setup.db.count("cordal_jobs"), 0);
    EXPECT_EQ(setup.db.count("cordal_jobhistory"), count);
}
