#pragma once
#include <string>

#include "db/dbRecord.h"

// Cordal_jobs is one row of cordal_jobs: a provisioning job that the
// management system queued for one router (key id; a loaded job with id 0
// was not found). Time stamps are seconds since 1970.
class Cordal_jobs : public dbRecord {
public:
    explicit Cordal_jobs(Database* db);
    Cordal_jobs(Database* db, Query* q);
    Cordal_jobs(Database& db, unsigned long id);
    Cordal_jobs(Database* db, const std::string& sql);

    static int num_cols() { return 16; }
    Cordal_jobs* clear();
    void update(unsigned long key);
    void update() override { update(id); }

    unsigned long id = 0;
    unsigned long routerid = 0;
    unsigned long long jobtime = 0;
    unsigned long long starttime = 0;
    unsigned long long endtime = 0;
    unsigned long long watchdog = 0;
    unsigned long processid = 0;
    std::string workmode;
    std::string status;
    unsigned short pending = 0;
    unsigned short priority = 0;
    unsigned short reasoncode = 0;
    std::string reason;
    long retrycount = 0;
    std::string osrel;
    unsigned long uid = 0;

protected:
    std::vector<Column> columns() override;
};
