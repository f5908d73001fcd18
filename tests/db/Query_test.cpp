#include "db/Query.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "db/Database.h"
#include "tests/db/DbTestHelpers.h"
#include "tests/dbsupport/TestDatabase.h"
#include "util/logEngine.h"

using dbtest::hasLine;
using dbtest::inOrdinaryLog;
using testdb::TestDatabase;

namespace {

class QueryTest : public ::testing::Test {
protected:
    TestDatabase tdb;
    logEngine log{true};
    Database db{tdb.host(), tdb.user(), tdb.password(), tdb.name(), &log};

    void SetUp() override {
        tdb.exec("CREATE TABLE t (id INT PRIMARY KEY, a BLOB, b BIGINT, c BIGINT UNSIGNED, d DOUBLE)");
        tdb.exec("INSERT INTO t VALUES (1, 'one', -42, 18446744073709551615, 2.5), (2, NULL, NULL, NULL, NULL)");
    }
};

std::string connectionId(Query& q) {
    return q.get_string("SELECT CONNECTION_ID()");
}

}  // namespace

TEST_F(QueryTest, ServerSettingSplitsHostAndPort) {
    EXPECT_EQ(db.GetHost(), "127.0.0.1");
    EXPECT_EQ(db.GetPort(), tdb.server().port);
    EXPECT_TRUE(db.Connected());

    Database hostOnly("db.example", "u", "p", "n", nullptr);
    EXPECT_EQ(hostOnly.GetHost(), "db.example");
    EXPECT_EQ(hostOnly.GetPort(), 0);
    Database emptyPort("h:", "u", "p", "n", nullptr);
    EXPECT_EQ(emptyPort.GetPort(), 0);
    Database extraFields("h:3307:x:y:z:w:v", "u", "p", "n", nullptr);
    EXPECT_EQ(extraFields.GetHost(), "h");
    EXPECT_EQ(extraFields.GetPort(), 3307);
    Database longHost(std::string(600, 'h') + ":3307", "u", "p", "n", nullptr);
    EXPECT_EQ(longHost.GetHost(), std::string(511, 'h'));
    EXPECT_EQ(longHost.GetPort(), 0);
}

TEST_F(QueryTest, PoolHandsNestedQueriesTheirOwnConnectionsAndReusesThem) {
    std::string first, second;
    {
        Query outer(db);
        first = connectionId(outer);
        Query inner(db);
        second = connectionId(inner);
        EXPECT_NE(first, second);
        EXPECT_EQ(db.PoolSize(), 2u);
    }
    Query again(db);
    EXPECT_EQ(connectionId(again), first);
    EXPECT_EQ(db.PoolSize(), 2u);
    EXPECT_TRUE(again.Connected());
}

TEST_F(QueryTest, BusyQueryRefusesFurtherStatements) {
    {
        Query q(db);
        ASSERT_NE(q.get_result("SELECT id FROM t ORDER BY id"), nullptr);
        EXPECT_EQ(q.num_rows(), 2);
        EXPECT_FALSE(q.execute("INSERT INTO t (id) VALUES (3)"));
        EXPECT_TRUE(hasLine(log, "DB  - execute: query busy"));
        EXPECT_EQ(q.GetLastQuery(), "INSERT INTO t (id) VALUES (3)");
        // The held result is neither run over nor consumed by a one-value statement.
        EXPECT_STREQ(q.get_string("SELECT 'other'"), "");
        EXPECT_TRUE(hasLine(log, "DB  - get_result: query busy"));
        EXPECT_FALSE(q.get_result_map("SELECT * FROM t"));
        ASSERT_NE(q.fetch_row(), nullptr);
        EXPECT_EQ(q.getval(0), 1);
        ASSERT_NE(q.fetch_row(), nullptr);
        EXPECT_EQ(q.getval(0), 2);
        EXPECT_EQ(q.fetch_row(), nullptr);
    }
    EXPECT_TRUE(hasLine(log, "DB  - mysql_free_result in destructor"));
    EXPECT_EQ(tdb.count("t"), 2);
    EXPECT_EQ(tdb.count("t", "id=3"), 0);

    // After free_result the query works again.
    Query q(db);
    q.get_result("SELECT 1");
    q.free_result();
    EXPECT_TRUE(q.execute("INSERT INTO t (id) VALUES (3)"));
    EXPECT_EQ(tdb.count("t", "id=3"), 1);
}

