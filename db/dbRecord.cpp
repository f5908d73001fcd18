#include "db/dbRecord.h"

#include <strings.h>

#include <cstdlib>

#include "db/Database.h"
#include "db/Query.h"
#include "db/enum_t.h"
#include "util/TextLines.h"

namespace {
std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) text += "\n";
        text += lines[i];
    }
    return text;
}

std::string upper(const char* name) {
    std::string out(name);
    for (char& c : out) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return out;
}

template <class T>
T& as(void* member) {
    return *static_cast<T*>(member);
}

const char kSelectAll[] = "SELECT * ";
const size_t kSelectAllLength = sizeof kSelectAll - 1;
}  // namespace

dbRecord::dbRecord(Database* db, const TableInfo& info) : database(db), table(info) {}

dbRecord::Column dbRecord::col(const char* name, unsigned long& m, unsigned flags, const char* fb) {
    return {Column::U32, name, &m, flags, fb};
}
dbRecord::Column dbRecord::col(const char* name, unsigned long long& m, unsigned flags) {
    return {Column::U64, name, &m, flags, nullptr};
}
dbRecord::Column dbRecord::col(const char* name, unsigned short& m, unsigned flags) {
    return {Column::U16, name, &m, flags, nullptr};
}
dbRecord::Column dbRecord::col(const char* name, long& m, unsigned flags) {
    return {Column::S32, name, &m, flags, nullptr};
}
dbRecord::Column dbRecord::col(const char* name, std::string& m, unsigned flags, const char* fb) {
    return {Column::Text, name, &m, flags, fb};
}
dbRecord::Column dbRecord::col(const char* name, std::vector<std::string>& m, unsigned flags) {
    return {Column::Lines, name, &m, flags | NoXml, nullptr};
}
dbRecord::Column dbRecord::col(const char* name, enum_t& m, unsigned flags, const char* fb) {
    return {Column::Enum, name, &m, flags, fb};
}

std::string dbRecord::columnList() {
    std::string list;
    for (const auto& c : columns()) {
        if (!list.empty()) list += ",";
        list += c.name;
    }
    return list;
}

// What each kind of column does: clearing before a load (numbers become
// 0, the rest keeps its value), reading from the text the server sent, and
// the text it is written as, which SQL values and the XML rendering are
// built from.
struct dbRecord::KindRow {
    void (*clear)(void* member);  // null: nothing to clear
    void (*fromText)(void* member, const std::string& text);
    std::string (*toText)(void* member);
    bool number;      // written without apostrophes unless the table quotes numbers
    bool lineBreaks;  // its line breaks travel as they are, not escaped
};

const dbRecord::KindRow& dbRecord::kind(Column::Kind k) {
    // clang-format off
    static const KindRow kKinds[] = {
        // U32: the low 32 bits of the digits
        {[](void* m) { as<unsigned long>(m) = 0; },
         [](void* m, const std::string& t) {
             as<unsigned long>(m) = static_cast<unsigned long>(Query::a2ubigint(t) & 0xFFFFFFFFull); },
         [](void* m) { return std::to_string(as<unsigned long>(m)); }, true, false},
        // U64
        {[](void* m) { as<unsigned long long>(m) = 0; },
         [](void* m, const std::string& t) { as<unsigned long long>(m) = Query::a2ubigint(t); },
         [](void* m) { return std::to_string(as<unsigned long long>(m)); }, true, false},
        // U16
        {[](void* m) { as<unsigned short>(m) = 0; },
         [](void* m, const std::string& t) { as<unsigned short>(m) = static_cast<unsigned short>(Query::a2ubigint(t)); },
         [](void* m) { return std::to_string(as<unsigned short>(m)); }, true, false},
        // S32
        {[](void* m) { as<long>(m) = 0; },
         [](void* m, const std::string& t) { as<long>(m) = strtol(t.c_str(), nullptr, 10); },
         [](void* m) { return std::to_string(as<long>(m)); }, true, false},
        // Text
        {nullptr,
         [](void* m, const std::string& t) { as<std::string>(m) = t; },
         [](void* m) { return as<std::string>(m); }, false, false},
        // Lines: one member line per line of the text
        {nullptr,
         [](void* m, const std::string& t) { as<std::vector<std::string>>(m) = TextLines::split(t); },
         [](void* m) { return joinLines(as<std::vector<std::string>>(m)); }, false, true},
        // Enum
        {nullptr,
         [](void* m, const std::string& t) { as<enum_t>(m) = t; },
         [](void* m) { return as<enum_t>(m).String(); }, false, false},
    };
    // clang-format on
    return kKinds[k];
}

void dbRecord::clearValues() {
    for (const auto& c : columns())
        if (kind(c.kind).clear) kind(c.kind).clear(c.member);
}

