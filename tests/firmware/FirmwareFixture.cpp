#include "tests/firmware/FirmwareFixture.h"

#include <sstream>

#include "db/Cordal_router.h"
#include "db/Cordal_swrelease.h"
#include "tests/device/BareJob.h"

using testsupport::makeDirs;
using testsupport::writeFile;

void FirmwareFixture::startDevice(const std::string& family, const std::vector<std::string>& options) {
    makeDirs(root.file("tftpboot/images/M1"));
    std::vector<std::string> all{
        "--family", family, "--listen", "127.0.0.1", "--transfer-dir", root.file("tftpboot"), "--reboot-downtime", "0"};
    all.insert(all.end(), options.begin(), options.end());
    ASSERT_TRUE(device.start(all)) << device.error() << device.log();
}

void FirmwareFixture::makeJob(const std::string& os, bool debug) {
    job = devicetest::bareJob(root.path(), os, device, debug);
    job->connectSettings->commandTimeout = 5;
    job->router.reset(new Cordal_router(nullptr));
    job->router->model = "M1";
    job->swRelease.reset(new Cordal_swrelease(job->log.get(), false, job->paths.transferDir(), nullptr));
    if (!job->family.isQxCli()) {
        job->transferScheme = "tftp:";
        job->transferBase = "127.0.0.1/";
    }
}

std::unique_ptr<ConnectionHandler> FirmwareFixture::connected(eConnectionType type) {
    std::unique_ptr<ConnectionHandler> link(job->createConnectionHandler(type));
    EXPECT_TRUE(link && job->connect(*link)) << log();
    return link;
}

std::string FirmwareFixture::imagePath(const std::string& name) const {
    return root.file("tftpboot/images/M1/" + name);
}

void FirmwareFixture::writeImage(const std::string& name, const std::string& bytes) const {
    writeFile(imagePath(name), bytes);
}

std::string FirmwareFixture::log() const {
    return devicetest::logOf(*job);
}

// Transcript entries of received lines read "DATE TIME session <<< LINE".
std::vector<std::string> FirmwareFixture::received() const {
    std::vector<std::string> lines;
    std::istringstream in(device.transcript());
    for (std::string line; std::getline(in, line);) {
        size_t mark = line.find(" <<< ");
        if (mark != std::string::npos) lines.push_back(line.substr(mark + 5));
    }
    return lines;
}
