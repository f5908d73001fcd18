#pragma once
#include <gtest/gtest.h>
#include <time.h>

#include <string>
#include <vector>

#include "tests/simsupport/DevSim.h"
#include "tests/simsupport/PtyProcess.h"
#include "tests/simsupport/TcpClient.h"
#include "tests/support/TestSupport.h"

// A devsim process in a per-test folder, and the client command lines the
// product uses.
class DeviceFixture : public ::testing::Test {
protected:
    // A device that is still running ends cleanly, without a sanitizer
    // report, whatever the test did to it.
    void TearDown() override {
        if (device.running()) {
            EXPECT_EQ(device.stop(), 0) << device.log();
        }
        EXPECT_EQ(device.log().find("Sanitizer"), std::string::npos) << device.log();
        EXPECT_EQ(device.log().find("runtime error"), std::string::npos) << device.log();
    }

    void startDevice(const std::vector<std::string>& options) { ASSERT_TRUE(device.start(options)) << device.error(); }

    // Telnet login with admin/admin up to the shell prompt.
    static bool telnetLogin(testsim::TcpClient& client, int port, const std::string& loginPrompt,
                            const std::string& prompt, const std::string& address = "127.0.0.1") {
        return client.connect(address, port) && client.expect(loginPrompt) && client.send("admin\r\n") &&
               client.expect("Password:") && client.send("admin\r\n") && client.expect(prompt);
    }

    // The product's ssh command line (with -T for NEXA devices).
    static std::vector<std::string> sshCommand(bool noPty, int port, const std::string& user = "admin") {
        std::vector<std::string> argv = {"ssh"};
        if (noPty) argv.push_back("-T");
        argv.insert(argv.end(),
                    {"-o", "StrictHostKeyChecking=no", "-o", "ConnectTimeout=10", "-o", "UserKnownHostsFile=/dev/null",
                     "-o", "LogLevel=ERROR", user + "@127.0.0.1", "-p", std::to_string(port)});
        return argv;
    }

    // The product's sftp command line, its port option before the
    // destination (sftp ignores options after it).
    static std::vector<std::string> sftpCommand(int port, const std::string& user = "admin") {
        return {"sftp",
                "-o",
                "StrictHostKeyChecking=no",
                "-o",
                "ConnectTimeout=10",
                "-o",
                "UserKnownHostsFile=/dev/null",
                "-o",
                "LogLevel=ERROR",
                "-P" + std::to_string(port),
                user + "@127.0.0.1"};
    }

    static double now() {
        timespec t;
        clock_gettime(CLOCK_MONOTONIC, &t);
        return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
    }

    static size_t count(const std::string& text, const std::string& needle) {
        size_t n = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
        return n;
    }

    testsupport::TempDir dir;
    testsim::DevSim device{dir.file("device")};
};
