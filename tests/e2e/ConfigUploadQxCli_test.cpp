// Workmodes "Config", "BootFac" and "Certs" against simulated qx.CLI
// routers over SSH: the configuration travels over SFTP into /MEM, is
// renamed onto /DSK and is what the device runs after the reboot.
#include <sys/stat.h>

#include "tests/e2e/UploadFixture.h"

using testsupport::contains;
using testsupport::fileExists;

namespace {

const char kOldBootFile[] = "# qx.CLI site 7\nsystem\n{\n   name old-site\n}\n";

class QxUpload : public UploadFixture {
protected:
    bool startQx(SimRouter& device) {
        device.sim.writeStateFile("bootfile", "SITE7\n");
        if (!startDevice(device, "qxcli")) return false;
        device.sim.writeStateFile("fs/DSK/SITE7.CFG", kOldBootFile);
        return true;
    }

    std::string rebootCount(const SimRouter& device) { return device.sim.readStateFile("boot"); }
};

TEST_F(QxUpload, ConfigLandsOnTheDiskUnderTheBootFileNameAndRunsAfterTheReboot) {
    SimRouter device("qx");
    ASSERT_TRUE(startQx(device)) << device.sim.error();
    unsigned long id = setup.addRouter(routerRow(device, "QX-1", "SSH"));
    testsupport::writeFile(setup.transferDir() + certFile(id, -1), "");
    auto h = runJob(42, id, "Config");

    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_EQ(h["status"], "success") << h["reason"];
    const std::string built = h["config"];
    ASSERT_TRUE(contains(built, "\"gw-essen\"")) << built;
    EXPECT_EQ(device.sim.readStateFile("fs/DSK/SITE7.CFG"), built);
    EXPECT_FALSE(fileExists(device.sim.statePath("fs/MEM/SITE7.CFG"))) << "moved, not copied";
    EXPECT_EQ(device.sim.readStateFile("running-config"), built) << "the device runs it after the reboot";
    EXPECT_TRUE(contains(rebootCount(device), "count 1\n"));
    const std::string transcript = device.sim.transcript();
    EXPECT_TRUE(contains(transcript, "<<< set file-cfg")) << transcript;
    EXPECT_TRUE(contains(transcript, "open /MEM/SITE7.CFG for writing")) << transcript;
    EXPECT_TRUE(contains(transcript, "rename /MEM/SITE7.CFG /DSK/SITE7.CFG")) << transcript;
    EXPECT_FALSE(contains(transcript, "tmibAdmConfigCmd")) << "qx.CLI devices have no fallback timer";
    EXPECT_TRUE(contains(log, "INF - No certificates configured (pkcs12-file is dummy)."));
    EXPECT_TRUE(contains(log, "INF - Hint: 'qx.CLI' treats ALL configs as 'full'."));
    EXPECT_TRUE(contains(log, "INF - Config updated."));
    EXPECT_EQ(lupdate(id), today());
    expectNoSecrets(h);

    // BootFac: the factory default CONFIG.DEF, without asking for the boot
    // file name; the device keeps running its boot file.
    testsupport::writeFile(setup.transferDir() + certFile(id, -1), "");
    size_t mark = device.sim.transcript().size();
    h = runJob(43, id, "BootFac");
    EXPECT_EQ(h["status"], "success") << log;
    EXPECT_EQ(device.sim.readStateFile("fs/DSK/CONFIG.DEF"), h["config"]);
    EXPECT_EQ(device.sim.readStateFile("fs/DSK/SITE7.CFG"), built);
    EXPECT_EQ(device.sim.readStateFile("running-config"), built);
    const std::string later = device.sim.transcript().substr(mark);
    EXPECT_FALSE(contains(later, "set file-cfg")) << later;
    EXPECT_TRUE(contains(later, "rename /MEM/CONFIG.DEF /DSK/CONFIG.DEF")) << later;
    EXPECT_TRUE(contains(rebootCount(device), "count 2\n"));

    // Without its boot file the device comes up with the factory default.
    ASSERT_EQ(::remove(device.sim.statePath("fs/DSK/SITE7.CFG").c_str()), 0);
    h = runJob(44, id, "Reboot");
    EXPECT_EQ(h["status"], "success") << log;
    EXPECT_EQ(device.sim.readStateFile("running-config"), device.sim.readStateFile("fs/DSK/CONFIG.DEF"));
}

TEST_F(QxUpload, CertificatesCannotBeLoadedAndAFailedRenameFails) {
    SimRouter device("qx");
    ASSERT_TRUE(startQx(device)) << device.sim.error();
    unsigned long id = setup.addRouter(routerRow(device, "QX-1", "SSH"));

    makePkcs12(certFile(id, -1), "gw-essen");
    auto h = runJob(42, id, "Certs");
    EXPECT_EQ(h["reason"], "Cannot do certsOnly");
    EXPECT_TRUE(contains(log, "ERR - Certs-only-update not supported for 'qx.CLI'.")) << log;
    EXPECT_TRUE(contains(rebootCount(device), "count 1\n")) << "rebooted all the same";

    makePkcs12(certFile(id, -1), "gw-essen");
    h = runJob(43, id, "Config");
    EXPECT_EQ(h["reason"], "No certs-support");
    EXPECT_TRUE(contains(log, "ERR - Cert-commands not supported for 'qx.CLI'.")) << log;
    EXPECT_FALSE(contains(device.sim.transcript(), "for writing")) << "nothing uploaded";
    EXPECT_EQ(device.sim.readStateFile("fs/DSK/SITE7.CFG"), kOldBootFile);
    expectNoSecrets(h);

    // The disk holds a folder where the file should go: the upload into
    // memory works, the rename is refused, and the client's OpenSSH 9 reply
    // ("remote rename ...") is a failure although it never says
    // "Couldn't".
    ASSERT_EQ(::remove(device.sim.statePath("fs/DSK/SITE7.CFG").c_str()), 0);
    testsupport::makeDirs(device.sim.statePath("fs/DSK/SITE7.CFG/in-the-way"));
    testsupport::writeFile(setup.transferDir() + certFile(id, -1), "");
    h = runJob(44, id, "Config");
    EXPECT_EQ(h["reason"], "Bad file-renaming");
    EXPECT_TRUE(contains(log, "ERR - SFTP-file-renaming failed.")) << log;
    EXPECT_FALSE(contains(log, "Config updated.")) << log;
    EXPECT_TRUE(contains(log, "remote rename")) << log;
    EXPECT_FALSE(contains(log, "Couldn't")) << log;
    EXPECT_TRUE(contains(device.sim.transcript(), "rename /MEM/SITE7.CFG /DSK/SITE7.CFG"));
    EXPECT_TRUE(contains(device.sim.readStateFile("boot"), "count 3\n"));
    EXPECT_EQ(lupdate(id), "");
}

}  // namespace

