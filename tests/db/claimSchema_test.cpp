// The claim table of running jobs: created by the schema (in both router
// layouts) and by the migration statement, which leaves an existing
// database, its rows included, as it was.
#include <gtest/gtest.h>

#include "tests/dbsupport/TestDatabase.h"
#include "tests/support/TestSupport.h"

using testdb::Schema;
using testdb::TestDatabase;

namespace {
std::string migration() {
    return testsupport::readFile(std::string(TARVO_SOURCE_DIR) + "/db/migrate-tarvo-claims.sql");
}
std::string createStatement(TestDatabase& db) {
    return *db.rows("SHOW CREATE TABLE tarvo_claims").at(0).at(1);
}
}  // namespace

TEST(ClaimSchema, MigrationKeepsRowsAndCreatesTheSchemasTable) {
    for (Schema schema : {Schema::Full, Schema::WithoutOptionalRouterColumns}) {
        TestDatabase db(schema);
        const std::string created = createStatement(db);
        db.exec("INSERT INTO tarvo_claims(jobid,routerid,host,pid,pidstart,claimtime,heartbeat) "
                "VALUES(7,3,'h',11,12,13,14)");
        db.exec(migration());  // on a database that has the table: nothing changes
        EXPECT_EQ(db.count("tarvo_claims", "jobid=7 AND routerid=3 AND heartbeat=14"), 1);
        EXPECT_EQ(createStatement(db), created);

        db.exec("DROP TABLE tarvo_claims");
        db.exec(migration());  // an older database: the same table as the schema's
        EXPECT_EQ(createStatement(db), created);
    }
}

TEST(ClaimSchema, OneRowPerJobAndOneRunningJobPerRouter) {
    TestDatabase db;
    db.exec("INSERT INTO tarvo_claims(jobid,routerid,host) VALUES(1,NULL,'a'),(2,NULL,'b'),(3,9,'c')");
    EXPECT_NE(db.tryExec("INSERT INTO tarvo_claims(jobid,host) VALUES(1,'d')"), "");
    EXPECT_NE(db.tryExec("UPDATE tarvo_claims SET routerid=9 WHERE jobid=1"), "");
    EXPECT_EQ(db.tryExec("UPDATE tarvo_claims SET routerid=8 WHERE jobid=1"), "");
}
