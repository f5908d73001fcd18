// The job lifecycle records (jobs, history, stored configurations) against
// the private server.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "db/Cordal_configs.h"
#include "db/Cordal_jobhistory.h"
#include "db/Cordal_jobs.h"
#include "db/Database.h"
#include "db/Query.h"
#include "tests/db/DbTestHelpers.h"
#include "tests/dbsupport/TestDatabase.h"
#include "util/logEngine.h"

using dbtest::hasLine;
using dbtest::hostileText;
using testdb::TestDatabase;

namespace {

class JobRecords : public ::testing::Test {
protected:
    TestDatabase tdb;
    logEngine log{true};
    Database db{tdb.host(), tdb.user(), tdb.password(), tdb.name(), &log};
    void TearDown() override { dbtest::printLogIfFailed(log); }

    unsigned long storeConfig(int keep, unsigned long router, unsigned long long jobtime, const std::string& mode) {
        Cordal_configs c(&db, keep);
        c.routerid = router;
        c.jobtime = jobtime;
        c.workmode = mode;
        c.config = {"cfg " + std::to_string(jobtime)};
        c.insert();
        EXPECT_TRUE(c.lastOk());
        return c.id;
    }
    // The jobtimes of one router's rows, oldest first.
    std::string jobtimes(unsigned long router, bool autoFetch) {
        std::string where =
            "routerid=" + std::to_string(router) + " AND " + (autoFetch ? "" : "NOT ") + "workmode='AutoFetch'";
        std::string list;
        for (const auto& row : tdb.rows("SELECT jobtime FROM cordal_configs WHERE " + where + " ORDER BY jobtime, id"))
            list += (list.empty() ? "" : ",") + row[0].value_or("NULL");
        return list;
    }
};

// A database whose sessions run with MySQL's default strictness about GROUP BY.
class OnlyFullGroupByDatabase : public Database {
public:
    using Database::Database;
    int OnMyInit(OPENDB* odb) override {
        Database::OnMyInit(odb);
        return mysql_options(&odb->mysql, MYSQL_INIT_COMMAND,
                             "SET SESSION sql_mode='ONLY_FULL_GROUP_BY,STRICT_TRANS_TABLES'");
    }
};

}  // namespace

