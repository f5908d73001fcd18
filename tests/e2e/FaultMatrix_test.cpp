// Every workmode that talks to a device, under faults: the device breaks a
// reply off, goes silent, restarts in the middle of the job, the ssh
// client is killed, the database is gone at the start, goes away during
// the job or before its end. Whatever happens, the job ends with exit 2
// and a recorded outcome, in a bounded time (printed, never asserted),
// and leaves no client process and no zombie behind.
//
// One cell per stage and family where the code differs. GetconfAll and
// ConfComp download with GetConf's code; their cells break the transfer
// and prove that nothing after a failed download runs.
// The login is the same code for every workmode: its faults are met where
// they fall (the Reboot and SSHKeyGen cells). The workmodes that arm a
// fallback timer (the upload, the firmware and "All") have their cells in
// FaultMatrixArmed_test.cpp.
#include "tests/e2e/FaultMatrix.h"

using testsupport::contains;
using namespace faultmatrix;

namespace {

// --- Test's ping (the test ping of every workmode that needs one) ---

TEST_F(FaultMatrix, PingCutMidReplyNexaSsh) {
    unsigned long router = startDevice("nexa", "SSH", {"--close-mid-reply", "ping"});
    cell(router, "Test", "Ping failed");
}

TEST_F(FaultMatrix, PingSshClientKilledQxCli) {
    unsigned long router = startDevice("qxcli", "SSH", {"--silent-after", "ping"});
    cell(router, "Test", "Ping failed", killClientOnSilence());
}

// --- SetPass ---

TEST_F(FaultMatrix, SetPassCutMidSecretNexaSsh) {
    unsigned long router = startDevice("nexa", "SSH", {"--close-mid-reply", "tmibAdmAdminCommunity"});
    cell(router, "SetPass", "Missing prompt");
}

TEST_F(FaultMatrix, SetPassSilentQxCliTelnet) {
    unsigned long router = startDevice("qxcli", "Telnet", {"--silent-after", "save"});
    cell(router, "SetPass", "Missing prompt");
}

TEST_F(FaultMatrix, SetPassDeviceRestartedNexaTelnet) {
    unsigned long router = startDevice("nexa", "Telnet", {"--silent-after", "configd save"});
    cell(router, "SetPass", "Missing prompt", restartOnSilence());
}

// --- Invent ---

TEST_F(FaultMatrix, InventSilentNexaTelnet) {
    unsigned long router = startDevice("nexa", "Telnet", {"--silent-after", "y"});
    cell(router, "Invent", "Missing prompt");
}

TEST_F(FaultMatrix, InventSshClientKilledNexa) {
    unsigned long router = startDevice("nexa", "SSH", {"--silent-after", "y"});
    cell(router, "Invent", "Missing prompt", killClientOnSilence());
}

TEST_F(FaultMatrix, InventCutMidReplyQxCliSsh) {
    unsigned long router = startDevice("qxcli", "SSH", {"--close-mid-reply", "version"});
    cell(router, "Invent", "Missing prompt");
}

// --- Reboot ---
// The reboot command's reply is not judged (a rebooting device drops the
// line, or says nothing): a fault there ends the job as a reboot does. What
// can fail is the login before it, where the qx.CLI family switches the
// shell time-out off.

TEST_F(FaultMatrix, RebootSshClientKilledDuringLoginQxCli) {
    unsigned long router = startDevice("qxcli", "SSH", {"--silent-after", "running-config"});
    cell(router, "Reboot", "Could not log in", killClientOnSilence());
}

// --- GetConf, GetconfAll, ConfComp (the merge download shares it too) ---

TEST_F(FaultMatrix, GetConfCutMidReplyNexaTelnet) {
    unsigned long router = startDevice("nexa", "Telnet", {"--close-mid-reply", "configd"});
    cell(router, "GetConf", "Bad file-transfer");
}

TEST_F(FaultMatrix, GetConfDeviceRestartedNexaSsh) {
    unsigned long router = startDevice("nexa", "SSH", {"--silent-after", "configd"});
    cell(router, "GetConf", "Bad file-transfer", restartOnSilence());
}

TEST_F(FaultMatrix, GetconfAllSftpClientKilledQxCliTelnet) {
    unsigned long router = startDevice("qxcli", "Telnet", {"--silent-after", "open /DSK/"});
    cell(router, "GetconfAll", "Bad file-transfer", killClientOnSilence("sftp"));
    EXPECT_EQ(setup.db.count("cordal_configs"), 0) << "nothing was stored";
}

TEST_F(FaultMatrix, ConfCompCutMidReplyNexaSsh) {
    testsupport::makeDirs(setup.templateDir() + "NX-1");
    testsupport::writeFile(setup.templateDir() + "NX-1/cmp.tmpl", "systemTable\n{\n}\n");
    unsigned long router =
        startDevice("nexa", "SSH", {"--close-mid-reply", "configd put"}, {{"globalmaster", "cmp.tmpl"}});
    JobRun run = cell(router, "ConfComp", "Bad file-transfer");
    EXPECT_FALSE(contains(run.log, "Comparing built/fetched config")) << run.log;
}

TEST_F(FaultMatrix, GetConfSilentQxCliSsh) {
    unsigned long router = startDevice("qxcli", "SSH", {"--silent-after", "set file-cfg"});
    cell(router, "GetConf", "No cfg-file-name");
}

// --- SSHKeyGen ---

TEST_F(FaultMatrix, SSHKeyGenSilentNexa) {
    // The check over Telnet waits out the silence; SSH stays off and the
    // SSH login fails.
    unsigned long router = startDevice("nexa", "SSH", {"--no-ssh", "--silent-after", "ssh"});
    cell(router, "SSHKeyGen", "Could not log in");
}

TEST_F(FaultMatrix, SSHKeyGenCutMidReplyQxCli) {
    unsigned long router = startDevice("qxcli", "SSH", {"--no-ssh", "--close-mid-reply", "feature ssh"});
    cell(router, "SSHKeyGen", "Could not log in");
}

// --- Erase ---

TEST_F(FaultMatrix, EraseCutMidReplyNexaSsh) {
    unsigned long router = startDevice("nexa", "SSH", {"--close-mid-reply", "configd delete"});
    cell(router, "Erase", "Missing prompt");
}

TEST_F(FaultMatrix, EraseDeviceRestartedQxCliTelnet) {
    unsigned long router = startDevice("qxcli", "Telnet", {"--silent-after", "set file-cfg"});
    cell(router, "Erase", "No cfg-file-name", restartOnSilence());
}

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
