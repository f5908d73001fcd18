#pragma once
#include <list>
#include <memory>
#include <string>
#include <vector>

#include <mysql.h>

class logEngine;

// Database holds the connection parameters of one MariaDB/MySQL server and
// a pool of client connections to it. It never connects by itself: a Query
// (or Connected) borrows a connection with grabdb and gives it back with
// freedb; a free pooled connection is reused, otherwise a new one is opened.
// Connections stay open until the Database is destroyed, which must happen
// after every Query that borrowed one; a pooled connection the server has
// dropped is opened again before it is handed out. The client reads the option group
// "opsbase" of its option files and talks latin1, so every byte of a text
// reaches the server and comes back unchanged.
class Database {
public:
    // One pooled client connection; busy while a Query holds it.
    struct OPENDB {
        MYSQL mysql;
        bool busy = false;
        bool open = false;  // mysql holds a connection (else it is closed)
    };

    // Time-outs of every connection, in seconds. Connecting covers the TCP
    // connection and the server's greeting. The read time-out bounds the
    // wait for one answer: it must outlast the slowest legitimate
    // statement, the history insert of a long job's log behind another
    // writer's row lock, which the server itself gives up on after its lock
    // wait time-out (50 seconds by default); a statement the server still
    // answers is therefore never cut. Writing a large statement to a server
    // that reads slowly gets the same bound.
    static const unsigned kConnectTimeoutSeconds = 10;
    static const unsigned kReadTimeoutSeconds = 60;
    static const unsigned kWriteTimeoutSeconds = 60;

    // One server of the setting: port 0 lets the client library choose.
    struct Server {
        std::string host;
        int port = 0;
    };
    // The servers of a setting: "name" or "name:port" entries separated by
    // commas (blanks around an entry are ignored), in order; at least one.
    static std::vector<Server> parseServers(const std::string& setting);

    // hostSetting lists the servers (parseServers); a connection is opened
    // on the first of them that answers, trying them in order every time.
    // log is not owned and may be null.
    Database(const std::string& hostSetting, const std::string& user, const std::string& password, const std::string& dbname,
             logEngine* log);
    virtual ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // A free (pinged) or newly opened connection, marked busy; null on
    // failure. A free connection that fails its ping is opened again once
    // (on the first server of the list that answers).
    OPENDB* grabdb();
    // Marks the connection free again; null is ignored.
    void freedb(OPENDB* odb);
    // Called after mysql_init and before connecting; the base version asks
    // the client to read the option group "opsbase". Returns mysql_options'
    // result. A subclass may set further client options here.
    virtual int OnMyInit(OPENDB* odb);
    // Whether a connection can be had and answers a ping.
    bool Connected();
    // A Database with the same servers, account and database, and no
    // connection yet: for a thread of its own (a pool is not shared
    // between threads). log is not owned and may be null.
    std::unique_ptr<Database> sibling(logEngine* siblingLog) const;

    logEngine* GetLog() const { return log; }
    // The server the last connection was opened on (the first of the list
    // before any).
    const std::string& GetHost() const { return host; }
    int GetPort() const { return port; }
    const std::vector<Server>& GetServers() const { return servers; }
    size_t PoolSize() const { return connections.size(); }

private:
    // Opens odb on the first server of the list that answers; false when
    // none does.
    bool open(OPENDB* odb);
    // mysql_init, the client options and mysql_real_connect on one server;
    // false (logged, the handle closed) when it cannot be reached.
    bool openOn(OPENDB* odb, const Server& server);
    void debug(const char* format, ...) __attribute__((format(printf, 2, 3)));

    logEngine* log;
    std::string host;
    std::string user;
    std::string password;
    std::string dbname;
    int port = 0;
    std::string serverSetting;
    std::vector<Server> servers;
    std::list<std::unique_ptr<OPENDB>> connections;
};
