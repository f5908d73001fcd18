// Many jobs of every device workmode at once, against devices of both
// families over Telnet and SSH: each ends with its own history row. Then
// the same against devices that misbehave at random (devsim --chaos):
// only the promises are checked, an outcome recorded for every job,
// nothing left running and (by the JobSetup scan) no secret in any
// output.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "tests/e2e/UploadFixture.h"
#include "tests/e2esupport/ProcessTable.h"
#include "tests/image/ImageBuilder.h"

namespace {

// Job i runs workmode i % 22 against a NEXA device when i is even: the
// list is of even length, so each entry meets one family, and the entries
// are placed so that every workmode meets both, except "Certs", which only
// NEXA devices take.
const char* const kWorkmodes[] = {"Test",      "Invent",    "SetPass",   "GetConf", "GetconfAll", "Reboot",
                                  "SSHKeyGen", "Erase",     "Certs",     "Config",  "Config",     "BootFac",
                                  "BootFac",   "ConfigAll", "ConfigAll", "Image",   "Image",      "All",
                                  "All",       "ConfComp",  "ConfComp",  "Test"};

class MixedJobs : public ::testing::Test {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        setup.addRouterType("QX-1", "qx.CLI");
        e2e::JobSettings settings;
        settings.connectTimeout = "10";
        settings.ipAllowDelete = "true";
        // A rebooting device refuses connections until its sessions have
        // ended, which takes a while on a busy machine: the job waits
        // 3 seconds (the scaled 60) before it logs in again.
        settings.rebootTime = "60";
        setup.writeSettings(settings);
        // What the configuration and firmware workmodes need: a template
        // per model, and a release of one system image per model.
        writeUploadTemplates(setup);
        for (const char* model : {"NX-1", "QX-1"}) {
            testsupport::makeDirs(setup.transferDir() + "images/" + model);
            setup.db.exec(std::string("INSERT INTO cordal_swrelease (name, routertype, nexa) VALUES ('R-") + model +
                          "', '" + model + "', 'sys.img')");
        }
        testsupport::writeFile(setup.transferDir() + "images/NX-1/sys.img", imagebuilder::nexaSystemImage(3));
        testsupport::writeFile(setup.transferDir() + "images/QX-1/sys.img",
                               "QXCLI-IMAGE 10.3.1\n" + std::string(9000, 's'));
    }

    // count devices, job i against device i: the workmodes in turn, the
    // families and connection types alternating.
    void startFleet(int count, const std::vector<std::string>& extra = {},
                    std::function<std::vector<std::string>(int)> perDevice = {}) {
        for (int i = 0; i < count; ++i) {
            const bool nexa = i % 2 == 0;
            const bool ssh = (i / 2) % 2 == 1;
            devices.push_back(std::make_unique<SimRouter>("r" + std::to_string(i)));
            std::vector<std::string> options{"--transfer-dir",
                                             setup.transferDir(),
                                             "--reboot-downtime",
                                             "0",
                                             "--user",
                                             "admin",
                                             "--password",
                                             "Adm" + std::to_string(i) + "-comm"};
            options.insert(options.end(), extra.begin(), extra.end());
            if (perDevice) {
                auto more = perDevice(i);
                options.insert(options.end(), more.begin(), more.end());
            }
            if (nexa) devices.back()->sim.writeStateFile("variables", kNexaRev2Variables);
            ASSERT_TRUE(devices.back()->start(nexa ? "nexa" : "qxcli", options)) << devices.back()->sim.error();
            const std::string model = nexa ? "NX-1" : "QX-1";
            auto row = devices.back()->row(model, ssh ? "SSH" : "Telnet",
                                           {{"name", "router-" + std::to_string(i)},
                                            {"pass", "Pw" + std::to_string(i) + "-secret"},
                                            {"tmibadmadmincommunity", "Adm" + std::to_string(i) + "-comm"},
                                            {"tmibadmreadcommunity", "Rd" + std::to_string(i) + "-comm"},
                                            {"configtype", "Template"},
                                            {"globalmaster", "upload.tmpl"},
                                            {"softwareimage", "R-" + model}});
            workmodes.push_back(kWorkmodes[i % (sizeof kWorkmodes / sizeof *kWorkmodes)]);
            const unsigned long routerId = setup.addRouter(row);
            // No certificates: the management system's empty file.
            testsupport::writeFile(setup.transferDir() + certFile(routerId), "");
            setup.addJob(1000 + i, routerId, workmodes.back());
        }
    }