TEST_F(JobRecords, JobRoundTripWithHostileTexts) {
    Cordal_jobs fresh(&db);
    EXPECT_EQ(fresh.newRecord, 1);
    fresh.routerid = 7;
    fresh.jobtime = 5000000000ull;  // beyond 32 bits
    fresh.starttime = 18446744073709551615ull;
    fresh.endtime = 3;
    fresh.watchdog = 4;
    fresh.processid = 4294967295ul;
    fresh.workmode = "Config";
    fresh.status = hostileText();
    fresh.pending = 65535;
    fresh.priority = 2;
    fresh.reasoncode = 3;
    fresh.reason = "a < b & 'c'";
    fresh.retrycount = -5;
    fresh.osrel = "7.1";
    fresh.uid = 99;
    fresh.save();  // new: inserts
    EXPECT_TRUE(fresh.lastOk());
    EXPECT_EQ(fresh.newRecord, 0);
    ASSERT_NE(fresh.id, 0u);
    EXPECT_EQ(tdb.value("SELECT status FROM cordal_jobs WHERE id=" + std::to_string(fresh.id)), hostileText());

    Cordal_jobs job(db, fresh.id);
    EXPECT_EQ(job.newRecord, 0);
    EXPECT_EQ(job.id, fresh.id);
    EXPECT_EQ(job.routerid, 7u);
    EXPECT_EQ(job.jobtime, 5000000000ull);
    EXPECT_EQ(job.starttime, 18446744073709551615ull);
    EXPECT_EQ(job.endtime, 3u);
    EXPECT_EQ(job.watchdog, 4u);
    EXPECT_EQ(job.processid, 4294967295ul);
    EXPECT_EQ(job.workmode, "Config");
    EXPECT_EQ(job.status, hostileText());
    EXPECT_EQ(job.pending, 65535);
    EXPECT_EQ(job.priority, 2);
    EXPECT_EQ(job.reasoncode, 3);
    EXPECT_EQ(job.reason, "a < b & 'c'");
    EXPECT_EQ(job.retrycount, -5);
    EXPECT_EQ(job.osrel, "7.1");
    EXPECT_EQ(job.uid, 99u);

    // save() on a loaded job updates its own row.
    job.status = "Uploading 'config'\\\n";
    job.processid = 1234;
    job.save();
    EXPECT_TRUE(job.lastOk());
    EXPECT_EQ(tdb.count("cordal_jobs"), 1);
    Cordal_jobs reloaded(&db, "select * from cordal_jobs where id=" + std::to_string(fresh.id));
    EXPECT_EQ(reloaded.status, "Uploading 'config'\\\n");
    EXPECT_EQ(reloaded.processid, 1234u);
    EXPECT_EQ(reloaded.retrycount, -5);

    EXPECT_EQ(job.xml(), "<CORDAL_JOBS><ID>" + std::to_string(job.id) +
                             "</ID><ROUTERID>7</ROUTERID><JOBTIME>5000000000</JOBTIME>"
                             "<STARTTIME>18446744073709551615</STARTTIME><ENDTIME>3</ENDTIME><WATCHDOG>4</WATCHDOG>"
                             "<PROCESSID>1234</PROCESSID><WORKMODE>Config</WORKMODE>"
                             "<STATUS>Uploading &apos;config&apos;\\\n</STATUS><PENDING>65535</PENDING>"
                             "<PRIORITY>2</PRIORITY><REASONCODE>3</REASONCODE>"
                             "<REASON>a &lt; b &amp; &apos;c&apos;</REASON><RETRYCOUNT>-5</RETRYCOUNT>"
                             "<OSREL>7.1</OSREL><UID>99</UID></CORDAL_JOBS>");
    EXPECT_EQ(job.xml("job", "a\"b").rfind("<CORDAL_JOBS job=\"a\"b\"><ID>", 0), 0u);

    job.erase();
    EXPECT_TRUE(job.lastOk());
    EXPECT_EQ(tdb.count("cordal_jobs"), 0);
    Cordal_jobs gone(db, fresh.id);
    EXPECT_EQ(gone.id, 0u);
    EXPECT_EQ(gone.newRecord, 1);
    EXPECT_EQ(gone.jobtime, 0u);
    EXPECT_EQ(gone.status, "");
}

