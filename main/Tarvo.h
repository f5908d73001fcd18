#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "util/ConnectionHandler.h"
#include "util/Paths.h"

class logEngine;
class configFile;
class Database;
class Cordal_jobs;
class Cordal_router;
class Cordal_routertypes;
class Cordal_swrelease;
class dbGroupRouteradditionals;
class Cordal_contacts;
class Cordal_customer;
class dbGroupLicenses;

// Tarvo is one provisioning job: it is built from the command line, driven
// through Init, Run, testPing and Finish in this order, and owns everything
// of the job for the whole run. Failures never leave a phase as exceptions:
// setError records them in reason, and every later phase looks at reason.
class Tarvo {
public:
    Tarvo(unsigned long jobId, bool debug, bool dumpLog, bool writeLogfile, bool directPrint, const Paths& paths);
    ~Tarvo();
    Tarvo(const Tarvo&) = delete;
    Tarvo& operator=(const Tarvo&) = delete;

    void Init();
    void Run();
    void testPing();
    bool Finish();

    void setError(const char* shortReason, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void updateJob(const std::string& status);
    // The caller owns the returned connection; nullptr for an unknown type.
    ConnectionHandler* createConnectionHandler(int type);

    // The workmode table: false for an unknown name.
    static bool lookupWorkmode(const std::string& name, bool& needsTestPing, bool& buildsConfig);
    // Whether this build can carry the workmode out on a device.
    static bool workmodeAvailable(const std::string& name);

    // Device operations on an open connection; failures go through setError.
    bool connect(ConnectionHandler& handler);
    void disconnect(ConnectionHandler& handler);
    void reboot(ConnectionHandler& handler);
    void sendPing(ConnectionHandler& handler);
    bool isQxCli() const;

    // Settings file (TarvoSettings.cpp).
    // getFromCfg finds one database setting of paths.settingsFile() by text
    // search and never parses the file: it gives "nostring" for a missing or
    // unreadable file and for a file without the element (the start-up's
    // "No DB-settings"). readXML parses the file and reads the job settings
    // for the router model, then derives the transfer-URL parts for the
    // family in routerOs; it is false for a file the parser rejects, a missing
    // required key or an unknown transfer method (the start-up's
    // "Bad XML-settings"). Neither writes a password or user name to the log.
    std::string getFromCfg(const std::string& name);
    bool readXML(const std::string& model);
    bool deriveTransferUrl();  // NEXA family: transferScheme/Credentials/Base

    static std::string my_to_str(int value);
    static std::string my_to_str(unsigned long value);
    static std::string my_to_str(unsigned long long value);

    std::string reason;
    bool rebootPending = false;
    std::string fallbackVariable;
    bool debug;
    bool dumpLog;
    bool writeLogfile;
    bool directPrint;
    std::string workmode;
    bool buildsConfig = false;
    bool needsTestPing = false;
    uint32_t jobId;

    Paths paths;
    configFile* cfgFile = nullptr;
    Database* db = nullptr;
    logEngine* log = nullptr;
    Cordal_jobs* job = nullptr;
    Cordal_router* router = nullptr;
    Cordal_routertypes* routerType = nullptr;
    Cordal_swrelease* swRelease = nullptr;
    dbGroupRouteradditionals* additionals = nullptr;
    Cordal_contacts* contacts = nullptr;
    Cordal_customer* customer = nullptr;
    dbGroupLicenses* licenses = nullptr;

    eConnectionType connType = Telnet;
    ConnectSettings* connectSettings = nullptr;
    LoginSettings* loginSettings = nullptr;
    std::string routerOs;  // the router type's os text, handed to connections

    std::string promptMain, promptPlus, promptConfig, promptConfigEnd, promptFtpConfig, promptSftp, promptAdmin,
        promptYesNo;

    std::string dbPass, dbHost, dbUser, dbName;
    std::string autoSelectLoaded, configRestoreTimeoutConfig = "600", configRestoreTimeoutImage = "600",
                                  configsPerRouter, tftpHost, fileTransferMethod, fileTransferPwd, fileTransferUsr,
                                  ipAllowDelete, ipConnectTimeout, readNexaVersion, routerRebootTime, transferScheme,
                                  transferCredentials, transferBase;
    unsigned rebootSleepSeconds = 0;

private:
    // Start-up steps; each returns the number of the next step, or
    // kInitDone after a failure recorded with setError.
    static const int kInitDone = 100;
    int initLogAndBanner();
    int initDatabaseSettings();
    int initDatabaseConnection();
    int initJob();
    int initRouter();
    int initRouterType();
    int initSettings();
    int initSoftwareRelease();
    int initAdditionals();
    int initContacts();
    int initCustomer();
    int initLicenses();
    int initConnectSettings();
    int initPrompts();
    int initLoginList();
    int initConnectionType();
    int initWorkmode();
    int initProcessId();

    // Finish helpers.
    bool jobWasFound() const;
    void removeCertificateFiles();
    void collectHistoryConfig(std::vector<std::string>& entries);
    bool storeHistory();
    void keepOutcomeOnDisk();
    std::string logFileName() const;
};