TEST_F(QueryTest, GettersReadNumbersTextsAndNulls) {
    Query q(db);
    ASSERT_NE(q.get_result("SELECT a, b, c, d, id FROM t ORDER BY id"), nullptr);
    // No row fetched yet: every getter answers empty.
    EXPECT_EQ(q.getstr(0), nullptr);
    EXPECT_FALSE(q.is_null(0));
    EXPECT_EQ(q.getval(1), 0);
    ASSERT_NE(q.fetch_row(), nullptr);
    EXPECT_STREQ(q.getstr(0), "one");
    EXPECT_EQ(q.getval(1), -42);
    EXPECT_EQ(q.getbigint(1), -42);
    EXPECT_EQ(q.getubigint(2), 18446744073709551615ull);
    EXPECT_EQ(q.getuval(2), 0xFFFFFFFFul);  // kept to 32 bits
    EXPECT_DOUBLE_EQ(q.getnum(3), 2.5);
    EXPECT_EQ(q.getstr(5), nullptr);  // beyond the last column
    EXPECT_EQ(q.getstr(-1), nullptr);
    // The cursor getters walk the columns and restart with every row.
    EXPECT_STREQ(q.getstr(), "one");
    EXPECT_EQ(q.getbigint(), -42);
    EXPECT_EQ(q.getubigint(), 18446744073709551615ull);
    EXPECT_DOUBLE_EQ(q.getnum(), 2.5);
    EXPECT_EQ(q.getuval(), 1ul);
    ASSERT_NE(q.fetch_row(), nullptr);
    EXPECT_STREQ(q.getstr(), "");
    EXPECT_TRUE(q.is_null(0));
    EXPECT_EQ(q.getval(), 0);
    EXPECT_EQ(q.getubigint(), 0ull);
    EXPECT_DOUBLE_EQ(q.getnum(), 0);
    EXPECT_EQ(q.getuval(), 2ul);
    EXPECT_FALSE(q.is_null(4));
    q.free_result();

    EXPECT_EQ(q.get_count("SELECT COUNT(*) FROM t"), 2);
    EXPECT_EQ(q.get_count("SELECT id FROM t WHERE id=99"), 0);
    EXPECT_EQ(q.get_count("SELECT b FROM t WHERE id=2"), 0);
    EXPECT_DOUBLE_EQ(q.get_num("SELECT d FROM t WHERE id=1"), 2.5);
    EXPECT_STREQ(q.get_string("SELECT a FROM t WHERE id=2"), "");
    EXPECT_STREQ(q.get_string("SELECT a FROM t WHERE id=99"), "");

    EXPECT_EQ(Query::a2bigint("-9223372036854775807"), -9223372036854775807ll);
    EXPECT_EQ(Query::a2bigint(""), 0);
    EXPECT_EQ(Query::a2bigint("-"), 0);
    EXPECT_EQ(Query::a2ubigint("18446744073709551615"), 18446744073709551615ull);
    EXPECT_EQ(Query::a2ubigint(""), 0u);
}

TEST_F(QueryTest, ResultMapByName) {
    Query q(db);
    ASSERT_TRUE(q.get_result_map("SELECT id, a, b AS a, c FROM t WHERE id=1"));
    EXPECT_EQ(q.get_field_value("a"), "one");  // the first of two equal names wins
    EXPECT_EQ(q.get_field_value_as_int("id"), 1);
    EXPECT_EQ(q.get_field_value_as_long("id"), 1);
    EXPECT_EQ(q.get_field_value_as_ulong("c"), 0xFFFFFFFFul);
    EXPECT_TRUE(q.get_field_exists("c"));
    EXPECT_FALSE(q.get_field_exists("d"));
    EXPECT_THROW(q.get_field_value_as_long("d"), std::logic_error);

    EXPECT_FALSE(q.get_result_map("SELECT * FROM t WHERE id=99"));
    EXPECT_FALSE(q.get_field_exists("id"));
    try {
        q.get_field_value("id");
        FAIL() << "no exception";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Value not found!");
    }
    // A NULL column is present with empty text.
    ASSERT_TRUE(q.get_result_map("SELECT a FROM t WHERE id=2"));
    EXPECT_EQ(q.get_field_value("a"), "");
}

