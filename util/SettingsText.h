#pragma once
#include <string>

class logEngine;

// SettingsText finds a setting of the installation's settings file by
// plain text search, the way the database settings are read: the value of
// the element `name` (any letter case) runs from its opening tag to the
// last closing tag of that name on the same line, and text inside comments
// is not searched. The file is never parsed, so the settings are found
// even in a file an XML parser would reject. Both programs that read the
// file (the job runner and the dispatcher) use it, so they always meet the
// same database. The log engine is borrowed and may be null.
class SettingsText {
public:
    static const std::string notFound;  // "nostring"

    // The whole file; false (text empty) when it cannot be opened or read.
    static bool readFile(const std::string& path, std::string& text);
    // The value of name in text, or notFound. name is part of the pattern
    // as it is; callers pass fixed element names.
    static std::string find(const std::string& text, const std::string& name, logEngine* log);
};
