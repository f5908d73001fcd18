#pragma once
#include <map>
#include <string>
#include <vector>

class logEngine;
class Database;
class Cordal_router;
class Cordal_routertypes;
class Cordal_swrelease;
class Cordal_contacts;
class dbGroupRouteradditionals;
class dbGroupLicenses;

// configFile is one device configuration: a file in the transfer directory
// plus the same text in memory. An empty fileName means the configuration
// could not be read or produced; that is how users recognise failure.
//
// Configuration text: "#" starts a comment; a line starting with "{" opens
// a row and one starting with "}" closes it; any other non-empty line
// outside a row names a table, which runs up to the next table name; lines
// before the first table name are the preamble.
class configFile {
public:
    using Lines = std::vector<std::string>;            // each with its line end
    using Blocks = std::vector<Lines>;                 // a table (or the preamble) each
    using TableNames = std::map<std::string, size_t>;  // name to its last block

    // Reading constructor: loads the job's configuration file (downloaded by
    // a device operation or produced by an external tool) from transferDir
    // (with trailing slash); its name is the job id followed by suffix
    // (".config", or ".config_cmp" for a comparison). log is not owned and
    // must outlive the object.
    configFile(logEngine* log, unsigned long jobId, const std::string& suffix, const std::string& transferDir);
    // Building constructor: produces the router's configuration from its
    // configuration type (template, stored configuration, or the template
    // merged into the stored one) into the job's file in transferDir (named
    // as above). The
    // template is templateDir (with trailing slash) + model + "/" + name.
    // Nothing is owned; every pointer must stay valid while the object is
    // used. swRelease may be null (none found).
    configFile(logEngine* log, unsigned long jobId, Cordal_router* router, Cordal_routertypes* routerType,
               bool readNexaVersion, Cordal_swrelease* swRelease, dbGroupRouteradditionals* additionals,
               dbGroupLicenses* licenses, Cordal_contacts* contacts, const std::string& suffix, Database* database,
               const std::string& transferDir, const std::string& templateDir);
    configFile(const configFile&) = delete;
    configFile& operator=(const configFile&) = delete;

    // transferDir + job id + suffix.
    static std::string nameFor(const std::string& transferDir, unsigned long jobId, const std::string& suffix);

    // Appends the whole file to the buffer; false when it cannot be opened.
    bool readBuffer(const std::string& path);
    // Appends the whole buffer as one entry (a history or configuration row).
    void exportBuffer(std::vector<std::string>& list) const;

    // Reads path as lines, each keeping its line feed (a last line without
    // one stays without). False, logged, when the file cannot be read.
    bool readLines(const std::string& path, Lines& lines);
    // Splits lines into blocks, one per table; with keepAll the preamble is
    // block 0 and empty and comment lines are kept, otherwise they are
    // dropped. False, with the line number logged, for a row without a
    // table name, a row opened twice or a row closed that was not open.
    bool getTables(const Lines& lines, Blocks& blocks, TableNames& names, bool keepAll);
    // Merges the tables of the output file (the processed template) into the
    // downloaded configuration at downloadedPath: every table both have is
    // taken from the template, everything else from the download. The
    // result replaces the output file and the buffer.
    bool mergeCfgFiles(const std::string& downloadedPath);

    const std::string& getFileName() const { return fileName; }
    const std::string& getBuffer() const { return buffer; }
    // After a build that failed because of a database value read or
    // inserted unsafely: the value's field ("router.globalmaster",
    // "additional.note") and why, which the caller reports (the build does
    // not log it). Both "" otherwise.
    const std::string& refusedField() const { return refused; }
    const std::string& refusal() const { return refusalText; }

protected:
    std::string fileName;
    std::string buffer;
    logEngine* log;
    unsigned long jobId;
    std::string suffix;
    Cordal_router* router = nullptr;
    Cordal_routertypes* routerType = nullptr;
    bool readNexaVersion = false;
    Cordal_swrelease* swRelease = nullptr;
    Cordal_contacts* contacts = nullptr;
    dbGroupRouteradditionals* additionals = nullptr;
    dbGroupLicenses* licenses = nullptr;
    Database* database = nullptr;
    std::string transferDir;
    std::string templateDir;
    std::string templateField;  // the column that named the template
    std::string refused, refusalText;

private:
    // Building steps; each logs its failure and returns false.
    bool chooseSources(std::string& templateName, std::string& downloaded);
    bool exportDownloaded(const std::string& downloaded, const std::string& target);
    bool processTemplate(const std::string& templateName);
    // Whether the template name (and the model's folder) stay inside the
    // template directory; notes the refusal otherwise.
    bool templateInside(const std::string& templateName);
    bool writeFile(const std::string& path, const std::string& text);
};