TEST_F(QueryTest, EscapedTextsReachTheServerUnchanged) {
    const std::string hostile = dbtest::hostileText() + std::string("\0tail", 5);
    Query q(db);
    ASSERT_TRUE(q.execute("INSERT INTO t (id, a) VALUES (10, '" + Query::safestr(hostile) + "')"));
    EXPECT_EQ(tdb.value("SELECT a FROM t WHERE id=10"), hostile);
    ASSERT_NE(q.get_result("SELECT a FROM t WHERE id=10"), nullptr);
    ASSERT_NE(q.fetch_row(), nullptr);
    EXPECT_EQ(q.getstring(0), hostile);
    q.free_result();
    ASSERT_TRUE(q.get_result_map("SELECT a FROM t WHERE id=10"));
    EXPECT_EQ(q.get_field_value("a"), hostile);

    // A table of a management system that stores latin1 text: the client
    // talks latin1, so no byte is refused or converted on the way.
    tdb.exec("CREATE TABLE latin (a TEXT CHARACTER SET latin1 COLLATE latin1_swedish_ci)");
    ASSERT_TRUE(q.execute("INSERT INTO latin VALUES ('" + Query::safestr(dbtest::hostileText()) + "')"));
    EXPECT_EQ(std::string(q.get_string("SELECT a FROM latin")), dbtest::hostileText());
    EXPECT_EQ(tdb.value("SELECT HEX(a) FROM latin"),
              tdb.value("SELECT HEX(" + TestDatabase::quote(dbtest::hostileText()) + ")"));

    EXPECT_EQ(Query::safestr("a'b\\c\nd\re\"f"), "a\\'b\\\\c\\nd\\re\\\"f");
    EXPECT_EQ(Query::safestr(std::string("\0\x1a", 2)), "\\0\\Z");
    EXPECT_EQ(Query::unsafestr("O\\'Brien"), "O'Brien");
    EXPECT_EQ(Query::unsafestr("a\\\\b"), "a\\b");
    EXPECT_EQ(Query::unsafestr("end\\"), "end");
    EXPECT_EQ(Query::unsafestr(Query::safestr("x'y\\z")), "x'y\\z");
    EXPECT_EQ(Query::xmlsafestr("<a href=\"x\">Tom & 'Jerry'</a>\n&amp;"),
              "&lt;a href=&quot;x&quot;&gt;Tom &amp; &apos;Jerry&apos;&lt;/a&gt;\n&amp;amp;");
    EXPECT_EQ(Query::xmlsafestr("\x01\xff\t"), "\x01\xff\t");
}

TEST_F(QueryTest, FailedStatementIsLoggedWithTheServerMessageAndNoSecrets) {
    Query q(db);
    EXPECT_FALSE(q.execute("UPDATE no_such_table SET pass='s3cret-\\'pw' WHERE id=1"));
    EXPECT_EQ(q.GetErrno(), 1146u);  // ER_NO_SUCH_TABLE
    EXPECT_NE(q.GetError().find("no_such_table"), std::string::npos);
    EXPECT_TRUE(hasLine(log, "DB  - query failed: UPDATE no_such_table SET pass='***' WHERE id=1"));
    EXPECT_TRUE(hasLine(log, "DB  - server said (1146): Table '" + tdb.name() + ".no_such_table' doesn't exist"));
    EXPECT_FALSE(inOrdinaryLog(log, "s3cret"));
    EXPECT_TRUE(hasLine(log, "DBG - query failed: UPDATE no_such_table SET pass='s3cret-\\'pw'"));
    // A failed statement leaves no result and the query usable.
    EXPECT_EQ(q.get_result("SELECT nonsense FROM t"), nullptr);
    EXPECT_EQ(q.fetch_row(), nullptr);
    EXPECT_EQ(q.num_rows(), 0);
    EXPECT_EQ(q.get_count("SELECT COUNT(*) FROM t"), 2);

    EXPECT_EQ(Query::maskLiterals("a='x' AND b=\"y\" AND c='' AND d='it''s' AND e='\\\\' AND f=3"),
              "a='***' AND b=\"***\" AND c='' AND d='***' AND e='***' AND f=3");
    EXPECT_EQ(Query::maskLiterals("unterminated='abc"), "unterminated='***");
}

