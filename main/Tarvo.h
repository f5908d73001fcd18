#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "util/ConnectionHandler.h"
#include "util/DeviceFamily.h"
#include "util/Paths.h"

// What the job holds through unique_ptr is only declared here: a source
// file includes the headers of the records it reads.
class configFile;
class Cordal_contacts;
class Cordal_customer;
class Cordal_jobs;
class Cordal_router;
class Cordal_routertypes;
class Cordal_swrelease;
class Database;
class dbGroupLicenses;
class dbGroupRouteradditionals;
class JobClaim;
class logEngine;
struct Workmode;

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

    // The dialogue layer of the device operations (TarvoDialogue.cpp).
    // One device step of the common kind: sends command awaiting prompt
    // (with the quiet flag when the command or its reply carries a secret).
    // A missing prompt fails the job with "Missing prompt" / "Missing '%s'
    // prompt." and returns false. reply, when given, receives the device's
    // reply either way.
    // timeoutSeconds, when not 0, is the silence time-out of this one
    // command (a slow one); the command time-out holds again after it.
    bool step(ConnectionHandler& link, const std::string& command, const std::string& prompt,
              commandResult* reply = nullptr, bool quiet = false, int timeoutSeconds = 0);
    // One command whose reply the caller judges (with reasons of its own):
    // command awaiting prompt, with the silence time-out of step's
    // timeoutSeconds.
    commandResult exchange(ConnectionHandler& link, const std::string& command, const std::string& prompt,
                           int timeoutSeconds = 0, const std::string& second = "", bool quiet = false);
    // step for a command that carries secret: the reply is ordinary traffic
    // with the secret shown as "******".
    bool secretStep(ConnectionHandler& link, const std::string& command, const std::string& prompt,
                    const std::string& secret);
    // Fails the job with the common missing-prompt reason and message.
    void missingPrompt(const std::string& prompt);
    // A step's failure: "Command refused" when the channel would not send
    // the command, otherwise the missing prompt.
    void stepFailed(const std::string& prompt, bool refused);
    // A NEXA transfer command: head + transferCredentials + tail, awaiting
    // prompt (and second, when given). With credentials and without -d the
    // log shows "*> HEAD*:*@TAIL" and the reply is logged as debug.
    // shownHead, when given, is head with a secret of its own (the PKCS#12
    // passphrase) blanked out: the command is then logged that way, and its
    // reply as debug, whatever the transfer method.
    commandResult transferCommand(ConnectionHandler& link, const std::string& head, const std::string& tail,
                                  const std::string& prompt, const std::string& second = "",
                                  const std::string& shownHead = "", int timeoutSeconds = 0);
    // Whether an sftp reply reports a failed transfer, rename or removal:
    // older clients print "Couldn't ...", OpenSSH 9 prints "remote ...:
    // No such file or directory" and the like, and 'File "X" not found.'
    // for a get of a missing file.
    static bool sftpReplyFailed(const commandResult& reply);
    // Puts the local file into the device's memory as memoryFile and renames
    // it to target (on the disk) over the SFTP connection. False with
    // "Bad file-transfer" or "Bad file-renaming"; renameFailed tells the
    // second. A failed put leaves no partial memoryFile behind.
    bool sftpPutAndRename(ConnectionHandler& sftp, const std::string& local, const std::string& memoryFile,
                          const std::string& target, bool& renameFailed);
    // Removes what a failed put left of memoryFile (a full disk keeps the
    // part that fitted, which would fill the next attempt too) and logs it.
    void removePartialUpload(ConnectionHandler& sftp, const std::string& memoryFile);
    // Opens an SFTP connection of its own for one transfer, runs work on it
    // and disconnects it. False (with the reason set) when it could not be
    // created or logged in; work is then not run.
    bool withSftp(const std::function<void(ConnectionHandler&)>& work);
    // The qx.CLI boot-configuration file name with ".CFG", "CONFIG.DEF" when
    // useDefault is true, empty (with the reason set) on failure.
    std::string getCfgFileNameQxCli(ConnectionHandler& link, bool useDefault);

    // Configuration download (TarvoDeviceDownload.cpp): the device's boot
    // configuration into the transfer directory as JOBID.config. all asks
    // NEXA devices for all configurations ("put_all"). False with the reason
    // set on failure.
    bool getConfig(ConnectionHandler& link, bool all);
    bool getConfigNexa(ConnectionHandler& link, bool all);
    bool getConfigQxCli(const std::string& name);  // opens its own SFTP connection
    // Stores the job's downloaded configuration as the router's "AutoFetch"
    // row (job time minus 1, every row kept but the newest AutoFetch one);
    // false with "No config" when the file cannot be read.
    bool storeAutoFetch();
    // The "-s ADDR " option of configd for the router's localipfortftp ("" when
    // it has none); false with "Cannot set src-addr" when the device lacks it.
    // readVersion sends "tmibAdmSWVersion" before the probe (the download;
    // the upload has sent it already).
    bool configdSourceOption(ConnectionHandler& link, std::string& option, bool readVersion = true);
    // " -I ADDR" of cert get, the same way.
    bool certSourceOption(ConnectionHandler& link, std::string& option);
    // One configd transfer of the job's JOBID.config under the step title:
    // verb put/put_all (the device sends configuration name) or get/get_all
    // (the device fetches into name). False with "Bad file-transfer" unless
    // the device confirmed it.
    bool configdTransfer(ConnectionHandler& link, const std::string& title, const std::string& source,
                         const std::string& verb, const std::string& name);

    // Configuration upload (TarvoDeviceUpload.cpp): JOBID.config and the
    // router's PKCS#12 files become the device's boot configuration (with
    // bootFac its factory-boot one); certsOnly loads only the certificates,
    // configAll replaces every configuration and loads none. False with the
    // reason set on failure; the NEXA target is changed by the last step
    // only.
    bool updateConfig(ConnectionHandler& link, bool configAll, bool certsOnly, bool bootFac);
    bool updateConfigNexa(ConnectionHandler& link, bool configAll, bool certsOnly, bool bootFac);
    bool updateConfigQxCli(const std::string& name, bool bootFac);  // opens its own SFTP connection
    // "%010ld.pkcs12" for index < 0, else "%010ld_%i.pkcs12".
    static std::string certFileName(unsigned long routerId, int index);

    // Device operations on an open connection; failures go through setError.
    bool connect(ConnectionHandler& handler);
    void disconnect(ConnectionHandler& handler);
    void reboot(ConnectionHandler& handler);
    void sendPing(ConnectionHandler& handler);
    bool isQxCli() const { return family.isQxCli(); }

    // Inventory (TarvoDeviceInventory.cpp): serial number, part number and
    // software version, each stored in the router row as soon as it is
    // found. The readers report no failure themselves; inventory does.
    void inventory(ConnectionHandler& link);
    bool inventoryPrepNexa(ConnectionHandler& link);
    bool inventoryPrepQxCli(ConnectionHandler& link, commandResult& report);  // fills report
    bool inventorySerialNexa(ConnectionHandler& link);
    bool inventoryPartNoNexa(ConnectionHandler& link);
    bool inventorySwVerNexa(ConnectionHandler& link);
    bool inventorySerialQxCli(const commandResult& report);
    bool inventoryPartNoQxCli(const commandResult& report);
    bool inventorySwVerQxCli(const commandResult& report);
    // "V.10.1.5.101" -> "10.1.5.101", "V.7.10 Rev. 3 (Patch 12)" ->
    // "7.10.3 Patch 12"; empty when the text has neither form.
    static std::string getSwVersionFromMib(const std::string& text);

    // Passwords (TarvoDevicePasswords.cpp): the router's administrator
    // password (and on NEXA its communities) into the device, into the boot
    // configuration too unless the customer's mode is "secure".
    void setPasswords(ConnectionHandler& link);
    void setPasswordsNexa(ConnectionHandler& link);
    void setPasswordsQxCli(ConnectionHandler& link);

    // The fallback timer and the boot configuration (TarvoDeviceFallback.cpp).
    // qx.CLI devices have no timer: the two timer operations do their part
    // at once there, sending nothing.
    //
    // FallbackGuard is the armed timer of one stage, as scheduleFallback
    // returns it: unless the stage flushes the timer through the guard or
    // the job reboots the device while the guard lives, its destructor
    // reboots the device (whose reboot logs that the device restarts by
    // itself when the connection is gone). It is true when the device
    // confirmed the timer; a guard of an unconfirmed timer reboots too, since
    // the device may count down all the same.
    class [[nodiscard]] FallbackGuard {
    public:
        FallbackGuard(Tarvo& job, ConnectionHandler& link, bool scheduled);
        ~FallbackGuard();
        FallbackGuard(const FallbackGuard&) = delete;
        FallbackGuard& operator=(const FallbackGuard&) = delete;
        explicit operator bool() const { return scheduled; }
        // Cancels the timer; true, and the guard done, when the device
        // confirmed it and the job has not failed.
        bool flush();

    private:
        Tarvo& job;
        ConnectionHandler& link;
        bool scheduled;
        bool flushed = false;
        unsigned rebootsBefore;  // the job's reboot count when the timer was armed
    };
    FallbackGuard scheduleFallback(ConnectionHandler& link, const std::string& seconds);
    bool scheduleFallbackNexa(ConnectionHandler& link, const std::string& seconds);
    bool flushFallback(ConnectionHandler& link);
    bool flushFallbackNexa(ConnectionHandler& link);
    // Logs (INF) that the device restarts by itself within the armed
    // seconds; nothing when no timer is known to be armed.
    void reportArmedFallback();
    bool deleteBootConfig(ConnectionHandler& link);
    bool deleteBootConfigNexa(ConnectionHandler& link);
    bool deleteBootConfigQxCli(const std::string& name);

    // Firmware images of the software release (TarvoDeviceFirmware.cpp).
    // One image: its keyword, its file in the model's image directory and,
    // for qx.CLI, the device file and directory it ends up in.
    struct ImgRow {
        std::string keyword, file, deviceFile, deviceDir;
        const char* column;  // the release column that names the file
    };
    std::vector<ImgRow> imageRowsNexa() const;
    std::vector<ImgRow> imageRowsQxCli() const;
    void updateImages(ConnectionHandler& link);
    void updateImagesNexa(ConnectionHandler& link);
    bool updateImagesPrepQxCli(ConnectionHandler& link);
    void updateImagesQxCli();  // over an SFTP connection of its own
    // The limit of each wait while a file of the transfer directory travels
    // to a device (a firmware image fetched, checked and flashed; any sftp
    // put): a base for the device's own work plus the file's size at the
    // slowest rate a transfer is still taken to be alive at.
    static int transferWaitLimit(const std::string& localFile);
    static constexpr int kTransferBaseSeconds = 600;
    static constexpr long kSlowestTransferBytesPerSecond = 8 * 1024;

    // Database values looked at before the first stage (TarvoValueChecks.cpp):
    // what the workmode's stages and its test ping put into device commands,
    // and the files they read. False, with the reason "Bad TABLE.COLUMN" and
    // nothing sent, for a value that would end its command line or quoted
    // argument early, pass for an option, or name a file outside its folder.
    struct ValueUses {
        bool login = false;          // the router's passwords at the login
        bool setPasswords = false;   // the new passwords, between double quotes
        bool certificates = false;   // cert get's passphrase and label (NEXA)
        bool sourceAddress = false;  // localipfortftp as an option's argument (NEXA)
        bool images = false;         // the release's images
        bool templateName = false;   // the template the build reads
        bool ping = false;           // the test ping's source and target
    };
    bool checkValues(const ValueUses& uses);

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
    // The seconds of a claim setting: fallback when text is empty, and
    // (with an error line) when it is not a whole number from lowest to
    // highest.
    unsigned claimSetting(const char* key, const std::string& text, unsigned fallback, unsigned lowest,
                          unsigned highest);

    // Termination requests (TarvoTermination.cpp). SIGTERM, SIGINT and SIGHUP
    // only set a flag that ends pauses and device waits; installSignalHandlers
    // is called once by the program before the job runs. noteTermination
    // turns a pending request into the reason "Terminated" (once, logging
    // the signal and an armed fallback timer) and tells whether there was
    // one. reportWithoutHistory is the one line on standard error, and the
    // log file, of a failed job that stored no history row.
    static void installSignalHandlers();
    static int terminationSignal();
    // The job deadline (config.jobdeadline): seconds from the job's start
    // after which SIGALRM ends the job exactly like a termination request,
    // with the reason "Deadline exceeded". armDeadline (re)arms it for the
    // time left; cancelDeadline disarms it while the outcome is recorded.
    void armDeadline(unsigned seconds);
    static void cancelDeadline();
    static constexpr unsigned kDefaultJobDeadline = 7200;
    bool noteTermination();
    void reportWithoutHistory(bool jobRowKept);
    bool terminationNoted = false;
    double startedAt;          // monotonic seconds at construction: the deadline counts from here
    std::string errorMessage;  // the long message of the last setError

    static std::string my_to_str(int value);
    static std::string my_to_str(unsigned long value);
    static std::string my_to_str(unsigned long long value);

    std::string reason;
    bool rebootPending = false;
    unsigned reboots = 0;  // reboot calls so far: a fallback guard is done by one
    std::string fallbackVariable;
    // The seconds of the device's armed fallback timer; empty when none is
    // armed as far as the job knows (cleared by a flush the device
    // confirmed and by reboot).
    std::string fallbackSeconds;
    bool debug;
    bool dumpLog;
    bool writeLogfile;
    bool directPrint;
    std::string workmode;
    // The job's row of the workmode table (main/Workmode.h): the unknown row
    // until start-up has loaded the job, and for a name the table lacks.
    const Workmode* mode;
    // Set from the row by the last start-up steps only: a job that failed
    // earlier neither builds a configuration nor pings.
    bool buildsConfig = false;
    bool needsTestPing = false;
    uint32_t jobId;

    Paths paths;
    // Declared so that they are destroyed in reverse: the records and the
    // configuration borrow the database and the log, the database the log.
    std::unique_ptr<logEngine> log;
    std::unique_ptr<Database> db;
    std::unique_ptr<Cordal_jobs> job;
    std::unique_ptr<Cordal_router> router;
    std::unique_ptr<Cordal_routertypes> routerType;
    std::unique_ptr<Cordal_swrelease> swRelease;
    std::unique_ptr<dbGroupRouteradditionals> additionals;
    std::unique_ptr<Cordal_contacts> contacts;
    std::unique_ptr<Cordal_customer> customer;
    std::unique_ptr<dbGroupLicenses> licenses;
    std::unique_ptr<configFile> cfgFile;
    // This process's hold on the job and its router (the claim table); set
    // by the claim step, released by Finish once the history row is stored.
    std::unique_ptr<JobClaim> claim;

    eConnectionType connType = Telnet;
    std::unique_ptr<ConnectSettings> connectSettings;
    std::unique_ptr<LoginSettings> loginSettings;
    std::string routerOs;  // the router type's os text
    // The family's texts, built from routerOs at start-up; its prompts get
    // the prompt prefix a qx.CLI login learns.
    DeviceFamily family;

    std::string dbPass, dbHost, dbUser, dbName;
    std::string autoSelectLoaded, configRestoreTimeoutConfig = "600", configRestoreTimeoutImage = "600",
                                  configsPerRouter, tftpHost, fileTransferMethod, fileTransferPwd, fileTransferUsr,
                                  ipAllowDelete, ipConnectTimeout, readNexaVersion, routerRebootTime, transferScheme,
                                  transferCredentials, transferBase, jobDeadline = "7200", routerLockWait, claimLease;
    unsigned rebootSleepSeconds = 0;
    unsigned jobDeadlineSeconds = kDefaultJobDeadline;
    // config.routerLockWait: how long a job waits for a router another
    // running job holds. config.claimLease: how old another host's
    // heartbeat must be before its router is taken over (the dispatcher
    // reads the same key and default): the job deadline unless set, since
    // no job outlives it, whatever step it is in.
    unsigned routerLockWaitSeconds = kDefaultRouterLockWait;
    unsigned claimLeaseSeconds = kDefaultJobDeadline;
    static constexpr unsigned kDefaultRouterLockWait = 600;

    // The claim of the job: not tried (Init ended before it), held, lost to
    // another process (which runs the job: this one runs nothing, writes
    // nothing and exits with kExitClaimedByAnother) or failed (nothing
    // written either, the job row left to the management system).
    enum class ClaimState { kNotTried, kHeld, kLost, kFailed };
    ClaimState claimState = ClaimState::kNotTried;
    std::string claimHolder;  // the holder of a lost claim, as the line on standard error names it
    bool claimLost() const { return claimState == ClaimState::kLost; }
    static constexpr int kExitClaimedByAnother = 3;

