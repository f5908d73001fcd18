#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/simsupport/DevSim.h"
#include "tests/support/TestSupport.h"
#include "util/ConnectionHandler.h"
#include "util/logEngine.h"

namespace conntest {

// One line of a logEngine, taken apart: the facility prefix ("COM", "INF",
// "ERR", "DBG") and the message with the log's line wrapping undone.
struct LogEntry {
    std::string facility;
    std::string text;
};

std::vector<LogEntry> parseLog(const logEngine& log);

// A devsim in a per-test folder, a debug log, connection settings for it,
// and the checks every connection test makes: no ssh or sftp client of
// this process is left behind and no secret reached an ordinary line.
class ConnFixture : public ::testing::Test {
protected:
    // A write to a gone peer must not depend on the program ignoring
    // SIGPIPE: the tests run with the default action, which would end the
    // test process.
    void SetUp() override;
    void TearDown() override;

    void startDevice(const std::vector<std::string>& options);
    // Settings for the device on address (and fallback, when given), with
    // short time-outs.
    ConnectSettings settingsFor(const std::string& address, const std::string& fallback = "") const;

    std::vector<LogEntry> entries() const { return parseLog(log); }
    // Messages of one facility, in order.
    std::vector<std::string> lines(const std::string& facility) const;
    bool hasLine(const std::string& facility, const std::string& text) const;
    size_t countLines(const std::string& facility, const std::string& text) const;
    // Position of the first entry with this facility and text at or after
    // from; npos when there is none.
    size_t find(const std::string& facility, const std::string& text, size_t from = 0) const;
    // Every non-debug line that contains one of the secrets.
    std::string leakedSecrets(const std::vector<std::string>& secrets) const;
    std::string dump() const { return log.dumpAsString(); }

    // ssh, sftp and shell children of this process (devsim excluded), and
    // any process whose command line names the device's SSH port: what a
    // connection must never leave running.
    std::string clientProcesses() const;
    // Children of this process other than devsim.
    size_t childCount() const;

    static double now();
    static size_t count(const std::string& text, const std::string& needle);

    logEngine log{true};
    testsupport::TempDir dir;
    testsim::DevSim device{dir.file("device")};
};

}  // namespace conntest
