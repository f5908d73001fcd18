#include "db/Database.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/logEngine.h"

namespace {
// The server setting keeps at most 511 characters and is cut at ":" into
// at most five fields: host name, port, and three that are not used.
void splitServerSetting(const std::string& setting, std::string& host, int& port) {
    std::string text = setting.substr(0, 511);
    std::string fields[5];
    size_t field = 0, start = 0;
    while (field < 5) {
        size_t colon = text.find(':', start);
        fields[field++] = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    host = fields[0];
    port = fields[1].empty() ? 0 : static_cast<int>(strtol(fields[1].c_str(), nullptr, 10));
}
}  // namespace

Database::Database(const std::string& hostSetting, const std::string& dbUser, const std::string& dbPassword,
                   const std::string& dbName, logEngine* logger)
    : log(logger), user(dbUser), password(dbPassword), dbname(dbName) {
    splitServerSetting(hostSetting, host, port);
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
    va_list args;
    va_start(args, format);
    log->addLineV(logEngine::DBG, format, args);
    va_end(args);
}

bool Database::open(OPENDB* odb) {
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
    if (!mysql_real_connect(&odb->mysql, host.c_str(), user.c_str(), password.c_str(), dbname.c_str(),
                            static_cast<unsigned>(port), nullptr, 0)) {
        debug("mysql_real_connect(%s,%s,%s,%s,%d,NULL,0) failed - list size %d.", host.c_str(), user.c_str(),
              password.c_str(), dbname.c_str(), port, static_cast<int>(connections.size()));
        if (log) log->addLine(logEngine::DB, "connecting to the database failed: %s", mysql_error(&odb->mysql));
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
