// Whole "Image" jobs: firmware images of the router's software release
// installed on simulated routers of both families.
#include <gtest/gtest.h>

#include "tests/e2e/SimRouter.h"
#include "tests/image/ImageBuilder.h"

using e2e::JobSetup;
using testsupport::contains;
using testsupport::makeDirs;
using testsupport::writeFile;

namespace {

class ImageJobs : public ::testing::Test {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        setup.addRouterType("QX-1", "qx.CLI");
        e2e::JobSettings settings;
        settings.connectTimeout = "3";
        settings.rebootTime = "1";
        setup.writeSettings(settings);
    }

    // A release of the model's images; columns not given stay empty.
    void addRelease(const std::string& model, const std::map<std::string, std::string>& images) {
        std::string columns = "name, routertype", values = "'R1', '" + model + "'";
        for (const auto& [column, file] : images) {
            columns += ", " + column;
            values += ", '" + file + "'";
        }
        setup.db.exec("INSERT INTO cordal_swrelease (" + columns + ") VALUES (" + values + ")");
    }
    void writeImage(const std::string& model, const std::string& name, const std::string& bytes) {
        makeDirs(setup.transferDir() + "images/" + model);
        writeFile(setup.transferDir() + "images/" + model + "/" + name, bytes);
    }

    std::map<std::string, std::string> runJob(std::map<std::string, std::string> router, const std::string& workmode) {
        router["softwareimage"] = "R1";
        unsigned long id = setup.addRouter(router);
        setup.addJob(42, id, workmode);
        result = setup.run(42);
        auto h = setup.history(42);
        log = testsupport::unwrappedLog(h["log"]);
        return h;
    }

    JobSetup setup;
    testsupport::ProcessResult result;
    std::string log;
};

}  // namespace

TEST_F(ImageJobs, CorruptNexaImageEndsTheJobBeforeAnyDeviceContact) {
    SimRouter device("nexa");
    ASSERT_TRUE(device.start("nexa", {"--transfer-dir", setup.transferDir()})) << device.sim.error();
    imagebuilder::Part part = imagebuilder::systemPart(std::string(4000, 'n'));
    std::string image = imagebuilder::singleImage(part);
    image[image.size() / 2] ^= 0x01;  // one flipped bit of the data
    writeImage("NX-1", "nexa.img", image);
    addRelease("NX-1", {{"nexa", "nexa.img"}});
    auto h = runJob(device.row("NX-1", "Telnet"), "Image");
    EXPECT_EQ(result.exitCode, 2) << log;
    EXPECT_EQ(h["status"], "error");
    EXPECT_EQ(h["reason"], "Bad NEXA-version");
    EXPECT_TRUE(contains(log, "Bad CRC-sum")) << log;
    EXPECT_FALSE(contains(log, "-connecting"));
    EXPECT_FALSE(contains(device.sim.transcript(), "session started")) << device.sim.transcript();
}
