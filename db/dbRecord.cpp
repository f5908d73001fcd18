#include "db/dbRecord.h"

#include <strings.h>

#include <cstdlib>

#include "db/Database.h"
#include "db/Query.h"
#include "db/enum_t.h"

namespace {
// Each "\n" ends a line (so empty lines between line breaks stay); text
// after the last "\n" is a last line when it is not empty.
std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
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

void dbRecord::clearValues() {
    for (const auto& c : columns()) {
        switch (c.kind) {
            case Column::U32:
                as<unsigned long>(c.member) = 0;
                break;
            case Column::U64:
                as<unsigned long long>(c.member) = 0;
                break;
            case Column::U16:
                as<unsigned short>(c.member) = 0;
                break;
            case Column::S32:
                as<long>(c.member) = 0;
                break;
            default:
                break;
        }
    }
}

void dbRecord::fillByIndex(Query& q) {
    int i = 0;
    for (const auto& c : columns()) {
        switch (c.kind) {
            case Column::U32:
                as<unsigned long>(c.member) = q.getuval(i);
                break;
            case Column::U64:
                as<unsigned long long>(c.member) = q.getubigint(i);
                break;
            case Column::U16:
                as<unsigned short>(c.member) = static_cast<unsigned short>(q.getuval(i));
                break;
            case Column::S32:
                as<long>(c.member) = q.getval(i);
                break;
            case Column::Text:
                as<std::string>(c.member) = q.getstring(i);
                break;
            case Column::Lines:
                as<std::vector<std::string>>(c.member) = splitLines(q.getstring(i));
                break;
            case Column::Enum:
                as<enum_t>(c.member) = q.getstring(i);
                break;
        }
        ++i;
    }
}

void dbRecord::fillByName(Query& q) {
    for (const auto& c : columns()) {
        bool absent = (c.flags & Optional) && !q.get_field_exists(c.name);
        std::string text = absent ? std::string(c.fallback ? c.fallback : "") : q.get_field_value(c.name);
        switch (c.kind) {
            case Column::U32:
                as<unsigned long>(c.member) = static_cast<unsigned long>(Query::a2ubigint(text) & 0xFFFFFFFFull);
                break;
            case Column::U64:
                as<unsigned long long>(c.member) = Query::a2ubigint(text);
                break;
            case Column::U16:
                as<unsigned short>(c.member) = static_cast<unsigned short>(Query::a2ubigint(text));
                break;
            case Column::S32:
                as<long>(c.member) = strtol(text.c_str(), nullptr, 10);
                break;
            case Column::Text:
                as<std::string>(c.member) = text;
                break;
            case Column::Lines:
                as<std::vector<std::string>>(c.member) = splitLines(text);
                break;
            case Column::Enum:
                as<enum_t>(c.member) = text;
                break;
        }
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
    auto number = [this](const std::string& digits) { return table.quoteNumbers ? "'" + digits + "'" : digits; };
    switch (c.kind) {
        case Column::U32:
            return number(std::to_string(as<unsigned long>(c.member)));
        case Column::U64:
            return number(std::to_string(as<unsigned long long>(c.member)));
        case Column::U16:
            return number(std::to_string(as<unsigned short>(c.member)));
        case Column::S32:
            return number(std::to_string(as<long>(c.member)));
        case Column::Text:
            return "'" + Query::safestr(as<std::string>(c.member)) + "'";
        case Column::Enum:
            return "'" + Query::safestr(as<enum_t>(c.member).String()) + "'";
        case Column::Lines: {
            std::string text = "'";
            const auto& lines = as<std::vector<std::string>>(c.member);
            for (size_t i = 0; i < lines.size(); ++i) {
                if (i) text += "\n";
                text += Query::safestr(lines[i]);
            }
            return text + "'";
        }
    }
    return "''";
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
        std::string tag = upper(c.name), text;
        switch (c.kind) {
            case Column::U32:
                text = std::to_string(as<unsigned long>(c.member));
                break;
            case Column::U64:
                text = std::to_string(as<unsigned long long>(c.member));
                break;
            case Column::U16:
                text = std::to_string(as<unsigned short>(c.member));
                break;
            case Column::S32:
                text = std::to_string(as<long>(c.member));
                break;
            case Column::Text:
                text = Query::xmlsafestr(as<std::string>(c.member));
                break;
            case Column::Enum:
                text = Query::xmlsafestr(as<enum_t>(c.member).String());
                break;
            case Column::Lines:
                break;
        }
        out += "<" + tag + ">" + text + "</" + tag + ">";
    }
    return out + "</" + element + ">";
}
