#pragma once
#include <string>

class logEngine;
class Cordal_router;
class Cordal_swrelease;
class Cordal_contacts;
class dbGroupRouteradditionals;
class dbGroupLicenses;

// TemplatePatcher fills the placeholders of a configuration template with
// the job's database values, in place in the caller's text. Placeholders are
// "[name]", "[{nm2pl}name]" (a net-mask written as its prefix length) and
// "[H:M+D]" (a time shifted by D minutes); names are compared ignoring
// letter case and otherwise byte for byte, and values are inserted byte for
// byte. Every replacement is logged, secret values as "***". A placeholder
// that cannot be filled stays as it is. A value holding a line break or
// another control character (a tab aside) would add lines of its own to
// the configuration: it is not inserted, and refusedField names the first
// such field.
//
// The buffer, the log and the records are not owned and must outlive the
// patcher. Any record pointer may be null: its step then has nothing to
// insert (no release skips the release step; no router leaves only the job
// id and the time offsets).
class TemplatePatcher {
public:
    struct Sources {
        unsigned long jobId = 0;
        Cordal_router* router = nullptr;
        Cordal_swrelease* swRelease = nullptr;  // id 0 or null: no release found
        bool readNexaVersion = false;           // also patch "swrelease.nexaversion"
        dbGroupRouteradditionals* additionals = nullptr;
        Cordal_contacts* contacts = nullptr;
        dbGroupLicenses* licenses = nullptr;
    };

    TemplatePatcher(std::string& buffer, logEngine* log, const Sources& sources);

    // Replaces "[name]" by value and "[{nm2pl}name]" by value's prefix
    // length everywhere; show false logs "***" instead of the value.
    void replaceWith(const std::string& name, const std::string& value, bool show);
    // A dotted IPv4 net-mask becomes its prefix length in decimal; false
    // (with the reason logged, value unchanged) for anything else.
    bool convNetMsk2PfxLen(std::string& value, bool show);
    // Resolves every "[H:M+D]" placeholder to "HH:MM".
    void add_minutes_to_time();

    // The five patch steps, to be called in this order.
    void doRouterTable();
    void doSwreleaseTable();
    void doAdditionalTable();
    void doContactTable();
    void doLicenseTable();
    // All five in order.
    void patchAll();

    // Replaces every occurrence of needle (ASCII letter case ignored) in
    // text by with, left to right without overlaps; returns the count.
    static size_t replaceIgnoringCase(std::string& text, const std::string& needle, const std::string& with);
    // One licence row as the device's configuration writes it.
    static std::string licenseRow(const std::string& serial, const std::string& key);

    // The first field whose value was refused ("additional.note"), and why
    // (for the log); both "" when every value could be inserted.
    const std::string& refusedField() const { return refused; }
    const std::string& refusal() const { return refusalText; }

private:
    // replaceWith; the value's own line breaks are refused unless
    // linesAllowed (the licence rows, whose values were looked at).
    void replace(const std::string& name, const std::string& value, bool show, bool linesAllowed);
    // False, noting the refusal, when value holds a control character.
    bool insertable(const std::string& name, const std::string& value, bool show);

    std::string refused, refusalText;
    std::string& buffer;
    logEngine* log;
    Sources sources;
};