private:
    // The stages of Run, in pipeline order; each returns false to end Run.
    // Which stages act for a workmode is part of the workmode table.
    bool stageSetPasswords(ConnectionHandler& link);
    bool stageInventory(ConnectionHandler& link);
    bool stageReboot(ConnectionHandler& link);
    // Connects, runs operation, disconnects; false when anything failed.
    bool connectedStage(ConnectionHandler& link, void (Tarvo::*operation)(ConnectionHandler&));
    bool stageSSHKeyGen(ConnectionHandler& link);
    bool stageDownload(ConnectionHandler& link);
    bool stageImages(ConnectionHandler& link);  // TarvoDeviceFirmware.cpp
    bool stageBuildConfig(ConnectionHandler& link);
    bool stageUpload(ConnectionHandler& link);
    bool stageConfigCreated(ConnectionHandler& link);
    bool stageEncryptConfig(ConnectionHandler& link);
    // Runs one command of the encryption tool through the shell; false, with
    // the job failed, unless it exits with 0. shown is what the log may
    // name of it.
    bool runEncryptionStep(const std::string& command, const char* shown);
    bool stageErase(ConnectionHandler& link);
    bool stageCompare(ConnectionHandler& link);  // TarvoCompare.cpp

    // Steps of the download and upload (TarvoDeviceDownload.cpp,
    // TarvoDeviceUpload.cpp).
    // A source-address probe: the help command and the help text's mark of
    // the option, the option around the address, the two outcomes' texts.
    struct SourceProbe {
        const char* title;
        const char* help;
        const char* marker;
        const char* optionHead;
        const char* optionTail;
        const char* supported;    // INF line
        const char* unsupported;  // message of "Cannot set src-addr"
    };
    // The option for the router's localipfortftp ("" when it has none):
    // announces the probe's title, reads the software version first when
    // readVersion, and asks the help text; false with "Cannot set src-addr"
    // when the device lacks the option.
    bool probeSourceOption(ConnectionHandler& link, const SourceProbe& probe, bool readVersion, std::string& option);
    // Whether the first certificate file is there (after one wait); present
    // tells whether it holds certificates.
    bool certificateFileReady(bool& present);
    bool backupCertTables(ConnectionHandler& link);
    bool restoreCertTables(ConnectionHandler& link);
    bool loadCertificates(ConnectionHandler& link);
    commandResult sendCertGet(ConnectionHandler& link, const std::string& source, const std::string& file,
                              const std::string& label);

    bool updateSourceOptionNexa(ConnectionHandler& link, std::string& option);
    void updateImageQxCli(ConnectionHandler& sftp, const ImgRow& row);

    // One database value for the checks before the first stage: its label
    // for the reason ("router.name"), how the log names it ("Router column
    // 'name'") and whether the log may show it.
    struct ValueSource {
        std::string label, description, value;
        bool secret;
    };
    ValueSource routerValue(const char* column, const std::string& value, bool secret) const;
    // False, with the job failed, when value breaks one of rules (bits of
    // TarvoValueChecks.cpp); checkFileName also resolves it inside dir.
    bool checkValue(const ValueSource& source, unsigned rules);
    bool checkFileName(const ValueSource& source, const std::string& dir, unsigned rules);
    bool refuseValue(const ValueSource& source, const std::string& what);
    bool checkNewPasswords();
    bool checkImageNames();
    bool checkTemplateName();

    // Start-up steps (TarvoStartup.cpp); each returns false after a failure
    // recorded with setError. kInitSteps holds them by their number.
    using InitStep = bool (Tarvo::*)();
    static const InitStep kInitSteps[];
    static const size_t kInitStepCount;
    bool initLogAndBanner();
    bool initDatabaseSettings();
    bool initDatabaseConnection();
    bool initJob();
    bool initRouter();
    bool initRouterType();
    bool initSettings();
    bool initSoftwareRelease();
    bool initAdditionals();
    bool initContacts();
    bool initCustomer();
    bool initLicenses();
    bool initConnectSettings();
    bool initPrompts();
    bool initLoginList();
    bool initConnectionType();
    bool initWorkmode();
    bool initClaim();        // the job: its claim row and the job row's processid
    bool initRouterLease();  // the router: waits while another running job holds it
    // The claim of the job (the claim step, and Finish for a job whose
    // start-up ended before it); failJob makes a lost or failed claim the
    // job's reason, else it is only logged.
    bool takeClaim(bool failJob);
    // Hands every secret known so far to the log engine, which masks it in
    // all lines below debug level; called as soon as secrets are loaded.
    void registerSecrets();

    // Finish helpers.
    bool jobWasFound() const;
    void removeCertificateFiles();  // only for a workmode that loads them
    void removeUploadedConfig();    // only for a workmode that uploads it
    void collectHistoryConfig(std::vector<std::string>& entries);
    bool storeHistory();
    // Whether a history row of this job is in the database (after an
    // insert whose answer was lost).
    bool historyStored();
    // The job's own file of the transfer directory: JOBID followed by suffix
    // (".log", ".config", ".csv").
    std::string jobFile(const std::string& suffix) const;
};
