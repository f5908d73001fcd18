#include "db/Query.h"

#include <cstdlib>
#include <stdexcept>

#include "util/logEngine.h"

namespace {
// Digits accumulated without validation, as the server sends integers.
unsigned long long accumulate(const char* text) {
    unsigned long long value = 0;
    if (text)
        for (const char* p = text; *p; ++p) value = value * 10 + static_cast<unsigned long long>(*p - '0');
    return value;
}

const size_t kDebugStatementLimit = 65536;
}  // namespace

Query::Query(Database& db) : database(&db), odb(db.grabdb()) {}
Query::Query(Database* db) : database(db), odb(db ? db->grabdb() : nullptr) {}
Query::Query(Database& db, const std::string& sql) : Query(db) {
    execute(sql);
}
Query::Query(Database* db, const std::string& sql) : Query(db) {
    execute(sql);
}

Query::~Query() {
    if (result) {
        logDb("mysql_free_result in destructor");
        mysql_free_result(result);
    }
    if (database) database->freedb(odb);
}

void Query::logDb(const std::string& text) {
    if (database && database->GetLog()) database->GetLog()->add(logEngine::DB, text);
}

void Query::logFailure(const std::string& sql) {
    logDb("query failed: " + maskLiterals(sql));
    logDb("server said (" + std::to_string(mysql_errno(&odb->mysql)) + "): " + mysql_error(&odb->mysql));
    if (database && database->GetLog()) {
        std::string full = sql.size() > kDebugStatementLimit ? sql.substr(0, kDebugStatementLimit) + "..." : sql;
        database->GetLog()->add(logEngine::DBG, "query failed: " + full);
    }
}

bool Query::busy(const char* operation) {
    if (!result) return false;
    logDb(std::string(operation) + ": query busy");
    return true;
}

bool Query::execute(const std::string& sql) {
    return run(sql, {});
}

bool Query::executeExpecting(const std::string& sql, std::initializer_list<unsigned> expected) {
    return run(sql, expected);
}

bool Query::run(const std::string& sql, std::initializer_list<unsigned> quiet) {
    lastQuery = sql;
    if (!odb || busy("execute")) return false;
    if (mysql_real_query(&odb->mysql, sql.data(), sql.size()) != 0) {
        const unsigned error = mysql_errno(&odb->mysql);
        bool expected = false;
        for (unsigned e : quiet) expected = expected || e == error;
        if (!expected) logFailure(sql);
        return false;
    }
    // A statement with a result set that nobody asked for would leave the
    // connection out of step for the next statement.
    if (mysql_field_count(&odb->mysql) > 0) mysql_free_result(mysql_store_result(&odb->mysql));
    return true;
}

MYSQL_RES* Query::get_result(const std::string& sql) {
    lastQuery = sql;
    if (!odb || busy("get_result")) return result;
    if (mysql_real_query(&odb->mysql, sql.data(), sql.size()) != 0) {
        logFailure(sql);
        return nullptr;
    }
    result = mysql_store_result(&odb->mysql);
    if (!result && mysql_field_count(&odb->mysql) > 0) logFailure(sql);
    row = nullptr;
    return result;
}

MYSQL_ROW Query::fetch_row() {
    cursor = 0;
    if (!odb || !result) return nullptr;
    row = mysql_fetch_row(result);
    return row;
}

void Query::free_result() {
    if (result) mysql_free_result(result);
    result = nullptr;
    row = nullptr;
}

long Query::num_rows() {
    return odb && result ? static_cast<long>(mysql_num_rows(result)) : 0;
}

unsigned long long Query::insert_id() {
    return odb ? mysql_insert_id(&odb->mysql) : 0;
}

unsigned long long Query::affected_rows() {
    if (!odb) return 0;
    const my_ulonglong rows = mysql_affected_rows(&odb->mysql);
    // (my_ulonglong)-1 marks a failed statement.
    return rows == static_cast<my_ulonglong>(-1) ? 0 : rows;
}

const char* Query::column(int i) {
    if (!odb || !result || !row || i < 0 || static_cast<unsigned>(i) >= mysql_num_fields(result)) return nullptr;
    return row[i];
}

unsigned long Query::columnLength(int i) {
    unsigned long* lengths = mysql_fetch_lengths(result);
    return lengths ? lengths[i] : 0;
}

bool Query::is_null(int i) {
    if (!odb || !result || !row || i < 0 || static_cast<unsigned>(i) >= mysql_num_fields(result)) return false;
    return row[i] == nullptr;
}

const char* Query::getstr(int i) {
    if (!odb || !result || !row || i < 0 || static_cast<unsigned>(i) >= mysql_num_fields(result)) return nullptr;
    return row[i] ? row[i] : "";
}

std::string Query::getstring(int i) {
    const char* text = column(i);
    return text ? std::string(text, columnLength(i)) : std::string();
}

