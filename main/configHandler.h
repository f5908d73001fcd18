#pragma once
#include <optional>
#include <string>
#include <vector>

class logEngine;
class XMLElement;

// configHandler reads the installation's settings file in the two ways the
// start-up needs:
//  - getFromCfg finds a database setting by plain text search. It never
//    parses the XML, so the database settings are found even in a file the
//    parser would reject; text inside comments is not searched. A missing or
//    unreadable file, or one without the element, yields notFound
//    ("nostring").
//  - readRows parses the file and copies element texts into the members of
//    a list of rows. It fails (false) for a file that cannot be read or
//    parsed and for a missing required key.
// The log engine is borrowed and may be null (nothing is logged then).
// Values are never logged: the file holds passwords.
class configHandler {
public:
    static const std::string notFound;  // "nostring"

    // One job setting. key is a dotted path below the file's top element,
    // with a leading "|" when the setting is optional (a missing optional
    // element leaves *member unchanged). When leaf is set, it names one more
    // element below key's path, taken whole even if it holds dots (a router
    // model such as "NX.4200").
    struct XmlRow {
        std::string key;
        std::string* member;
        std::optional<std::string> leaf;

        bool optional() const { return !key.empty() && key[0] == '|'; }
        std::string path() const { return optional() ? key.substr(1) : key; }
        std::string text() const { return leaf ? key + "." + *leaf : key; }  // key as logged
    };

    configHandler(logEngine* log, std::string settingsFile);

    std::string getFromCfg(const std::string& name) const;
    bool readRows(const std::vector<XmlRow>& rows) const;

    // The two steps above on text and trees already in memory.
    static std::string findSetting(const std::string& text, const std::string& name, logEngine* log);
    static bool applyRows(XMLElement& top, const std::vector<XmlRow>& rows, logEngine* log);

    const std::string& fileName() const { return settingsFile; }

private:
    logEngine* log;
    std::string settingsFile;
};
