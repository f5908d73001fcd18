#pragma once
#include <string>

#include "db/dbRecord.h"

class logEngine;

// Cordal_swrelease is one software release of cordal_swrelease, addressed
// by its name (the router's softwareimage); a loaded release with id 0 was
// not found. Every value, the numbers included, is written between
// apostrophes.
//
// With the read-version flag set, a load that found its row inspects the
// release's NEXA system image, transferDir + "images/" + routertype + "/" +
// nexa, and keeps the version text found there in nexaVersion ("" when
// none could be read; the inspection logs why). Names that would lead out
// of that folder are not read (refusedColumn tells). transferDir is the
// installation's transfer directory with its trailing slash (one is added
// when missing). log (not owned) receives the inspection's findings.
class Cordal_swrelease : public dbRecord {
public:
    Cordal_swrelease(logEngine* log, bool readVersion, const std::string& transferDir, Database& db, unsigned long id);
    Cordal_swrelease(logEngine* log, bool readVersion, const std::string& transferDir, Database& db,
                     const std::string& name);
    Cordal_swrelease(logEngine* log, bool readVersion, const std::string& transferDir, Database* db,
                     const std::string& sql);
    Cordal_swrelease(logEngine* log, bool readVersion, const std::string& transferDir, Database* db, Query* q);
    Cordal_swrelease(logEngine* log, bool readVersion, const std::string& transferDir, Database* db);

    static int num_cols() { return 12; }
    Cordal_swrelease* clear();
    void update(const std::string& key);
    void update() override { update(name); }
    // Reads the version of the release's NEXA image into nexaVersion; true
    // when one was found.
    bool readnexaversion();

    unsigned long id = 0;
    std::string name;
    std::string routertype;
    unsigned long customerid = 0;
    std::string logic, bootmonitor, nexa, globalmaster, dsllogic, module2, module3, module4;

    logEngine* log;
    bool readVersion;
    std::string transferDir;
    std::string nexaVersion;  // "" until a version was read
    bool multiPart = false;   // set when the image turned out to be a package
    // Set when the image was not read because its name (column
    // refusedColumn, "nexa" or "routertype") leads out of the model's image
    // folder; refusal says so for the log. Both "" otherwise.
    std::string refusedColumn, refusal;

protected:
    std::vector<Column> columns() override;
    void afterLoad(bool found) override;
};
