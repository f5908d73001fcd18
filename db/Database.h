#pragma once
#include <list>
#include <memory>
#include <string>

#include <mysql.h>

class logEngine;

// Database holds the connection parameters of one MariaDB/MySQL server and
// a pool of client connections to it. It never connects by itself: a Query
// (or Connected) borrows a connection with grabdb and gives it back with
// freedb; a free pooled connection is reused, otherwise a new one is opened.
// Connections stay open until the Database is destroyed, which must happen
// after every Query that borrowed one. The client reads the option group
// "opsbase" of its option files and talks latin1, so every byte of a text
// reaches the server and comes back unchanged.
class Database {
public:
    // One pooled client connection; busy while a Query holds it.
    struct OPENDB {
        MYSQL mysql;
        bool busy = false;
    };

    // host is "name" or "name:port" (port 0 lets the client library choose).
    // log is not owned and may be null.
    Database(const std::string& host, const std::string& user, const std::string& password, const std::string& dbname,
             logEngine* log);
    virtual ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // A free (pinged) or newly opened connection, marked busy; null on failure.
    OPENDB* grabdb();
    // Marks the connection free again; null is ignored.
    void freedb(OPENDB* odb);
    // Called after mysql_init and before connecting; the base version asks
    // the client to read the option group "opsbase". Returns mysql_options'
    // result. A subclass may set further client options here.
    virtual int OnMyInit(OPENDB* odb);
    // Whether a connection can be had and answers a ping.
    bool Connected();

    logEngine* GetLog() const { return log; }
    const std::string& GetHost() const { return host; }
    int GetPort() const { return port; }
    size_t PoolSize() const { return connections.size(); }

private:
    void debug(const char* format, ...) __attribute__((format(printf, 2, 3)));

    logEngine* log;
    std::string host;
    std::string user;
    std::string password;
    std::string dbname;
    int port = 0;
    std::list<std::unique_ptr<OPENDB>> connections;
};