TEST_F(JobRecords, LoadsThatFindNothingAndEraseOfUnfoundJobs) {
    // Row 0 exists, so an erase that sent its statement would remove it.
    tdb.exec("SET SESSION sql_mode='NO_AUTO_VALUE_ON_ZERO'; INSERT INTO cordal_jobs (id, status) VALUES (0, 'zero')");
    tdb.exec("INSERT INTO cordal_jobs (id, status, routerid) VALUES (5, 'five', 9)");
    Cordal_jobs missing(db, 4711);
    EXPECT_EQ(missing.id, 0u);
    EXPECT_EQ(missing.newRecord, 1);
    EXPECT_TRUE(missing.lastOk());
    missing.erase();
    EXPECT_EQ(tdb.count("cordal_jobs", "id=0"), 1);

    // Only the first row of a statement counts; the column order is the
    // record's whatever the statement's prefix case.
    Cordal_jobs first(&db, "sElEcT * FROM cordal_jobs WHERE id>0 OR id=0 ORDER BY id DESC");
    EXPECT_EQ(first.id, 5u);
    EXPECT_EQ(first.routerid, 9u);
    EXPECT_EQ(first.status, "five");
    // A statement of its own is used unchanged: its columns are taken by position.
    Cordal_jobs custom(&db, "SELECT id, routerid FROM cordal_jobs WHERE id=5");
    EXPECT_EQ(custom.id, 5u);
    EXPECT_EQ(custom.routerid, 9u);
    EXPECT_EQ(custom.status, "");

    // A reload that finds nothing clears the numbers and marks the record new.
    first.spawn("SELECT * FROM cordal_jobs WHERE id=4711");
    EXPECT_EQ(first.id, 0u);
    EXPECT_EQ(first.routerid, 0u);
    EXPECT_EQ(first.newRecord, 1);

    // A failed load reads as not found and says so.
    Cordal_jobs broken(&db, "SELECT * FROM no_such_table");
    EXPECT_EQ(broken.id, 0u);
    EXPECT_FALSE(broken.lastOk());

    // The by-index fill reads the current row of someone else's query.
    Query q(db);
    ASSERT_NE(q.get_result("SELECT " + first.columnList() + " FROM cordal_jobs WHERE id=5"), nullptr);
    ASSERT_NE(q.fetch_row(), nullptr);
    Cordal_jobs fromRow(&db, &q);
    q.free_result();
    EXPECT_EQ(fromRow.id, 5u);
    EXPECT_EQ(fromRow.status, "five");
    EXPECT_EQ(fromRow.newRecord, 0);
    EXPECT_EQ(Cordal_jobs::num_cols(), 16);
    EXPECT_EQ(first.columnList(),
              "id,routerid,jobtime,starttime,endtime,watchdog,processid,workmode,status,pending,priority,"
              "reasoncode,reason,retrycount,osrel,uid");

    // clear() zeroes the numbers only.
    fromRow.clear();
    EXPECT_EQ(fromRow.id, 0u);
    EXPECT_EQ(fromRow.status, "five");
}

TEST_F(JobRecords, StatementsKeepTheirShape) {
    // Without the tables every statement fails, and the debug line shows it whole.
    Cordal_jobs job(&db);
    job.routerid = 2;
    job.workmode = "Get'Conf";
    job.jobtime = 10;
    tdb.exec("DROP TABLE cordal_jobs, cordal_configs");
    EXPECT_EQ(job.insert(), 0u);
    EXPECT_FALSE(job.lastOk());
    EXPECT_EQ(job.newRecord, 0);  // cleared even though the row was refused
    EXPECT_TRUE(hasLine(log,
                        "DBG - query failed: INSERT INTO cordal_jobs(id,routerid,jobtime,starttime,endtime,"
                        "watchdog,processid,workmode,status,pending,priority,reasoncode,reason,retrycount,osrel,"
                        "uid) VALUES(0, 2, 10, 0, 0, 0, 0, 'Get\\'Conf', '', 0, 0, 0, '', 0, '', 0)"));
    EXPECT_TRUE(hasLine(log, "DB  - query failed: INSERT INTO cordal_jobs(id,"));
    EXPECT_TRUE(hasLine(log, "VALUES(0, 2, 10, 0, 0, 0, 0, '***', '', 0, 0, 0, '', 0, '', 0)"));
    job.id = 42;
    job.update();
    EXPECT_FALSE(job.lastOk());
    EXPECT_TRUE(hasLine(log,
                        "DBG - query failed: UPDATE cordal_jobs SET id=42, routerid=2, jobtime=10, "
                        "starttime=0, endtime=0, watchdog=0, processid=0, workmode='Get\\'Conf', status='', "
                        "pending=0, priority=0, reasoncode=0, reason='', retrycount=0, osrel='', uid=0 "
                        "WHERE id='42'"));
    job.update(41);
    EXPECT_TRUE(hasLine(log, "uid=0 WHERE id='41'"));
    job.erase();
    EXPECT_TRUE(hasLine(log, "DBG - query failed: DELETE FROM cordal_jobs WHERE id='42'"));

    Cordal_configs config(&db, 3);
    config.id = 8;
    config.routerid = 2;
    config.workmode = "GetConf";
    config.config = {"a", "b"};
    config.insert();
    EXPECT_FALSE(config.lastOk());
    EXPECT_TRUE(hasLine(log,
                        "DBG - query failed: INSERT INTO cordal_configs(id,routerid,jobtime,workmode,osrel,"
                        "config) values(8, 2, 0, 'GetConf', '', 'a b')"));
    EXPECT_EQ(config.id, 0u);  // the insert id of the refused row
    config.update(8);
    EXPECT_TRUE(hasLine(log,
                        "DBG - query failed: UPDATE cordal_configs SET id=0, routerid=2, jobtime=0, "
                        "workmode='GetConf', osrel='', config='a b' WHERE id=8"));
}

