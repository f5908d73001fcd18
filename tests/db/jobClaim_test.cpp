// The claim of a job on the private server: the server list a Database
// tries in order, who counts as gone, and the heartbeat thread.
#include "db/JobClaim.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "db/Database.h"
#include "tests/db/DbTestHelpers.h"
#include "tests/dbsupport/TestDatabase.h"
#include "util/logEngine.h"

using testdb::TestDatabase;

TEST(ServerList, EntriesAreSplitTrimmedAndKeptInOrder) {
    struct Case {
        const char* setting;
        std::vector<std::pair<std::string, int>> servers;
    } cases[] = {
        {"db1", {{"db1", 0}}},
        {"db1:3307", {{"db1", 3307}}},
        {"db1:3307,db2:3308,db3", {{"db1", 3307}, {"db2", 3308}, {"db3", 0}}},
        {" db1:1 ,\tdb2:2 ", {{"db1", 1}, {"db2", 2}}},
        {"db1,,db2,", {{"db1", 0}, {"db2", 0}}},
        {"", {{"", 0}}},
        {",", {{"", 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        auto servers = Database::parseServers(c.setting);
        ASSERT_EQ(servers.size(), c.servers.size());
        for (size_t i = 0; i < servers.size(); ++i) {
            EXPECT_EQ(servers[i].host, c.servers[i].first);
            EXPECT_EQ(servers[i].port, c.servers[i].second);
        }
    }
}

// A server that does not answer is passed over, on the first connection
// and on every reconnect.
TEST(ServerList, AServerThatDoesNotAnswerIsPassedOver) {
    TestDatabase tdb;
    logEngine log(true);
    Database db("127.0.0.1:1," + tdb.host(), tdb.user(), tdb.password(), tdb.name(), &log);
    EXPECT_TRUE(db.Connected());
    EXPECT_EQ(db.GetPort(), tdb.server().port);
    EXPECT_TRUE(dbtest::hasLine(log, "(server 127.0.0.1:1)"));
    Database none("127.0.0.1:1,127.0.0.1:2", tdb.user(), tdb.password(), tdb.name(), &log);
    EXPECT_FALSE(none.Connected());
    EXPECT_TRUE(dbtest::hasLine(log, "(server 127.0.0.1:2)"));
}

TEST(ClaimHolder, GoneByProcessHereAndByHeartbeatElsewhere) {
    TestDatabase tdb;
    Database db(tdb.host(), tdb.user(), tdb.password(), tdb.name(), nullptr);
    JobClaim claim(db, 42, nullptr);
    const unsigned long self = static_cast<unsigned long>(getpid());
    const unsigned long long start = JobClaim::processStartTime(self);
    ASSERT_GT(start, 0u);
    // A process that has ended and been reaped.
    pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    const unsigned long ended = static_cast<unsigned long>(child);
    EXPECT_EQ(JobClaim::processStartTime(ended), 0u);

    const std::string here = JobClaim::hostName();
    struct Case {
        const char* what;
        JobClaim::Holder holder;
        bool gone;
    } cases[] = {
        {"this process", {true, 1, here, self, start, 0, 0}, false},
        {"this pid, another start", {true, 1, here, self, start + 1, 0, 0}, true},
        {"this pid, no start recorded", {true, 1, here, self, 0, 0, 0}, false},
        {"an ended process", {true, 1, here, ended, 5, 0, 0}, true},
        {"an ended process, no start recorded", {true, 1, here, ended, 0, 0, 0}, true},
        {"elsewhere, silent one second past the lease", {true, 1, "elsewhere", self, start, 0, 301}, true},
        {"elsewhere, silent for the lease", {true, 1, "elsewhere", ended, 5, 0, 300}, false},
        {"not known", {false, 0, "", 0, 0, 0, 1000}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(claim.holderGone(c.holder, 300), c.gone) << c.what;
}

// The heartbeat thread refreshes the row on its own; release stops it and
// removes the row.
TEST(ClaimHeartbeat, TheThreadBeatsUntilTheRowIsReleased) {
    TestDatabase tdb;
    tdb.exec("INSERT INTO cordal_jobs (id, routerid) VALUES (42, 7)");
    Database db(tdb.host(), tdb.user(), tdb.password(), tdb.name(), nullptr);
    JobClaim claim(db, 42, nullptr, 1);
    JobClaim::Holder holder;
    ASSERT_EQ(claim.claim(holder), JobClaim::kTaken) << claim.error();
    tdb.exec("UPDATE tarvo_claims SET heartbeat = 7");
    bool beat = false;
    for (int i = 0; i < 600 && !beat; ++i) {
        beat = tdb.value("SELECT heartbeat FROM tarvo_claims") != "7";
        if (!beat) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(beat) << "no heartbeat within a minute";
    EXPECT_TRUE(claim.release());
    EXPECT_EQ(tdb.count("tarvo_claims"), 0);
    EXPECT_FALSE(claim.held());
}
