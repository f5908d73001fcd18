#pragma once
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/dbsupport/TestDatabase.h"
#include "tests/support/TestSupport.h"

// End-to-end tests run the real program as a process against a database of
// their own on the private MariaDB server, with an installation root of
// their own. JobSetup owns both: it writes the settings file, creates the
// transfer and template folders, inserts the rows a job needs, runs the
// program through the test-only runner and reads back what it left.
// Link tarvo_teste2e and list FIXTURES mariadb.
namespace e2e {

// The job settings of the settings file; the database settings always come
// from the test's own database.
struct JobSettings {
    std::string autoSelectLoaded = "false";
    // The fallback timers in seconds; empty leaves the elements out (the
    // program then uses 600).
    std::string configRestoreTimeoutConfig;
    std::string configRestoreTimeoutImage;
    std::string configsPerRouter = "5";
    std::string tftpHost = "127.0.0.1";
    std::string fileTransferMethod = "tftp";
    std::string fileTransferUsr = "xfer";
    std::string fileTransferPwd = "xferpw";
    std::string ipAllowDelete = "false";
    std::string connectTimeout = "5";
    std::string readNexaVersion = "false";
    std::string rebootTime = "0";
    std::map<std::string, std::string> connectTimeoutPerModel;
    std::map<std::string, std::string> rebootTimePerModel;
    std::string jobDeadline;  // seconds; empty leaves the element out (7200)
    std::string routerLockWait;  // seconds; empty leaves the element out (600)
    std::string claimLease;      // seconds; empty leaves the element out (the job deadline)
};

class JobSetup {
public:
    explicit JobSetup(testdb::Schema schema = testdb::Schema::Full);
    // The same on another server (a PrivateServer the test stops or restarts).
    explicit JobSetup(const testdb::ServerFacts& server, testdb::Schema schema = testdb::Schema::Full);

    testsupport::TempDir root;
    std::string transferPassword;  // of the last settings file written
    std::mutex scanLock;           // run() may be called from several threads
    testdb::TestDatabase db;

    std::string settingsXml(const JobSettings& settings) const;
    void writeSettings(const JobSettings& settings = JobSettings());
    void writeSettingsText(const std::string& text);
    std::string transferDir() const { return root.path() + "/tftpboot/"; }
    std::string templateDir() const { return root.path() + "/var/template/master/"; }

    void addRouterType(const std::string& shortname, const std::string& os);
    // Inserts a router; columns not given keep the table's defaults.
    // Returns its id.
    unsigned long addRouter(const std::map<std::string, std::string>& columns);
    void addJob(unsigned long id, unsigned long routerId, const std::string& workmode,
                unsigned long long jobtime = 1700000000ULL);

    // Factor for the program's deliberate pauses (disconnect, reboot wait,
    // certificate wait, failed-rename wait); 1.0 runs them for real, which
    // the tests that check a pause as a lower bound set.
    double pauseScale = 0.05;
    // Factor for the limits of the program's device waits as a whole; 1.0
    // (the installed program's) unless a test waits for such a limit.
    double waitLimitScale = 1.0;

    // Runs the program with the root: RUNNER ROOT --pause-scale=F
    // [--wait-limit-scale=F] options... -j jobId.
    // startedPid receives the program's pid once it runs.
    testsupport::ProcessResult run(unsigned long jobId, std::vector<std::string> options = {"-l"},
                                   int timeoutSeconds = 180, std::atomic<int>* startedPid = nullptr);

    // Without -d, run() checks that no secret the job knows reached its
    // history row, its log file or its standard output and error; a leak is
    // a test failure. A test that means to show a secret switches it off.
    bool scanSecrets = true;
    // The secrets a job can know: every router's passwords and communities,
    // the variables flagged pwd_ "yes", the transfer password of the
    // settings file and the database password. Values shorter than four
    // characters and the user name "admin" are left out: they occur in
    // ordinary text.
    std::vector<std::string> knownSecrets();
    // Where a known secret occurs in the job's outputs; "" when nowhere.
    std::string leakedSecrets(unsigned long jobId, const testsupport::ProcessResult& result);

    bool jobRowExists(unsigned long jobId);
    long long historyRows(unsigned long jobId);
    // The job's history row, column name to value ("" for NULL); empty when none.
    std::map<std::string, std::string> history(unsigned long jobId);

private:
    void makeFolders();
};

}  // namespace e2e