TEST_F(JobRecords, HistoryKeepsItsLineLists) {
    Cordal_jobhistory history(&db);
    history.id = 42;
    history.routerid = 7;
    history.status = "success";
    history.reason = "";
    history.config = {"line 1", "", "line 3 'quoted' \\ \xe4\xf6\xfc"};
    // A whole log of several megabytes.
    for (int i = 0; i < 40000; ++i) history.log.push_back("2024/01/01 00:00:00 - COM - " + std::string(80, 'x'));
    std::string hostileLine = hostileText();
    hostileLine.erase(std::remove(hostileLine.begin(), hostileLine.end(), '\n'), hostileLine.end());
    history.log.push_back(hostileLine);
    history.insert();
    ASSERT_TRUE(history.lastOk());
    ASSERT_NE(history.histid, 0u);
    EXPECT_EQ(tdb.value("SELECT config FROM cordal_jobhistory"), "line 1\n\nline 3 'quoted' \\ \xe4\xf6\xfc");

    Cordal_jobhistory loaded(db, history.histid);
    EXPECT_EQ(loaded.histid, history.histid);
    EXPECT_EQ(loaded.id, 42u);
    EXPECT_EQ(loaded.config, history.config);
    ASSERT_EQ(loaded.log.size(), history.log.size());
    EXPECT_EQ(loaded.log.back(), history.log.back());

    // A trailing line break ends the last line; it adds no empty line and
    // is not written back.
    tdb.exec("UPDATE cordal_jobhistory SET log='one\n\nthree\n'");
    loaded.spawn("SELECT * FROM cordal_jobhistory WHERE histid=" + std::to_string(history.histid));
    EXPECT_EQ(loaded.log, (std::vector<std::string>{"one", "", "three"}));
    loaded.save();
    EXPECT_EQ(tdb.value("SELECT log FROM cordal_jobhistory"), "one\n\nthree");
    tdb.exec("UPDATE cordal_jobhistory SET log=''");
    loaded.spawn("SELECT * FROM cordal_jobhistory");
    EXPECT_TRUE(loaded.log.empty());

    std::string xml = loaded.xml();
    EXPECT_EQ(xml.substr(0, 27), "<CORDAL_JOBHISTORY><HISTID>");
    EXPECT_NE(xml.find("<OSREL></OSREL><UID>0</UID></CORDAL_JOBHISTORY>"), std::string::npos);
    EXPECT_EQ(xml.find("<CONFIG>"), std::string::npos);
    EXPECT_EQ(xml.find("<LOG>"), std::string::npos);
}

