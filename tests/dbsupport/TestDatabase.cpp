#include "tests/dbsupport/TestDatabase.h"

#include <gtest/gtest.h>
#include <mysql.h>

#include <cctype>
#include <fstream>
#include <functional>
#include <stdexcept>

namespace testdb {

namespace {
std::string fixtureHint() {
    return " (database tests need the private server: run them through ctest, whose fixture \"mariadb\" "
           "starts it, or run tests/dbsupport/mariadb-fixture.sh start " TARVO_TEST_MARIADB_DIR " first)";
}

std::string sanitize(const std::string& text) {
    std::string out;
    for (char c : text) out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return out;
}

// Database names hold at most 64 characters; longer test names keep their
// beginning and a hash of the whole.
std::string databaseNameForTest(const std::string& tag) {
    std::string name = "t";
    if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info())
        name += std::string("_") + info->test_suite_name() + "_" + info->name();
    if (!tag.empty()) name += "_" + tag;
    name = sanitize(name);
    if (name.size() > 64) {
        char hash[17];
        snprintf(hash, sizeof hash, "%016zx", std::hash<std::string>()(name));
        name = name.substr(0, 47) + "_" + hash;
    }
    return name;
}

std::string sourceFile(const std::string& relative) {
    std::string path = std::string(TARVO_SOURCE_DIR) + "/" + relative;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return testsupport::readFile(path);
}
}  // namespace

ServerFacts readFacts(const std::string& dir) {
    std::ifstream in(dir + "/server.env");
    if (!in) throw std::runtime_error("no MariaDB server facts in " + dir + "/server.env" + fixtureHint());
    ServerFacts facts;
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "host") facts.host = value;
        if (key == "port") facts.port = std::stoi(value);
        if (key == "socket") facts.socket = value;
        if (key == "pid") facts.pid = std::stoi(value);
        if (key == "user") facts.user = value;
        if (key == "password") facts.password = value;
    }
    if (facts.port == 0 || facts.user.empty())
        throw std::runtime_error("incomplete MariaDB server facts in " + dir + "/server.env");
    return facts;
}

ServerFacts sharedServer() {
    return readFacts(TARVO_TEST_MARIADB_DIR);
}