    void runAll() {
        const int count = static_cast<int>(devices.size());
        exitCodes.assign(count, -1);
        std::vector<std::thread> jobs;
        for (int i = 0; i < count; ++i)
            jobs.emplace_back([this, i] { exitCodes[i] = setup.run(1000 + i, {"-l"}, 500).exitCode; });
        for (auto& t : jobs) t.join();
    }

    // Every job ended with exit 0 or 2 and its own history row that says
    // the same; no job row is left; no client of any device is running.
    void expectPromises() {
        for (size_t i = 0; i < devices.size(); ++i) {
            auto h = setup.history(1000 + i);
            ASSERT_FALSE(h.empty()) << "job " << i << " (" << workmodes[i] << ") left no history row";
            EXPECT_TRUE(exitCodes[i] == 0 || exitCodes[i] == 2) << i << ": " << exitCodes[i];
            EXPECT_EQ(h["status"], exitCodes[i] == 0 ? "success" : "error") << i << " " << workmodes[i];
            if (exitCodes[i] != 0) {
                EXPECT_FALSE(h["reason"].empty()) << i;
            }
            EXPECT_NE(h["log"].find("router-" + std::to_string(i) + "'"), std::string::npos) << i;
        }
        EXPECT_EQ(setup.db.count("cordal_jobs"), 0);
        EXPECT_EQ(setup.db.count("cordal_jobhistory"), static_cast<long long>(devices.size()));
        std::vector<int> ports;
        for (const auto& d : devices) ports.insert(ports.end(), {d->sim.telnetPort(), d->sim.sshPort()});
        EXPECT_EQ(e2e::ProcessTable::leftBehind(0, ports), "");
    }

    e2e::JobSetup setup;
    std::vector<std::unique_ptr<SimRouter>> devices;
    std::vector<std::string> workmodes;
    std::vector<int> exitCodes;
};

TEST_F(MixedJobs, FortyMixedJobsAtOnce) {
    startFleet(40);
    runAll();
    expectPromises();
    // Healthy devices: every job succeeds. A device's configuration is not
    // the template's, so a comparison finds drift: its outcome, no fault.
    for (size_t i = 0; i < devices.size(); ++i) {
        auto h = setup.history(1000 + i);
        if (workmodes[i] == "ConfComp") {
            EXPECT_EQ(h["reason"], "Cfg-files differ") << i << ": " << h["log"];
            EXPECT_NE(h["log"].find("@@ -"), std::string::npos) << i << ": " << h["log"];
            continue;
        }
        EXPECT_EQ(exitCodes[i], 0) << i << " " << workmodes[i] << ": " << h["log"];
        EXPECT_NE(devices[i]->sim.transcript().find("session started"), std::string::npos) << i;
    }
}

TEST_F(MixedJobs, FiftyJobsAgainstChaoticDevices) {
    startFleet(50, {}, [](int i) { return std::vector<std::string>{"--chaos", std::to_string(4711 + i)}; });
    runAll();
    expectPromises();
    int faults = 0, failed = 0;
    for (size_t i = 0; i < devices.size(); ++i) {
        faults += devices[i]->sim.transcript().find("chaos: ") != std::string::npos;
        failed += exitCodes[i] != 0;
    }
    printf("%d of %zu devices misbehaved, %d jobs failed\n", faults, devices.size(), failed);
    // The seeds are fixed: the faults did happen.
    EXPECT_GT(faults, 0);
}

}  // namespace