TEST_F(QueryTest, ExecuteOfASelectKeepsTheConnectionInStep) {
    Query q(db);
    EXPECT_TRUE(q.execute("SELECT * FROM t"));
    EXPECT_EQ(q.get_count("SELECT COUNT(*) FROM t"), 2);
    Query withStatement(db, "INSERT INTO t (id) VALUES (7)");
    EXPECT_EQ(withStatement.GetLastQuery(), "INSERT INTO t (id) VALUES (7)");
    EXPECT_EQ(tdb.count("t", "id=7"), 1);
    Query insertId(db);
    insertId.execute("CREATE TABLE auto (id INT AUTO_INCREMENT PRIMARY KEY, x INT)");
    insertId.execute("INSERT INTO auto (x) VALUES (1), (2)");
    insertId.execute("INSERT INTO auto (x) VALUES (3)");
    EXPECT_EQ(insertId.insert_id(), 3u);
}

TEST(QueryWithoutServer, EverythingAnswersEmptyAndNothingCrashes) {
    // Nothing listens on port 1 of the loopback address.
    logEngine log(true);
    Database db("127.0.0.1:1", "tarvo", "db-secret", "tarvo", &log);
    EXPECT_FALSE(db.Connected());
    EXPECT_TRUE(
        hasLine(log, "DBG - mysql_real_connect(127.0.0.1,tarvo,db-secret,tarvo,1,NULL,0) failed - list size 0."));
    EXPECT_TRUE(hasLine(log, "DB  - connecting to the database failed: "));
    EXPECT_FALSE(inOrdinaryLog(log, "db-secret"));
    EXPECT_EQ(db.PoolSize(), 0u);

    Query q(db);
    EXPECT_FALSE(q.execute("SELECT 1"));
    EXPECT_EQ(q.get_result("SELECT 1"), nullptr);
    EXPECT_EQ(q.fetch_row(), nullptr);
    EXPECT_STREQ(q.get_string("SELECT 1"), "");
    EXPECT_EQ(q.get_count("SELECT 1"), 0);
    EXPECT_FALSE(q.get_result_map("SELECT 1"));
    EXPECT_EQ(q.insert_id(), 0u);
    EXPECT_EQ(q.GetErrno(), 0u);
    EXPECT_FALSE(q.Connected());

    Query noDatabase(static_cast<Database*>(nullptr), "SELECT 1");
    EXPECT_EQ(noDatabase.GetDatabase(), nullptr);
    EXPECT_FALSE(noDatabase.execute("SELECT 1"));
}

TEST(QueryWithoutServer, WrongPasswordIsRefusedWithoutLoggingIt) {
    TestDatabase tdb;
    logEngine log(false);
    Database db(tdb.host(), tdb.user(), "wrong-password", tdb.name(), &log);
    EXPECT_FALSE(db.Connected());
    EXPECT_TRUE(hasLine(log, "DB  - connecting to the database failed: Access denied"));
    EXPECT_FALSE(hasLine(log, "wrong-password"));
}

TEST(QueryServerRestart, PooledConnectionIsReopenedOnceAfterARestart) {
    testdb::PrivateServer server;
    TestDatabase tdb(server.facts());
    tdb.exec("CREATE TABLE t (id INT, name BLOB); INSERT INTO t VALUES (1, '')");
    logEngine log(true);
    Database db(tdb.host(), tdb.user(), tdb.password(), tdb.name(), &log);
    {
        Query q(db);
        EXPECT_EQ(q.get_count("SELECT COUNT(*) FROM t"), 1);
    }
    server.restart();
    {
        // The pooled connection failed its ping and was opened again, with
        // the same character set: a latin1 byte comes back unchanged.
        Query q(db);
        EXPECT_EQ(q.get_count("SELECT COUNT(*) FROM t"), 1);
        EXPECT_TRUE(hasLine(log, "DB  - pooled connection lost ("));
        EXPECT_TRUE(hasLine(log, "DB  - reconnected to the database."));
        EXPECT_TRUE(q.execute("INSERT INTO t VALUES (2, '\xe9')"));
        EXPECT_EQ(std::string(q.get_string("SELECT @@character_set_client")), "latin1");
    }
    EXPECT_EQ(db.PoolSize(), 1u);
    EXPECT_EQ(tdb.count("t"), 2);
    EXPECT_EQ(tdb.value("SELECT HEX(name) FROM t WHERE id=2"), "E9");

    // A server that stays down: the statement fails, the next one tries again.
    server.stop();
    {
        Query q(db);
        EXPECT_FALSE(q.execute("INSERT INTO t VALUES (3, '')"));
        EXPECT_FALSE(q.Connected());
    }
    EXPECT_TRUE(hasLine(log, "DB  - connecting to the database failed: "));
    EXPECT_EQ(db.PoolSize(), 1u);
}