namespace {
// "All" on a qx.CLI router: the images over SFTP first (the device restarts
// into the new release), then the configuration onto /DSK, then the final
// restart; qx.CLI devices have no fallback timer.
TEST_F(QxUpload, AllInstallsTheImagesThenTheConfiguration) {
    SimRouter device("qx-all");
    ASSERT_TRUE(startQx(device)) << device.sim.error();
    testsupport::makeDirs(setup.transferDir() + "images/QX-1");
    const std::string image = "QXCLI-IMAGE 10.3.1\n" + std::string(9000, 's');
    testsupport::writeFile(setup.transferDir() + "images/QX-1/sys.img", image);
    setup.db.exec("INSERT INTO cordal_swrelease (name, routertype, nexa) VALUES ('R-all', 'QX-1', 'sys.img')");
    unsigned long id = setup.addRouter(routerRow(device, "QX-1", "SSH", {{"softwareimage", "R-all"}}));
    testsupport::writeFile(setup.transferDir() + certFile(id, -1), "");
    auto h = runJob(42, id, "All");

    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_EQ(h["status"], "success") << h["reason"];
    EXPECT_EQ(setup.db.value("SELECT swversion FROM cordal_router WHERE id=" + std::to_string(id)), "10.3.1");
    EXPECT_EQ(device.sim.readStateFile("fs/DSK/SYS.IMG"), image);
    EXPECT_EQ(device.sim.readStateFile("release"), "10.3.1\n");
    const std::string built = h["config"];
    ASSERT_TRUE(contains(built, "\"gw-essen\"")) << built;
    EXPECT_EQ(device.sim.readStateFile("fs/DSK/SITE7.CFG"), built);
    EXPECT_EQ(device.sim.readStateFile("running-config"), built);
    EXPECT_TRUE(contains(rebootCount(device), "count 2\n")) << "one restart for the images, one for the configuration";
    const std::string transcript = device.sim.transcript();
    const size_t images = transcript.find("rename /MEM/SYS.IMG /DSK/SYS.IMG");
    const size_t config = transcript.find("rename /MEM/SITE7.CFG /DSK/SITE7.CFG");
    ASSERT_NE(images, std::string::npos) << transcript;
    ASSERT_NE(config, std::string::npos) << transcript;
    EXPECT_LT(images, config);
    EXPECT_TRUE(contains(log, "*** Sending test-pings."));
    expectNoSecrets(h);
}
}  // namespace