long Query::getval(int i) {
    const char* text = column(i);
    return text ? strtol(text, nullptr, 10) : 0;
}

unsigned long Query::getuval(int i) {
    return static_cast<unsigned long>(accumulate(column(i)) & 0xFFFFFFFFull);
}

long long Query::getbigint(int i) {
    const char* text = column(i);
    return text ? a2bigint(text) : 0;
}

unsigned long long Query::getubigint(int i) {
    return accumulate(column(i));
}

double Query::getnum(int i) {
    const char* text = column(i);
    return text ? strtod(text, nullptr) : 0;
}

const char* Query::getstr() {
    return getstr(cursor++);
}
long Query::getval() {
    return getval(cursor++);
}
unsigned long Query::getuval() {
    return getuval(cursor++);
}
long long Query::getbigint() {
    return getbigint(cursor++);
}
unsigned long long Query::getubigint() {
    return getubigint(cursor++);
}
double Query::getnum() {
    return getnum(cursor++);
}

const char* Query::get_string(const std::string& sql) {
    stringResult.clear();
    // A held result belongs to the caller; it is neither read nor freed here.
    if (busy("get_result") || !get_result(sql)) return stringResult.c_str();
    if (fetch_row()) stringResult = getstring(0);
    free_result();
    return stringResult.c_str();
}

long Query::get_count(const std::string& sql) {
    if (busy("get_result") || !get_result(sql)) return 0;
    long value = fetch_row() ? getval(0) : 0;
    free_result();
    return value;
}

double Query::get_num(const std::string& sql) {
    if (busy("get_result") || !get_result(sql)) return 0;
    double value = fetch_row() ? getnum(0) : 0;
    free_result();
    return value;
}

bool Query::get_result_map(const std::string& sql) {
    fieldValues.clear();
    if (busy("get_result") || !get_result(sql)) return false;
    if (fetch_row()) {
        unsigned count = mysql_num_fields(result);
        MYSQL_FIELD* fields = mysql_fetch_fields(result);
        for (unsigned i = 0; i < count; ++i)
            fieldValues.emplace(std::string(fields[i].name, fields[i].name_length), getstring(static_cast<int>(i)));
    }
    free_result();
    return !fieldValues.empty();
}

bool Query::get_field_exists(const std::string& name) const {
    return fieldValues.count(name) != 0;
}

std::string& Query::get_field_value(const std::string& name) {
    auto it = fieldValues.find(name);
    if (it == fieldValues.end()) throw std::logic_error("Value not found!");
    return it->second;
}

long Query::get_field_value_as_int(const std::string& name) {
    return strtol(get_field_value(name).c_str(), nullptr, 10);
}

long Query::get_field_value_as_long(const std::string& name) {
    return strtol(get_field_value(name).c_str(), nullptr, 10);
}

unsigned long Query::get_field_value_as_ulong(const std::string& name) {
    return static_cast<unsigned long>(accumulate(get_field_value(name).c_str()) & 0xFFFFFFFFull);
}

long long Query::a2bigint(const std::string& text) {
    if (!text.empty() && text[0] == '-') return -static_cast<long long>(accumulate(text.c_str() + 1));
    return static_cast<long long>(accumulate(text.c_str()));
}

unsigned long long Query::a2ubigint(const std::string& text) {
    return accumulate(text.c_str());
}

std::string Query::safestr(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 8);
    char escaped[3];
    for (char c : text) {
        unsigned long n = mysql_escape_string(escaped, &c, 1);
        out.append(escaped, n);
    }
    return out;
}

std::string Query::unsafestr(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') {
            if (++i == text.size()) break;
        }
        out += text[i];
    }
    return out;
}

std::string Query::xmlsafestr(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '"':
                out += "&quot;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Query::maskLiterals(const std::string& sql) {
    std::string out;
    out.reserve(sql.size());
    for (size_t i = 0; i < sql.size(); ++i) {
        char quote = sql[i];
        out += quote;
        if (quote != '\'' && quote != '"') continue;
        // Skip to the closing quote: a backslash escapes the next byte, a
        // doubled quote stands for one quote inside the literal.
        size_t j = i + 1;
        for (; j < sql.size(); ++j) {
            if (sql[j] == '\\') {
                ++j;
            } else if (sql[j] == quote) {
                if (j + 1 < sql.size() && sql[j + 1] == quote) {
                    ++j;
                } else {
                    break;
                }
            }
        }
        if (j > i + 1) out += "***";
        if (j < sql.size()) out += quote;
        i = j;
    }
    return out;
}

unsigned int Query::GetErrno() {
    return odb ? mysql_errno(&odb->mysql) : 0;
}

std::string Query::GetError() {
    return odb ? std::string(mysql_error(&odb->mysql)) : std::string();
}

bool Query::Connected() {
    if (!odb) return false;
    if (mysql_ping(&odb->mysql) == 0) return true;
    logDb("mysql_ping() failed");
    return false;
}
