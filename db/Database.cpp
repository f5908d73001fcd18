#include "db/Database.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/logEngine.h"

namespace {
// One server entry keeps at most 511 characters and is cut at ":" into at
// most five fields: host name, port, and three that are not used.
Database::Server splitServerEntry(const std::string& entry) {
    std::string text = entry.substr(0, 511);
    std::string fields[5];
    size_t field = 0, start = 0;
    while (field < 5) {
        size_t colon = text.find(':', start);
        fields[field++] = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    Database::Server server;
    server.host = fields[0];
    server.port = fields[1].empty() ? 0 : static_cast<int>(strtol(fields[1].c_str(), nullptr, 10));
    return server;
}

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}
}  // namespace

std::vector<Database::Server> Database::parseServers(const std::string& setting) {
    std::vector<Server> servers;
    size_t start = 0;
    for (;;) {
        size_t comma = setting.find(',', start);
        std::string entry = trimmed(setting.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        // An empty entry ("a,,b", a trailing comma) names no server; a
        // setting without any entry still names the client's default one.
        if (!entry.empty()) servers.push_back(splitServerEntry(entry));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (servers.empty()) servers.push_back(splitServerEntry(""));
    return servers;
}

Database::Database(const std::string& hostSetting, const std::string& dbUser, const std::string& dbPassword,
                   const std::string& dbName, logEngine* logger)
    : log(logger),
      user(dbUser),
      password(dbPassword),
      dbname(dbName),
      serverSetting(hostSetting),
      servers(parseServers(hostSetting)) {
    host = servers.front().host;
    port = servers.front().port;
}

Database::~Database() {
    for (auto& odb : connections)
        if (odb->open) mysql_close(&odb->mysql);
    for (auto& odb : connections)
        if (odb->busy) debug("Destroying database object before query object");
    connections.clear();
}

void Database::debug(const char* format, ...) {
    if (!log) return;
    char buffer[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    log->add(logEngine::DBG, buffer);
}

bool Database::open(OPENDB* odb) {
    // The servers are tried in the order the setting lists them, every
    // time: the first one that answers takes the connection, so a job
    // whose node has gone goes on through the next one.
    for (const Server& server : servers) {
        if (openOn(odb, server)) {
            host = server.host;
            port = server.port;
            return true;
        }
    }
    return false;
}

bool Database::openOn(OPENDB* odb, const Server& server) {
    if (!mysql_init(&odb->mysql)) {
        debug("mysql_init() failed - list size %d.", static_cast<int>(connections.size()));
        return false;
    }
    // latin1 maps every byte to itself, so no text changes on its way.
    mysql_options(&odb->mysql, MYSQL_SET_CHARSET_NAME, "latin1");
    // A server that stops answering (frozen, or its host gone) must end the
    // statement instead of holding the job for ever.
    const unsigned connectSeconds = kConnectTimeoutSeconds, readSeconds = kReadTimeoutSeconds,
                   writeSeconds = kWriteTimeoutSeconds;
    mysql_options(&odb->mysql, MYSQL_OPT_CONNECT_TIMEOUT, &connectSeconds);
    mysql_options(&odb->mysql, MYSQL_OPT_READ_TIMEOUT, &readSeconds);
    mysql_options(&odb->mysql, MYSQL_OPT_WRITE_TIMEOUT, &writeSeconds);
    OnMyInit(odb);
    if (!mysql_real_connect(&odb->mysql, server.host.c_str(), user.c_str(), password.c_str(), dbname.c_str(),
                            static_cast<unsigned>(server.port), nullptr, 0)) {
        debug("mysql_real_connect(%s,%s,%s,%s,%d,NULL,0) failed - list size %d.", server.host.c_str(), user.c_str(),
              password.c_str(), dbname.c_str(), server.port, static_cast<int>(connections.size()));
        if (log)
            log->addLine(logEngine::DB, "connecting to the database failed: %s (server %s:%d)", mysql_error(&odb->mysql),
                         server.host.c_str(), server.port);
        mysql_close(&odb->mysql);
        return false;
    }
    odb->open = true;
    return true;
}

Database::OPENDB* Database::grabdb() {
    for (auto& odb : connections) {
        if (odb->busy) continue;
        // A connection the server has dropped (a restarted server, a server
        // that timed it out) is opened again once, with the same options,
        // so that the statement reaches the server that is back.
        if (!odb->open || mysql_ping(&odb->mysql) != 0) {
            if (odb->open) {
                if (log)
                    log->addLine(logEngine::DB, "pooled connection lost (%s); reconnecting.", mysql_error(&odb->mysql));
                mysql_close(&odb->mysql);
                odb->open = false;
            }
            if (!open(odb.get())) return nullptr;
            if (log) log->add(logEngine::DB, "reconnected to the database.");
        }
        odb->busy = true;
        return odb.get();
    }
    auto odb = std::make_unique<OPENDB>();
    if (!open(odb.get())) return nullptr;
    odb->busy = true;
    connections.push_back(std::move(odb));
    return connections.back().get();
}

std::unique_ptr<Database> Database::sibling(logEngine* siblingLog) const {
    return std::make_unique<Database>(serverSetting, user, password, dbname, siblingLog);
}

void Database::freedb(OPENDB* odb) {
    if (odb) odb->busy = false;
}

int Database::OnMyInit(OPENDB* odb) {
    return mysql_options(&odb->mysql, MYSQL_READ_DEFAULT_GROUP, "opsbase");
}

bool Database::Connected() {
    OPENDB* odb = grabdb();
    if (!odb) return false;
    bool alive = mysql_ping(&odb->mysql) == 0;
    if (!alive) debug("mysql_ping() failed");
    freedb(odb);
    return alive;
}
