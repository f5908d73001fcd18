#pragma once
#include <set>
#include <string>
#include <vector>

class Database;
class Query;
class enum_t;

// dbRecord is the common part of the table records: an in-memory copy of
// one row with one public member per column. A record describes its columns
// once, in table order (columns()); loading by index or by name, INSERT,
// UPDATE, DELETE and the XML rendering are all built from that description.
//
// Every operation runs its statements through a Query of its own, so
// records may be loaded and saved while other records hold connections.
// SQL errors are never thrown: a failed load reads as "not found", a failed
// write has no effect; the query layer logs the statement and the server's
// message, and lastOk() tells the caller whether the last operation's
// statement was accepted. Only loading by name (the router) may throw the
// query layer's "Value not found!" when the table lacks a column.
//
// newRecord is 1 while the record has no row in the table (built empty or
// a load found nothing) and 0 once it was loaded or inserted; save() then
// inserts or updates accordingly. The Database must outlive the record.
class dbRecord {
public:
    virtual ~dbRecord() = default;
    dbRecord(const dbRecord&) = delete;
    dbRecord& operator=(const dbRecord&) = delete;

    // Fills the members from the current row of q by column index (0 = the
    // first column in table order); does not fetch. newRecord becomes 0.
    void spawn(Query* q);
    // Loads the first row of sql (a whole SELECT). A leading "SELECT * "
    // (any letter case) is replaced by the record's column list, so the
    // columns arrive in the record's order whatever the table's layout.
    virtual void spawn(const std::string& sql);
    void select(const std::string& sql) { spawn(sql); }

    void save();  // newRecord 1: insert(), otherwise update()
    // Inserts every written column, the key included (a numeric key of 0
    // lets the database assign one, which then becomes the key); newRecord
    // becomes 0 even when the server refused the row. Returns the insert id.
    virtual unsigned long long insert();
    virtual void update() = 0;  // writes the row that has the record's own key
    void erase();               // deletes the row(s) with the record's key; nothing while newRecord is 1

    // "<TABLE>" + "<COLUMN>value</COLUMN>"... + "</TABLE>" (line lists left out).
    std::string xml();
    // The same with one attribute on the outer element; value is not escaped.
    std::string xml(const std::string& attr, const std::string& value);

    // Whether the server accepted the statement of the last load, insert,
    // update or delete of this record (a load that found no row counts as
    // accepted). True before the first operation.
    bool lastOk() const { return ok; }
    // The record's columns joined by "," in table order.
    std::string columnList();

    Database* database;  // not owned
    short newRecord = 1;

    // The statement shapes of one table.
    struct TableInfo {
        const char* name;        // "cordal_jobs"
        const char* key;         // key column
        const char* insertHead;  // "INSERT INTO cordal_jobs(": the column list follows
        const char* valuesHead;  // " VALUES(": the values follow
        const char* updateHead;  // "UPDATE cordal_jobs SET ": the assignments follow
        const char* where;       // " WHERE "
        bool keyQuoted;          // a numeric key as id='5' rather than id=5 in WHERE
        bool quoteNumbers;       // numbers between apostrophes in INSERT and UPDATE
        const char* insertId;    // column that insert() sets to the insert id, or null
    };

protected:
    // How a column's member is held and written.
    struct Column {
        enum Kind { U32, U64, U16, S32, Text, Lines, Enum };
        Kind kind;
        const char* name;
        void* member;
        unsigned flags;
        const char* fallback;  // value of an Optional column the table lacks
    };
    enum ColumnFlag : unsigned {
        NotWritten = 1,  // read, but never part of INSERT or UPDATE
        NoXml = 2,       // left out of the XML rendering
        Optional = 4,    // the table may lack it; UPDATE then leaves it out
    };
    static Column col(const char* name, unsigned long& m, unsigned flags = 0, const char* fb = nullptr);
    static Column col(const char* name, unsigned long long& m, unsigned flags = 0);
    static Column col(const char* name, unsigned short& m, unsigned flags = 0);
    static Column col(const char* name, long& m, unsigned flags = 0);
    static Column col(const char* name, std::string& m, unsigned flags = 0, const char* fb = nullptr);
    static Column col(const char* name, std::vector<std::string>& m, unsigned flags = 0);
    static Column col(const char* name, enum_t& m, unsigned flags = 0, const char* fb = nullptr);

    dbRecord(Database* db, const TableInfo& table);

    virtual std::vector<Column> columns() = 0;
    // Sets the numeric members to 0 (and whatever else a record's clear() does).
    virtual void clearValues();
    // Called after a load (found tells whether a row was filled) and after
    // a fill from a Query.
    virtual void afterLoad(bool found) { (void)found; }

    // Reads every column by name from q's field values; Optional columns
    // the result lacks take their fallback. Throws "Value not found!".
    void fillByName(Query& q);
    void fillByIndex(Query& q);
    // "key='text'", "id='5'" or "id=5" for the WHERE clause.
    std::string keyIs(unsigned long key) const;
    std::string keyIs(const std::string& key) const;
    std::string ownKey();
    // UPDATE of every written column (Optional ones only if named in
    // present, when present is given) in the rows matching condition.
    void updateWhere(const std::string& condition, const std::set<std::string>* present = nullptr);
    std::string insertStatement();
    std::string sqlValue(const Column& c) const;
    const Column* findColumn(std::vector<Column>& list, const std::string& name);

    const TableInfo& table;
    bool ok = true;

private:
    struct KindRow;
    static const KindRow& kind(Column::Kind k);
};
