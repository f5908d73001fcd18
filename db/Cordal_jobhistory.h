#pragma once
#include <string>
#include <vector>

#include "db/dbRecord.h"

// Cordal_jobhistory is one row of cordal_jobhistory: the outcome of a job
// as the job runner leaves it (key histid, assigned by the database). The
// job's columns repeat those of cordal_jobs; config and log hold the
// configuration handled and the whole log as lists of lines.
class Cordal_jobhistory : public dbRecord {
public:
    explicit Cordal_jobhistory(Database* db);
    Cordal_jobhistory(Database* db, Query* q);
    Cordal_jobhistory(Database& db, unsigned long histid);
    Cordal_jobhistory(Database* db, const std::string& sql);

    static int num_cols() { return 19; }
    Cordal_jobhistory* clear();
    void update(unsigned long key);
    void update() override { update(histid); }

    unsigned long histid = 0;
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
    std::vector<std::string> config;
    std::vector<std::string> log;
    unsigned long uid = 0;

protected:
    std::vector<Column> columns() override;
};