TEST_F(JobRecords, StoredConfigurationsArePrunedPerRouter) {
    for (unsigned long long t = 1; t <= 4; ++t) storeConfig(3, 1, t * 100, "GetConf");
    EXPECT_EQ(jobtimes(1, false), "200,300,400");  // the oldest went
    storeConfig(3, 2, 50, "GetConf");              // another router is left alone
    EXPECT_EQ(jobtimes(1, false), "200,300,400");

    // AutoFetch keeps only its newest, whatever the keep count, and does
    // not touch the other configurations.
    storeConfig(2147483647, 1, 150, "AutoFetch");
    storeConfig(2147483647, 1, 500, "AutoFetch");
    storeConfig(2147483647, 1, 120, "AutoFetch");
    EXPECT_EQ(jobtimes(1, true), "500");
    EXPECT_EQ(jobtimes(1, false), "200,300,400");

    // The largest keep count keeps everything.
    for (unsigned long long t = 1; t <= 5; ++t) storeConfig(2147483647, 3, t, "Config");
    EXPECT_EQ(jobtimes(3, false), "1,2,3,4,5");

    // Rows with one time stamp form one group: one insert removes one of them.
    storeConfig(2147483647, 4, 10, "GetConf");
    storeConfig(2147483647, 4, 10, "GetConf");
    storeConfig(2147483647, 4, 20, "GetConf");
    storeConfig(1, 4, 30, "GetConf");
    EXPECT_EQ(jobtimes(4, false), "10,30");

    Cordal_configs loaded(db, 3, storeConfig(3, 5, 77, "GetConf"));
    EXPECT_EQ(loaded.jobtime, 77u);
    EXPECT_EQ(loaded.config, std::vector<std::string>{"cfg 77"});
    EXPECT_EQ(loaded.keep, 3);
    EXPECT_EQ(loaded.xml(), "<CORDAL_CONFIGS><ID>" + std::to_string(loaded.id) +
                                "</ID><ROUTERID>5</ROUTERID><JOBTIME>77</JOBTIME><WORKMODE>GetConf</WORKMODE>"
                                "<OSREL></OSREL></CORDAL_CONFIGS>");
    loaded.clear();
    EXPECT_EQ(loaded.id, 0u);
    EXPECT_EQ(loaded.workmode, "");
    EXPECT_TRUE(loaded.config.empty());
}

TEST_F(JobRecords, PruningWorksUnderOnlyFullGroupBy) {
    OnlyFullGroupByDatabase strict(tdb.host(), tdb.user(), tdb.password(), tdb.name(), &log);
    {
        Query q(strict);
        ASSERT_EQ(std::string(q.get_string("SELECT @@SESSION.sql_mode")), "ONLY_FULL_GROUP_BY,STRICT_TRANS_TABLES");
    }
    for (unsigned long long t = 1; t <= 4; ++t) {
        Cordal_configs c(&strict, 2);
        c.routerid = 1;
        c.jobtime = t;
        c.workmode = "GetConf";
        c.insert();
    }
    EXPECT_EQ(jobtimes(1, false), "3,4");
    EXPECT_FALSE(hasLine(log, "query failed"));
}

TEST_F(JobRecords, FailedPruningIsLoggedWithTheServerMessage) {
    // May store configurations but not read them back: the insert works,
    // the pruning select is refused.
    tdb.createUser("inserter", "pw", "INSERT ON cordal_configs");
    Database limited(tdb.host(), "inserter", "pw", tdb.name(), &log);
    Cordal_configs c(&limited, 1);
    c.routerid = 12;
    c.workmode = "GetConf";
    unsigned long long id = c.insert();
    EXPECT_NE(id, 0u);
    EXPECT_TRUE(c.lastOk());  // the configuration itself was stored
    EXPECT_EQ(tdb.count("cordal_configs", "routerid=12"), 1);
    EXPECT_TRUE(hasLine(log,
                        "DB  - query failed: SELECT MIN(id) FROM cordal_configs WHERE (routerid=12 AND NOT "
                        "workmode='***') GROUP BY jobtime"));
    EXPECT_TRUE(hasLine(log, "DB  - server said (1142): SELECT command denied to user 'inserter'"));
    EXPECT_TRUE(hasLine(log, "DB  - pruning the stored configurations of router 12 failed"));

    // A refused insert prunes nothing.
    tdb.exec("INSERT INTO cordal_configs (routerid, jobtime, workmode) VALUES (13, 1, 'GetConf')");
    Cordal_configs dup(&db, 0);
    dup.id = static_cast<unsigned long>(id);  // duplicate key
    dup.routerid = 13;
    dup.workmode = "GetConf";
    dup.insert();
    EXPECT_FALSE(dup.lastOk());
    EXPECT_EQ(tdb.count("cordal_configs", "routerid=13"), 1);
}
