// Every workmode that talks to a device, under faults: the device breaks a
// reply off, goes silent, restarts in the middle of the job, the ssh
// client is killed, the database is gone at the start, goes away during
// the job or before its end. Whatever happens, the job ends with exit 2
// and a recorded outcome, in a bounded time (printed, never asserted),
// and leaves no client process and no zombie behind.
//
// One cell per stage and family where the code differs, one row each of
// the table below. GetconfAll and ConfComp download with GetConf's code;
// their cells break the transfer and prove that nothing after a failed
// download runs. The login is the same code for every workmode: its faults
// are met where they fall (the Reboot and SSHKeyGen cells). The workmodes that arm a
// fallback timer (the upload, the firmware and "All") have their cells in
// FaultMatrixArmed_test.cpp.
#include "tests/e2e/FaultMatrix.h"

using testsupport::contains;
using namespace faultmatrix;

namespace {

// The extra columns of the few cells that check more.
void nothingStored(CellRun& c) {
    if (c.run) {
        EXPECT_EQ(c.setup.db.count("cordal_configs"), 0) << "nothing was stored";
    }
}

void compareTemplate(CellRun& c) {
    if (!c.run) {
        testsupport::makeDirs(c.setup.templateDir() + "NX-1");
        testsupport::writeFile(c.setup.templateDir() + "NX-1/cmp.tmpl", "systemTable\n{\n}\n");
        c.columns["globalmaster"] = "cmp.tmpl";
        return;
    }
    EXPECT_FALSE(contains(c.run->log, "Comparing built/fetched config")) << c.run->log;
}

// The check over Telnet waits out the fault; SSH stays off and the SSH
// login fails.
void sshOff(CellRun& c) {
    if (!c.run) c.options.push_back("--no-ssh");
}

// The test ping is that of every workmode that needs one. The reboot
// command's reply is not judged (a rebooting device drops the line, or says
// nothing): what can fail in the Reboot cell is the login before it, where
// the qx.CLI family switches the shell time-out off. GetconfAll and
// ConfComp download with GetConf's code (the merge download shares it too).
// clang-format off
const Cell kCells[] = {
    // name                                    workmode      family   transport fault     trigger                  reason               action
    {"PingCutMidReplyNexaSsh",                 "Test",       "nexa",  "SSH",    kCut,     "ping",                  "Ping failed"},
    {"PingSshClientKilledQxCli",               "Test",       "qxcli", "SSH",    kSilence, "ping",                  "Ping failed",       kKillSsh},
    {"SetPassCutMidSecretNexaSsh",             "SetPass",    "nexa",  "SSH",    kCut,     "tmibAdmAdminCommunity", "Missing prompt"},
    {"SetPassSilentQxCliTelnet",               "SetPass",    "qxcli", "Telnet", kSilence, "save",                  "Missing prompt"},
    {"SetPassDeviceRestartedNexaTelnet",       "SetPass",    "nexa",  "Telnet", kSilence, "configd save",          "Missing prompt",    kRestart},
    {"InventSilentNexaTelnet",                 "Invent",     "nexa",  "Telnet", kSilence, "y",                     "Missing prompt"},
    {"InventSshClientKilledNexa",              "Invent",     "nexa",  "SSH",    kSilence, "y",                     "Missing prompt",    kKillSsh},
    {"InventCutMidReplyQxCliSsh",              "Invent",     "qxcli", "SSH",    kCut,     "version",               "Missing prompt"},
    {"RebootSshClientKilledDuringLoginQxCli",  "Reboot",     "qxcli", "SSH",    kSilence, "running-config",        "Could not log in",  kKillSsh},
    {"GetConfCutMidReplyNexaTelnet",           "GetConf",    "nexa",  "Telnet", kCut,     "configd",               "Bad file-transfer"},
    {"GetConfDeviceRestartedNexaSsh",          "GetConf",    "nexa",  "SSH",    kSilence, "configd",               "Bad file-transfer", kRestart},
    {"GetconfAllSftpClientKilledQxCliTelnet",  "GetconfAll", "qxcli", "Telnet", kSilence, "open /DSK/",            "Bad file-transfer", kKillSftp, kNoTimer, "", nothingStored},
    {"ConfCompCutMidReplyNexaSsh",             "ConfComp",   "nexa",  "SSH",    kCut,     "configd put",           "Bad file-transfer", kNone,     kNoTimer, "", compareTemplate},
    {"GetConfSilentQxCliSsh",                  "GetConf",    "qxcli", "SSH",    kSilence, "set file-cfg",          "No cfg-file-name"},
    {"SSHKeyGenSilentNexa",                    "SSHKeyGen",  "nexa",  "SSH",    kSilence, "ssh",                   "Could not log in",  kNone,     kNoTimer, "", sshOff},
    {"SSHKeyGenCutMidReplyQxCli",              "SSHKeyGen",  "qxcli", "SSH",    kCut,     "feature ssh",           "Could not log in",  kNone,     kNoTimer, "", sshOff},
    {"EraseCutMidReplyNexaSsh",                "Erase",      "nexa",  "SSH",    kCut,     "configd delete",        "Missing prompt"},
    {"EraseDeviceRestartedQxCliTelnet",        "Erase",      "qxcli", "Telnet", kSilence, "set file-cfg",          "No cfg-file-name",  kRestart},
};
// clang-format on

class FaultMatrixCell : public FaultMatrix, public ::testing::WithParamInterface<Cell> {};

TEST_P(FaultMatrixCell, EndsWithItsReason) {
    runCell(GetParam(), [this](const Cell& c, CellRun& extra) {
        return startDevice(c.family, c.transport, extra.options, extra.columns);
    });
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrixCell, ::testing::ValuesIn(kCells), cellName);

// --- The database ---

TEST_F(FaultMatrixDatabase, UnreachableAtStart) {
    setup->addJob(7, routerId, "Invent");
    server.halt();
    JobRun run = runJob(*setup, 7, {}, false);
    EXPECT_EQ(run.result.exitCode, 2) << run.result.err;
    // Nothing but the settings is known: the standard error says why and
    // where the log went.
    printf("standard error:\n%s\n", run.result.err.c_str());
    const std::string logFile = setup->transferDir() + "7.log";
    EXPECT_TRUE(testsupport::fileExists(logFile)) << run.result.err;
    EXPECT_TRUE(contains(run.result.err, logFile)) << run.result.err;
    server.restart();
    EXPECT_TRUE(setup->jobRowExists(7));
    EXPECT_EQ(setup->historyRows(7), 0);
    EXPECT_EQ(setup->leakedSecrets(7, run.result), "");
    expectNothingLeft(run.pid, {device.sim.telnetPort(), device.sim.sshPort()});
    EXPECT_EQ(device.sim.transcript().find("connection from"), std::string::npos) << "the device was contacted";
}

TEST_F(FaultMatrixDatabase, StoppedWhileTheJobRuns) {
    setup->addJob(7, routerId, "Invent");
    JobRun run = runUntilDevice(7, "logged in as");
    expectOutcomeKept(run, 7);
}

TEST_F(FaultMatrixDatabase, StoppedBeforeFinish) {
    // The device goes silent on the last inventory command: the job waits
    // out the silence, the server goes meanwhile, and the outcome has
    // nowhere to go but the log file.
    device.sim.stop();
    ASSERT_TRUE(device.start("nexa", {"--silent-after", "y", "--user", "admin", "--password", "Kc9-admin-comm"}))
        << device.sim.error();
    setup->db.exec("UPDATE cordal_router SET telnetport=" + std::to_string(device.sim.telnetPort()) +
                   ", sshport=" + std::to_string(device.sim.sshPort()));
    setup->addJob(7, routerId, "Invent");
    JobRun run = runUntilDevice(7, "fault: silent from now on");
    expectOutcomeKept(run, 7);
}

TEST_F(FaultMatrixDatabase, RestartedWhileTheJobRunsKeepsTheHistory) {
    setup->addJob(7, routerId, "Invent");
    JobRun run = runUntilDevice(7, "logged in as", true);
    // The outcome reaches the restarted server, whatever it is.
    EXPECT_TRUE(run.result.exitCode == 0 || run.result.exitCode == 2) << run.result.exitCode;
    EXPECT_EQ(setup->historyRows(7), 1) << run.result.err;
    EXPECT_EQ(setup->history(7)["status"], run.result.exitCode == 0 ? "success" : "error");
    EXPECT_FALSE(setup->jobRowExists(7));
    EXPECT_EQ(setup->leakedSecrets(7, run.result), "");
    expectNothingLeft(run.pid, {device.sim.telnetPort(), device.sim.sshPort()});
}

}  // namespace