void dbRecord::fillByIndex(Query& q) {
    int i = 0;
    for (const auto& c : columns()) kind(c.kind).fromText(c.member, q.getstring(i++));
}

void dbRecord::fillByName(Query& q) {
    for (const auto& c : columns()) {
        bool absent = (c.flags & Optional) && !q.get_field_exists(c.name);
        kind(c.kind).fromText(c.member, absent ? std::string(c.fallback ? c.fallback : "") : q.get_field_value(c.name));
    }
}

void dbRecord::spawn(Query* q) {
    if (q) fillByIndex(*q);
    newRecord = 0;
    afterLoad(true);
}

void dbRecord::spawn(const std::string& sql) {
    clearValues();
    std::string statement = sql;
    if (statement.size() >= kSelectAllLength && strncasecmp(statement.c_str(), kSelectAll, kSelectAllLength) == 0)
        statement = "SELECT " + columnList() + " " + statement.substr(kSelectAllLength);
    Query q(database);
    bool found = false;
    ok = q.get_result(statement) != nullptr;
    if (ok && q.fetch_row()) {
        fillByIndex(q);
        newRecord = 0;
        found = true;
    } else {
        clearValues();
        newRecord = 1;
    }
    q.free_result();
    afterLoad(found);
}

void dbRecord::save() {
    if (newRecord)
        insert();
    else
        update();
}

std::string dbRecord::sqlValue(const Column& c) const {
    const KindRow& k = kind(c.kind);
    const std::string text = k.toText(c.member);
    if (k.number) return table.quoteNumbers ? "'" + text + "'" : text;
    if (!k.lineBreaks) return "'" + Query::safestr(text) + "'";
    std::string out = "'";
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        out += Query::safestr(text.substr(start, nl - start)) + "\n";
    return out + Query::safestr(text.substr(start)) + "'";
}

std::string dbRecord::insertStatement() {
    std::string names, values;
    for (const auto& c : columns()) {
        if (c.flags & NotWritten) continue;
        if (!names.empty()) {
            names += ",";
            values += ", ";
        }
        names += c.name;
        values += sqlValue(c);
    }
    return std::string(table.insertHead) + names + ")" + table.valuesHead + values + ")";
}

unsigned long long dbRecord::insert() {
    Query q(database);
    ok = q.execute(insertStatement());
    newRecord = 0;
    unsigned long long id = q.insert_id();
    if (table.insertId) {
        auto list = columns();
        const Column* target = findColumn(list, table.insertId);
        if (target && target->kind == Column::U32) as<unsigned long>(target->member) = static_cast<unsigned long>(id);
    }
    return id;
}

void dbRecord::updateWhere(const std::string& condition, const std::set<std::string>* present) {
    std::string assignments;
    for (const auto& c : columns()) {
        if (c.flags & NotWritten) continue;
        if ((c.flags & Optional) && present && !present->count(c.name)) continue;
        if (!assignments.empty()) assignments += ", ";
        assignments += std::string(c.name) + "=" + sqlValue(c);
    }
    Query q(database);
    ok = q.execute(table.updateHead + assignments + table.where + condition);
}

void dbRecord::erase() {
    if (newRecord) return;
    Query q(database);
    ok = q.execute(std::string("DELETE FROM ") + table.name + " WHERE " + ownKey());
}

std::string dbRecord::keyIs(unsigned long key) const {
    std::string digits = std::to_string(key);
    return std::string(table.key) + "=" + (table.keyQuoted ? "'" + digits + "'" : digits);
}

std::string dbRecord::keyIs(const std::string& key) const {
    return std::string(table.key) + "='" + Query::safestr(key) + "'";
}

std::string dbRecord::ownKey() {
    auto list = columns();
    const Column* key = findColumn(list, table.key);
    if (key && key->kind == Column::Text) return keyIs(as<std::string>(key->member));
    return keyIs(key ? as<unsigned long>(key->member) : 0ul);
}

const dbRecord::Column* dbRecord::findColumn(std::vector<Column>& list, const std::string& name) {
    for (const auto& c : list)
        if (name == c.name) return &c;
    return nullptr;
}

std::string dbRecord::xml() {
    return xml("", "");
}

std::string dbRecord::xml(const std::string& attr, const std::string& value) {
    std::string element = upper(table.name);
    std::string out = "<" + element;
    if (!attr.empty()) out += " " + attr + "=\"" + value + "\"";
    out += ">";
    for (const auto& c : columns()) {
        if (c.flags & NoXml) continue;
        std::string tag = upper(c.name), text = Query::xmlsafestr(kind(c.kind).toText(c.member));
        out += "<" + tag + ">" + text + "</" + tag + ">";
    }
    return out + "</" + element + ">";
}
