#pragma once
#include <optional>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

// Databases for tests, on a real private MariaDB server.
//
// The shared server: ctest starts one mariadbd for the whole run as the
// fixture "mariadb" (tests/dbsupport/mariadb-fixture.sh start
// BUILD/test-mariadb) and stops it at the end. A test that uses it lists
// `FIXTURES mariadb` in tarvo_add_gtest and links tarvo_testdb. Without
// the fixture (the facts file BUILD/test-mariadb/server.env is missing or
// the server does not answer) every helper here throws, so the test fails
// loudly instead of passing without a server.
//
// A TestDatabase is one fresh database named after the running test,
// created from db/schema.sql (optionally without the optional router
// columns) and dropped again when the object goes. host() ("127.0.0.1:PORT"),
// user(), password() and name() are what a settings file holds ("server",
// "dbuser", "dbpass", "dbname"). exec(), rows() and value() run SQL over
// an own admin connection (latin1, multi-statement) to set up and inspect.
//
// A PrivateServer is a mariadbd of the test's own (for stopping or
// restarting it) that leaves the shared one alone.
namespace testdb {

struct ServerFacts {
    std::string host = "127.0.0.1";
    int port = 0;
    std::string socket;
    std::string user;  // an account with every privilege, WITH GRANT OPTION
    std::string password;
    int pid = 0;  // the server process (to stop it with SIGSTOP)
    // The "server" setting of the settings file: "127.0.0.1:PORT".
    std::string serverSetting() const { return host + ":" + std::to_string(port); }
};

// The facts a fixture script wrote into dir/server.env; throws when absent.
ServerFacts readFacts(const std::string& dir);
// The shared server of the ctest fixture "mariadb"; throws when absent.
ServerFacts sharedServer();

enum class Schema { Full, WithoutOptionalRouterColumns };

// One row of a result: std::nullopt for SQL NULL.
using Row = std::vector<std::optional<std::string>>;

class TestDatabase {
public:
    explicit TestDatabase(Schema schema = Schema::Full, const std::string& tag = "");
    TestDatabase(const ServerFacts& server, Schema schema = Schema::Full, const std::string& tag = "");
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    std::string host() const { return server_.serverSetting(); }
    const std::string& user() const { return server_.user; }
    const std::string& password() const { return server_.password; }
    const std::string& name() const { return name_; }
    const ServerFacts& server() const { return server_; }

    // Runs one or more statements in this database; throws on an error.
    void exec(const std::string& sql);
    // The same, returning the server's message instead ("" on success).
    std::string tryExec(const std::string& sql);
    // Every row of one SELECT; throws on an error.
    std::vector<Row> rows(const std::string& sql);
    // First column of the first row; throws when there is no row or it is NULL.
    std::string value(const std::string& sql);
    long long count(const std::string& table, const std::string& where = "1");
    // Column names of a table in their physical order.
    std::vector<std::string> columns(const std::string& table);
    // An account on this database with only the given privileges (for
    // example "SELECT, INSERT ON cordal_configs"); dropped with the database.
    void createUser(const std::string& user, const std::string& password, const std::string& grants);

    // text as a quoted SQL literal, every byte escaped.
    static std::string quote(const std::string& text);

private:
    class Connection;
    ServerFacts server_;
    std::string name_;
    std::vector<std::string> users_;
    Connection* admin_;
};

class PrivateServer {
public:
    PrivateServer();   // starts a mariadbd in a folder named after the running test
    ~PrivateServer();  // stops it and removes its data
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;

    const ServerFacts& facts() const { return facts_; }
    void restart();  // shuts the server down and starts it again: same port, same data
    void stop();     // kills it and removes its data; the port is then free (nothing listens)
    void halt();     // shuts it down and keeps its data; restart() brings it back

private:
    void runScript(const std::string& action);
    testsupport::TempDir dir_;
    ServerFacts facts_;
    bool running_ = false;
};

}  // namespace testdb
