#pragma once
#include <initializer_list>
#include <map>
#include <string>

#include <mysql.h>

#include "db/Database.h"

// Query borrows one pooled connection of a Database for its lifetime, sends
// SQL text and holds at most one stored result, whose current row it reads
// by column index (or at a cursor that each index-less getter advances) or,
// after get_result_map, by column name. While a result is held the Query
// is busy and refuses further statements until free_result.
//
// A failed statement never throws: it is logged and the Query is left
// without a result, so every reader answers with its empty value (null, "",
// 0, false). The log gets "query failed: " + the statement with the
// contents of its quoted literals shown as *** (they may hold passwords)
// and "server said (errno): message" on facility DB, and the whole
// statement on the debug facility only. The by-name readers are the only members that throw
// (std::logic_error "Value not found!"). A Query must not outlive its Database.
//
// Also home of the escaping used by every table record: safestr for text
// between apostrophes in SQL (with backslash escapes, so the server must not
// run with NO_BACKSLASH_ESCAPES), unsafestr to undo it, xmlsafestr for XML.
class Query {
public:
    explicit Query(Database& db);
    explicit Query(Database* db);  // db may be null: then there is no connection
    Query(Database& db, const std::string& sql);
    Query(Database* db, const std::string& sql);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    // True when the server accepted the statement. No result is stored.
    bool execute(const std::string& sql);
    // execute for statements that race with other processes for a row: a
    // refusal with one of the server error numbers in expected (a duplicate
    // key, a lost certification) is not logged; GetErrno tells which.
    bool executeExpecting(const std::string& sql, std::initializer_list<unsigned> expected);
    // Runs sql and stores its whole result; null on failure. When a result
    // is already held, that one is returned and sql is not run.
    MYSQL_RES* get_result(const std::string& sql);
    MYSQL_ROW fetch_row();  // next row, null after the last; resets the column cursor
    void free_result();
    long num_rows();
    unsigned long long insert_id();
    // Rows the last statement changed (mysql_affected_rows); 0 without a
    // connection or after a failed statement.
    unsigned long long affected_rows();

    // Column i of the current row. getstr gives "" for NULL and null when
    // there is no row (or i is out of range); getstring is the same text
    // with its real length (binary safe, "" when absent).
    bool is_null(int i);
    const char* getstr(int i);
    std::string getstring(int i);
    long getval(int i);
    unsigned long getuval(int i);
    long long getbigint(int i);
    unsigned long long getubigint(int i);
    double getnum(int i);
    // The same at the column cursor, which then moves on by one.
    const char* getstr();
    long getval();
    unsigned long getuval();
    long long getbigint();
    unsigned long long getubigint();
    double getnum();

    // One-value statements: first column of the first row ("" / 0 when
    // there is none). They free their own result.
    const char* get_string(const std::string& sql);
    long get_count(const std::string& sql);
    double get_num(const std::string& sql);

    // Loads the first row of sql into the name-to-value map (first column
    // wins on duplicate names); true when a row was found.
    bool get_result_map(const std::string& sql);
    bool get_field_exists(const std::string& name) const;
    std::string& get_field_value(const std::string& name);  // throws "Value not found!"
    long get_field_value_as_int(const std::string& name);
    long get_field_value_as_long(const std::string& name);
    unsigned long get_field_value_as_ulong(const std::string& name);

    static long long a2bigint(const std::string& text);
    static unsigned long long a2ubigint(const std::string& text);

    static std::string safestr(const std::string& text);
    static std::string unsafestr(const std::string& text);
    static std::string xmlsafestr(const std::string& text);

    unsigned int GetErrno();
    std::string GetError();
    bool Connected();
    Database* GetDatabase() { return database; }
    const std::string& GetLastQuery() const { return lastQuery; }

    // The statement as it may appear in the ordinary log: the contents of
    // its quoted literals replaced by "***", since they may hold secrets.
    static std::string maskLiterals(const std::string& sql);

private:
    bool busy(const char* operation);
    void logDb(const std::string& text);
    void logFailure(const std::string& sql);
    bool run(const std::string& sql, std::initializer_list<unsigned> quiet);
    const char* column(int i);
    unsigned long columnLength(int i);

    std::map<std::string, std::string> fieldValues;
    Database* database;
    Database::OPENDB* odb;
    MYSQL_RES* result = nullptr;
    MYSQL_ROW row = nullptr;
    short cursor = 0;
    std::string stringResult;
    std::string lastQuery;
};
