#pragma once
#include <string>
#include <vector>

#include "db/dbRecord.h"

// Cordal_configs is one stored device configuration of a router (table
// cordal_configs, key id). Inserting one prunes the router's older rows:
// of the configurations fetched automatically (workmode "AutoFetch") only
// the newest survives, of all others the newest `keep` by jobtime
// (2147483647 keeps them all). Rows with equal jobtime count as one.
class Cordal_configs : public dbRecord {
public:
    Cordal_configs(Database* db, int keep);
    Cordal_configs(Database* db, int keep, Query* q);
    Cordal_configs(Database& db, int keep, unsigned long id);
    Cordal_configs(Database* db, int keep, const std::string& sql);

    static int num_cols() { return 6; }
    Cordal_configs* clear();  // also empties the texts and the configuration
    // Inserts the row, then (when it was stored) prunes; returns the new
    // id. lastOk() tells whether the row was stored; a failed pruning is
    // logged only.
    unsigned long long insert() override;
    void update(unsigned long key);
    void update() override { update(id); }

    unsigned long id = 0;
    unsigned long routerid = 0;
    unsigned long long jobtime = 0;
    std::string workmode;
    std::string osrel;
    std::vector<std::string> config;
    int keep;

protected:
    std::vector<Column> columns() override;
    void clearValues() override;

private:
    void prune();
};