// The admin connection of a TestDatabase: one MYSQL handle, closed at the end.
class TestDatabase::Connection {
public:
    explicit Connection(const ServerFacts& server) : mysql(mysql_init(nullptr)) {
        if (!mysql) throw std::runtime_error("mysql_init failed");
        mysql_options(mysql, MYSQL_SET_CHARSET_NAME, "latin1");
        unsigned timeout = 10;
        mysql_options(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
        // A test may restart its private server; the admin connection follows.
        my_bool reconnect = 1;
        mysql_options(mysql, MYSQL_OPT_RECONNECT, &reconnect);
        if (!mysql_real_connect(mysql, server.host.c_str(), server.user.c_str(), server.password.c_str(), nullptr,
                                static_cast<unsigned>(server.port), nullptr, CLIENT_MULTI_STATEMENTS)) {
            std::string error = mysql_error(mysql);
            mysql_close(mysql);
            throw std::runtime_error("cannot connect to the test MariaDB server at " + server.serverSetting() + ": " +
                                     error + fixtureHint());
        }
    }
    ~Connection() { mysql_close(mysql); }
    std::string use(const std::string& database) {
        return mysql_select_db(mysql, database.c_str()) == 0 ? std::string() : mysql_error(mysql);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Runs every statement of sql and collects the rows of the last result.
    std::string run(const std::string& sql, std::vector<Row>* rows) {
        if (mysql_real_query(mysql, sql.data(), sql.size()) != 0) return mysql_error(mysql);
        std::string error;
        for (;;) {
            MYSQL_RES* result = mysql_store_result(mysql);
            if (result) {
                if (rows) collect(result, *rows);
                mysql_free_result(result);
            } else if (mysql_field_count(mysql) != 0) {
                error = mysql_error(mysql);
            }
            int next = mysql_next_result(mysql);
            if (next > 0) return mysql_error(mysql);
            if (next < 0) return error;
        }
    }

private:
    static void collect(MYSQL_RES* result, std::vector<Row>& rows) {
        rows.clear();
        unsigned fields = mysql_num_fields(result);
        while (MYSQL_ROW row = mysql_fetch_row(result)) {
            unsigned long* lengths = mysql_fetch_lengths(result);
            Row values;
            for (unsigned i = 0; i < fields; ++i)
                values.push_back(row[i] ? std::optional<std::string>(std::string(row[i], lengths[i])) : std::nullopt);
            rows.push_back(std::move(values));
        }
    }

    MYSQL* mysql;
};

TestDatabase::TestDatabase(Schema schema, const std::string& tag) : TestDatabase(sharedServer(), schema, tag) {}

TestDatabase::TestDatabase(const ServerFacts& server, Schema schema, const std::string& tag)
    : server_(server), name_(databaseNameForTest(tag)), admin_(new Connection(server)) {
    try {
        // A database left behind by a crashed run of the same test goes first.
        exec("DROP DATABASE IF EXISTS `" + name_ + "`; CREATE DATABASE `" + name_ + "`");
        std::string error = admin_->use(name_);
        if (!error.empty()) throw std::runtime_error("cannot use database " + name_ + ": " + error);
        exec(sourceFile("db/schema.sql"));
        if (schema == Schema::WithoutOptionalRouterColumns)
            exec(sourceFile("db/schema-without-optional-router-columns.sql"));
    } catch (...) {
        delete admin_;
        throw;
    }
}

TestDatabase::~TestDatabase() {
    admin_->run("DROP DATABASE IF EXISTS `" + name_ + "`", nullptr);
    for (const auto& user : users_) admin_->run("DROP USER IF EXISTS " + user, nullptr);
    delete admin_;
}

void TestDatabase::exec(const std::string& sql) {
    std::string error = tryExec(sql);
    if (!error.empty()) throw std::runtime_error("SQL failed: " + error + "\n  in: " + sql.substr(0, 400));
}

std::string TestDatabase::tryExec(const std::string& sql) {
    return admin_->run(sql, nullptr);
}

std::vector<Row> TestDatabase::rows(const std::string& sql) {
    std::vector<Row> result;
    std::string error = admin_->run(sql, &result);
    if (!error.empty()) throw std::runtime_error("SQL failed: " + error + "\n  in: " + sql.substr(0, 400));
    return result;
}

std::string TestDatabase::value(const std::string& sql) {
    auto result = rows(sql);
    if (result.empty() || result[0].empty() || !result[0][0])
        throw std::runtime_error("no value from: " + sql.substr(0, 400));
    return *result[0][0];
}

long long TestDatabase::count(const std::string& table, const std::string& where) {
    return std::stoll(value("SELECT COUNT(*) FROM " + table + " WHERE " + where));
}

std::vector<std::string> TestDatabase::columns(const std::string& table) {
    std::vector<std::string> names;
    for (const auto& row : rows("SHOW COLUMNS FROM " + table)) names.push_back(row[0].value_or(""));
    return names;
}

void TestDatabase::createUser(const std::string& user, const std::string& password, const std::string& grants) {
    std::string account = quote(user) + "@'%'";
    exec("DROP USER IF EXISTS " + account + "; CREATE USER " + account + " IDENTIFIED BY " + quote(password));
    users_.push_back(account);
    size_t on = grants.find(" ON ");
    std::string privileges = on == std::string::npos ? grants : grants.substr(0, on);
    std::string object = on == std::string::npos ? "*" : grants.substr(on + 4);
    exec("GRANT " + privileges + " ON `" + name_ + "`." + object + " TO " + account);
}

std::string TestDatabase::quote(const std::string& text) {
    std::string escaped(text.size() * 2 + 1, '\0');
    unsigned long n = mysql_escape_string(&escaped[0], text.data(), text.size());
    return "'" + escaped.substr(0, n) + "'";
}

PrivateServer::PrivateServer() : dir_("mariadb") {
    runScript("start");
    running_ = true;
    facts_ = readFacts(dir_.path());
}

PrivateServer::~PrivateServer() {
    try {
        if (running_) runScript("stop");
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
    }
}

void PrivateServer::restart() {
    runScript("restart");
    running_ = true;
    facts_ = readFacts(dir_.path());
}

void PrivateServer::stop() {
    runScript("stop");
    running_ = false;
}

void PrivateServer::halt() {
    runScript("halt");
    running_ = false;
}

void PrivateServer::runScript(const std::string& action) {
    auto run = testsupport::runProcess({TARVO_MARIADB_FIXTURE, action, dir_.path()}, 120);
    if (run.exitCode != 0)
        throw std::runtime_error("mariadb-fixture.sh " + action + " failed (" + std::to_string(run.exitCode) +
                                 "): " + run.err);
}

}  // namespace testdb
