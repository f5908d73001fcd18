// Many connections in one process: every one opened and closed leaves no
// child process (running or zombie) and no descriptor behind.
#include <dirent.h>

#include "tests/conn/ConnFixture.h"
#include "util/Pause.h"
#include "util/SSHConnection.h"
#include "util/connection.h"

using conntest::ConnFixture;

namespace {

size_t openDescriptors() {
    size_t n = 0;
    DIR* fds = opendir("/proc/self/fd");
    if (!fds) return 0;
    while (readdir(fds)) ++n;
    closedir(fds);
    return n;
}

class ConnectionLeakTest : public ConnFixture {
protected:
    void SetUp() override { Pause::setScale(0); }  // the 2-second pauses add nothing here
    void TearDown() override {
        Pause::setScale(1);
        ConnFixture::TearDown();
    }
};

TEST_F(ConnectionLeakTest, TwoHundredConnectionsLeaveNoChildAndNoDescriptor) {
    startDevice({"--family", "nexa", "--user", "admin", "--password", "Leak-pw-1"});
    const LoginSettings logins = {{"admin", "Leak-pw-1", "(supplied)"}};
    // One round first, so that whatever the process keeps for good (the
    // resolver, the log) is open before counting.
    {
        connection telnet(&log, DeviceFamily("NEXA"));
        ASSERT_TRUE(telnet.connect(settingsFor("127.0.0.1"), logins)) << dump();
    }
    const size_t before = openDescriptors();
    int loggedIn = 0, shells = 1;
    for (int i = 0; i < 200; ++i) {
        // Telnet, SSH and SFTP in turn.
        std::unique_ptr<ConnectionHandler> link;
        if (i % 3 == 0)
            link.reset(new connection(&log, DeviceFamily("NEXA")));
        else
            link.reset(new SSHConnection(&log, DeviceFamily("NEXA"), i % 3 == 1 ? SSH : SFTP));
        shells += i % 3 != 2;
        if (link->connect(settingsFor("127.0.0.1"), logins)) ++loggedIn;
        if (i % 4 == 0) link->disconnect();  // the others end through the destructor
        link.reset();
        ASSERT_EQ(childCount(), 0u) << "after connection " << i << ":\n" << clientProcesses();
    }
    EXPECT_EQ(loggedIn, 200);
    EXPECT_EQ(openDescriptors(), before);
    const std::string transcript = device.transcript();
    EXPECT_EQ(count(transcript, "<<< t 0"), static_cast<size_t>(shells)) << "every shell login reached the device";
    EXPECT_EQ(count(transcript, "sftp started"), static_cast<size_t>(200 + 1 - shells));
}

}  // namespace
