// Job start-up (Init) and the job's end (Finish): a job id becomes a loaded
// job, and every job that was found ends as exactly one history row.
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>
#include <cstdio>
#include <ctime>
#include <exception>

#include "config/configFile.h"
#include "db/Cordal_configs.h"
#include "db/Cordal_contacts.h"
#include "db/Cordal_customer.h"
#include "db/Cordal_jobhistory.h"
#include "db/Cordal_jobs.h"
#include "db/Cordal_router.h"
#include "db/Cordal_routertypes.h"
#include "db/Cordal_swrelease.h"
#include "db/Database.h"
#include "db/JobClaim.h"
#include "db/Query.h"
#include "db/dbGroupLicenses.h"
#include "db/dbGroupRouteradditionals.h"
#include "main/Tarvo.h"
#include "main/Workmode.h"
#include "util/Pause.h"
#include "util/Version.h"
#include "util/logEngine.h"

namespace {
bool equalsIgnoringCase(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}
}  // namespace

std::string Tarvo::jobFile(const std::string& suffix) const {
    return paths.transferDir() + my_to_str(static_cast<unsigned long>(jobId)) + suffix;
}

// The start-up steps in their order: a step's number is its index (0 has
// none). Each returns false after a failure it recorded with setError, and
// no later step runs then.
const Tarvo::InitStep Tarvo::kInitSteps[] = {
    nullptr,
    &Tarvo::initLogAndBanner,        // 1
    &Tarvo::initDatabaseSettings,    // 2
    &Tarvo::initDatabaseConnection,  // 3
    &Tarvo::initJob,                 // 4
    &Tarvo::initRouter,              // 5
    &Tarvo::initRouterType,          // 6
    &Tarvo::initSettings,            // 7
    &Tarvo::initSoftwareRelease,     // 8
    &Tarvo::initAdditionals,         // 9
    &Tarvo::initContacts,            // 10
    &Tarvo::initCustomer,            // 11
    &Tarvo::initLicenses,            // 12
    &Tarvo::initConnectSettings,     // 13
    &Tarvo::initPrompts,             // 14
    &Tarvo::initLoginList,           // 15
    &Tarvo::initConnectionType,      // 16
    &Tarvo::initWorkmode,            // 17
    &Tarvo::initClaim,               // 18
    &Tarvo::initRouterLease,         // 19
};
const size_t Tarvo::kInitStepCount = sizeof kInitSteps / sizeof kInitSteps[0];

void Tarvo::Init() {
    // Until the settings say otherwise, the default deadline holds.
    armDeadline(kDefaultJobDeadline);
    for (size_t step = 1; step < kInitStepCount; ++step) {
        InitStep run = kInitSteps[step];
        if (!run) {
            setError("Unexpected state", "Reached unexpected init-state.");
            return;
        }
        if (!(this->*run)()) return;
    }
}

bool Tarvo::initLogAndBanner() {
    std::string name = writeLogfile ? jobFile(".log") : std::string("nofile");
    log.reset(new logEngine(debug, name));
    log->setDirectPrint(directPrint);
    // The file is written from the claim on: until then the job may be
    // another process's, whose file has the same name. A start-up that
    // fails before the claim writes it at the end.
    if (writeLogfile) log->holdFile();
    log->addLine(logEngine::CTL, "Tarvo Version %s.%s.%s starting.", TARVO_VERSION_MAJOR, TARVO_VERSION_MINOR,
                 TARVO_VERSION_PATCH);
    log->add(logEngine::INF, "");
    log->add(logEngine::INF, "*** Starting basic job and database initialization.");
    if (writeLogfile) log->addLine(logEngine::INF, "Writing to logfile '%s'.", name.c_str());
    return true;
}

bool Tarvo::initDatabaseSettings() {
    dbPass = getFromCfg("dbpass");
    dbUser = getFromCfg("dbuser");
    dbHost = getFromCfg("server");
    dbName = getFromCfg("dbname");
    if (dbPass == "nostring") {
        setError("No DB-settings", "Could not get database-settings from config.");
        return false;
    }
    registerSecrets();
    log->addLine(logEngine::DBG, "Got DB-password '%s' from configfile.", dbPass.c_str());
    log->addLine(logEngine::DBG, "Got DB-username '%s' from configfile.", dbUser.c_str());
    log->addLine(logEngine::DBG, "Got DB-name '%s' from configfile.", dbName.c_str());
    log->addLine(logEngine::DBG, "Got DB-Host '%s' from configfile.", dbHost.c_str());
    return true;
}

bool Tarvo::initDatabaseConnection() {
    db.reset(new Database(dbHost, dbUser, dbPass, dbName, log.get()));
    if (!db->Connected()) {
        setError("No DB-connection", "Could not connect to database.");
        return false;
    }
    log->add(logEngine::DBG, "Successfully connected to the database.");
    return true;
}

bool Tarvo::initJob() {
    job.reset(new Cordal_jobs(*db, static_cast<unsigned long>(jobId)));
    if (job->id == 0) {
        setError("No job in DB", "Job %d not found in database.", static_cast<int>(jobId));
        return false;
    }
    log->addLine(logEngine::INF, "Successfully loaded job '%d' from database.", static_cast<int>(jobId));
    log->addLine(logEngine::INF, "Requested workmode is '%s'.", job->workmode.c_str());
    workmode = job->workmode;
    // The row is known from here on; the flags that say what Run and
    // testPing do are only set once the whole start-up has succeeded.
    mode = &Workmode::named(workmode);
    return true;
}

bool Tarvo::initRouter() {
    // A router table that lacks a column the program needs makes the
    // record's by-name reader throw; the job fails instead of crashing.
    try {
        router.reset(new Cordal_router(*db, job->routerid));
    } catch (const std::exception& e) {
        setError("No router in DB", "Could not load router %lu from database: %s (the router table lacks a column).",
                 job->routerid, e.what());
        return false;
    }
    if (router->id == 0) {
        setError("No router in DB", "Could not find router in database.");
        return false;
    }
    registerSecrets();
    log->addLine(logEngine::INF, "Successfully loaded router '%s' from database.", router->name.c_str());
    return true;
}

bool Tarvo::initRouterType() {
    routerType.reset(new Cordal_routertypes(*db, router->model));
    // The database may compare names without regard to case; the type only
    // counts when it is exactly the router's model.
    if (routerType->shortname != router->model) {
        setError("No routertype in DB", "Could not find routertype '%s' in database.", router->model.c_str());
        return false;
    }
    routerOs = routerType->os;
    family = DeviceFamily(routerOs);
    log->addLine(logEngine::INF, "Successfully loaded routertype '%s' from database.", router->model.c_str());
    return true;
}

bool Tarvo::initSettings() {
    if (!readXML(router->model)) {
        setError("Bad XML-settings", "Could not read settings from cordal.xml.");
        return false;
    }
    armDeadline(jobDeadlineSeconds);
    registerSecrets();
    return true;
}

bool Tarvo::initSoftwareRelease() {
    bool installsImages = mode->acts(Workmode::kImages);
    bool versionRequired = family.isNexa() && installsImages;
    bool readVersion = versionRequired || (family.isNexa() && equalsIgnoringCase(readNexaVersion, "true"));
    swRelease.reset(new Cordal_swrelease(log.get(), readVersion, paths.transferDir(), *db, router->softwareimage));
    if (!swRelease->refusedColumn.empty()) {
        setError(("Bad swrelease." + swRelease->refusedColumn).c_str(), "%s Nothing was sent to the device.",
                 swRelease->refusal.c_str());
        return false;
    }
    if (swRelease->id != 0) {
        if (versionRequired && swRelease->nexaVersion.empty()) {
            setError("Bad NEXA-version", "Could not read NEXA-version.");
            return false;
        }
        log->addLine(logEngine::INF, "Successfully loaded swrelease '%s' from database.", swRelease->name.c_str());
    } else if (installsImages) {
        setError("No swrelease in DB", "Could not find swrelease in database.");
        return false;
    } else {
        log->add(logEngine::INF, "Could not find swrelease in database.");
    }
    return true;
}

bool Tarvo::initAdditionals() {
    additionals.reset(new dbGroupRouteradditionals(db.get(), job->routerid));
    registerSecrets();
    log->addLine(logEngine::INF, "Fetched %d additional parameters from database.",
                 static_cast<int>(additionals->getNumParams()));
    return true;
}

bool Tarvo::initContacts() {
    contacts.reset(new Cordal_contacts(*db, router->customerid));
    log->add(logEngine::INF, "Loaded contact-info from database.");
    return true;
}

bool Tarvo::initCustomer() {
    customer.reset(new Cordal_customer(*db, router->customerid));
    log->add(logEngine::INF, "Loaded project-info from database.");
    return true;
}

bool Tarvo::initLicenses() {
    licenses.reset(new dbGroupLicenses(db.get(), router->seriennr));
    log->addLine(logEngine::INF, "Fetched %d router licenses from database.",
                 static_cast<int>(licenses->getNumParams()));
    return true;
}

bool Tarvo::initConnectSettings() {
    connectSettings.reset(new ConnectSettings);
    connectSettings->address = router->ipnumber;
    // Taken as they are: a port out of range is refused at connect time.
    connectSettings->telnetPort = static_cast<long>(router->telnetport);
    connectSettings->sshPort = static_cast<long>(router->sshport);
    connectSettings->connectTimeout = atoi(ipConnectTimeout.c_str());
    connectSettings->commandTimeout = 10;
    connectSettings->fallbackAddress = router->ipfallbacknumber;
    connectSettings->startWithFallback = router->startwithfallback == "1";
    return true;
}

// The family's prompts came with the router type (step 6): the family value
// holds them.
bool Tarvo::initPrompts() {
    return true;
}

bool Tarvo::initLoginList() {
    const char* const* factory = family.defaultPasswords;
    loginSettings.reset(new LoginSettings{
        {"admin", router->tmibadmadmincommunity, "(supplied)"},
        {"admin", router->oldcommunity, "(lastworking)"},
        {"admin", factory[0], "(default-1)"},
        {"admin", factory[1], "(default-2)"},
        {"admin", factory[2], "(default-3)"},
        {"admin", factory[3], "(default-4)"},
    });
    return true;
}

bool Tarvo::initConnectionType() {
    connType = equalsIgnoringCase(router->conntype_ip.String(), "SSH") ? SSH : Telnet;
    return true;
}

bool Tarvo::initWorkmode() {
    if (!mode->known()) {
        setError("Unknown workmode", "Requested workmode is unknown.");
        return false;
    }
    needsTestPing = mode->needsTestPing;
    buildsConfig = mode->buildsConfig;
    return true;
}

bool Tarvo::initClaim() {
    return takeClaim(true);
}

bool Tarvo::takeClaim(bool failJob) {
    claim.reset(new JobClaim(*db, jobId, log.get()));
    JobClaim::Holder holder;
    switch (claim->claim(holder)) {
        case JobClaim::kTaken:
            claimState = ClaimState::kHeld;
            job->processid = claim->pid();
            log->releaseFile();
            return true;
        case JobClaim::kHeldByAnother:
            claimState = ClaimState::kLost;
            // The file of that name is the holder's.
            log->dropFile();
            claimHolder = holder.describe();
            if (failJob)
                setError("Claimed by another", "Job %d is held by another process (%s).", static_cast<int>(jobId),
                         claimHolder.c_str());
            else
                log->addLine(logEngine::ERR, "Job %d is held by another process (%s).", static_cast<int>(jobId),
                             claimHolder.c_str());
            return false;
        case JobClaim::kFailed:
            break;
    }
    claimState = ClaimState::kFailed;
    if (failJob)
        setError("No claim", "Could not claim job %d: %s.", static_cast<int>(jobId), claim->error().c_str());
    else
        log->addLine(logEngine::ERR, "Could not claim job %d: %s.", static_cast<int>(jobId), claim->error().c_str());
    return false;
}

bool Tarvo::initRouterLease() {
    const unsigned long routerId = job->routerid;
    timespec start{}, now{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    bool waiting = false;
    for (;;) {
        JobClaim::Holder holder;
        JobClaim::Outcome outcome = claim->leaseRouter(routerId, claimLeaseSeconds, holder);
        clock_gettime(CLOCK_MONOTONIC, &now);
        const double waited =
            static_cast<double>(now.tv_sec - start.tv_sec) + static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
        if (outcome == JobClaim::kTaken) {
            if (waiting) log->addLine(logEngine::INF, "Router %lu is free after %.0f seconds.", routerId, waited);
            return true;
        }
        if (outcome == JobClaim::kFailed) {
            setError("No router lease", "Could not lease router %lu: %s.", routerId, claim->error().c_str());
            return false;
        }
        if (!waiting && holder.known) {
            log->addLine(logEngine::INF, "Router %lu is held by job %lu (%s); waiting up to %u seconds.", routerId,
                         holder.jobId, holder.describe().c_str(), routerLockWaitSeconds);
            waiting = true;
        }
        if (waited >= static_cast<double>(routerLockWaitSeconds)) {
            setError("Router busy", "Router %lu is held by job %lu (%s); gave up after %.0f seconds.", routerId,
                     holder.jobId, holder.describe().c_str(), waited);
            return false;
        }
        // The heartbeat shows the hosts that look at this row that the
        // waiting job is alive.
        claim->heartbeat();
        Pause::seconds(1);
        if (noteTermination()) return false;
    }
}

void Tarvo::registerSecrets() {
    log->addSecret(dbPass);
    log->addSecret(fileTransferPwd);
    log->addSecret(transferCredentials);
    if (router) {
        for (const std::string* secret :
             {&router->pass, &router->ipsec, &router->tmibadmadmincommunity, &router->oldcommunity,
              &router->tmibadmreadcommunity, &router->tmibadmwritecommunity, &router->tmibadmhttppassword})
            log->addSecret(*secret);
        for (const auto& [name, value] : router->variables) {
            auto flag = router->passwordFlags.find("pwd_" + name);
            if (flag != router->passwordFlags.end() && flag->second == "yes") log->addSecret(value);
        }
    }
    if (additionals)
        for (unsigned long i = 0; i < additionals->getNumParams(); ++i)
            if (additionals->getPasswordAt(i) == "yes") log->addSecret(additionals->getValueAt(i));
}

bool Tarvo::jobWasFound() const {
    return job && job->id != 0;
}

void Tarvo::removeCertificateFiles() {
    // The files are the management system's input to the router's next
    // certificate load; a job that loads none (a "LocalConf" job while a
    // "Config" job waits) must leave them.
    if (!mode->loadsCertificates) return;
    unsigned long routerId = router ? router->id : 0;
    std::string unnumbered = paths.transferDir() + certFileName(routerId, -1);
    // Numbered files only come with the unnumbered one; they are removed
    // up to the first gap.
    if (!exists(unnumbered)) return;
    log->addLine(logEngine::INF, "Removing temporary cert-file '%s'.", unnumbered.c_str());
    remove(unnumbered.c_str());
    for (int n = 0;; ++n) {
        std::string numbered = paths.transferDir() + certFileName(routerId, n);
        if (!exists(numbered)) break;
        log->addLine(logEngine::INF, "Removing temporary cert-file '%s'.", numbered.c_str());
        remove(numbered.c_str());
    }
}

// The configuration the device has taken holds the router's passwords, and
// the transfer directory is served without authentication: it goes once
// its text is the history row's.
void Tarvo::removeUploadedConfig() {
    if (!mode->dropsConfigFile) return;
    const std::string file = jobFile(mode->configFile);
    if (!exists(file)) return;
    log->addLine(logEngine::INF, "Removing uploaded config-file '%s'.", file.c_str());
    remove(file.c_str());
}

void Tarvo::collectHistoryConfig(std::vector<std::string>& entries) {
    if (buildsConfig) {
        if (cfgFile) {
            cfgFile->exportBuffer(entries);
            cfgFile.reset();
        }
        return;
    }
    if (!mode->recordsDownload) {
        entries.push_back("No config file generated or uploaded.");
        return;
    }
    // After a failed download a file in the transfer directory can only be
    // left over from an earlier run: it is no backup of this job, so it is
    // neither recorded nor stored, and the failure's own reason stands.
    if (!reason.empty()) {
        entries.push_back("");
        return;
    }
    configFile downloaded(log.get(), jobId, mode->configFile, paths.transferDir());
    downloaded.exportBuffer(entries);
    if (downloaded.getFileName().empty()) {
        setError("No config", "Could not read config.");
        return;
    }
    // Without a loaded router nothing can be stored for it.
    if (!router || router->id == 0) return;
    if (autoSelectLoaded == "true") {
        log->add(logEngine::INF, "Auto-selecting downloaded config.");
        router->downloadedmaster = my_to_str(static_cast<unsigned long long>(job->jobtime));
        router->save();
    }
    Cordal_configs stored(db.get(), atoi(configsPerRouter.c_str()));
    stored.routerid = router->id;
    stored.jobtime = job->jobtime;
    stored.workmode = job->workmode;
    stored.osrel = job->osrel;
    downloaded.exportBuffer(stored.config);
    stored.insert();
}

bool Tarvo::storeHistory() {
    Cordal_jobhistory history(db.get());
    history.histid = 0;
    history.id = job->id;
    history.routerid = router ? router->id : 0;
    history.jobtime = job->jobtime;
    history.starttime = job->starttime;
    history.endtime = static_cast<unsigned long long>(time(nullptr));
    history.watchdog = 0;
    history.processid = 0;
    history.workmode = job->workmode;
    history.pending = 1;
    history.priority = 1;
    history.reasoncode = 0;
    history.retrycount = 0;
    history.osrel = job->osrel;
    history.uid = job->uid;

    removeCertificateFiles();
    collectHistoryConfig(history.config);
    removeUploadedConfig();
    // The reason is taken after the configuration entries: "No config" may
    // have been set just now.
    history.reason = reason;
    history.status = reason.empty() ? "success" : "error";
    log->fillVector(history.log);

    history.insert();
    // A connection lost during the insert leaves its outcome unknown: the
    // row may have been committed (a cluster node that died after the
    // commit). Stored is stored; the job must not be given back to run
    // a second time.
    if (!history.lastOk() && !historyStored()) return false;
    job->erase();
    if (!job->lastOk()) job->erase();  // once more, through a connection opened afresh
    if (!job->lastOk()) {
        if (claim) claim->abandon();
        return true;
    }
    // The router is free for the next job only now that the outcome is
    // stored; a failed delete leaves a row whose process is gone, which
    // the next job for the router takes over.
    if (claim) claim->release();
    return true;
}

bool Tarvo::historyStored() {
    Query q(db.get());
    return q.get_count("SELECT COUNT(*) FROM cordal_jobhistory WHERE id = " +
                       my_to_str(static_cast<unsigned long>(jobId))) > 0;
}

bool Tarvo::Finish() {
    noteTermination();
    // The outcome is recorded whatever time is left.
    cancelDeadline();
    log->add(logEngine::INF, "");
    log->add(logEngine::CTL, "Tarvo finished.");
    bool stored = false;
    // Only the process that holds the job's claim writes its outcome: a job
    // whose start-up failed before the claim takes it now, so that the
    // same job started twice leaves one history row even then. A job this
    // process did not claim is another's (or nobody's yet): its rows and
    // its log file stay as they are.
    if (jobWasFound() && claimState == ClaimState::kNotTried) takeClaim(false);
    // A start-up that ended before the claim, and did not lose the job to
    // another process, writes its log file now.
    log->releaseFile();
    if (jobWasFound() && claimState == ClaimState::kHeld) {
        stored = storeHistory();
        if (stored && writeLogfile) log->unlink();
    }
    if (dumpLog) log->dumpLogStderr();
    if (claimLost()) {
        fprintf(stderr, "Tarvo: job %lu is held by another process (%s); this process ran nothing.\n",
                static_cast<unsigned long>(jobId), claimHolder.c_str());
        return false;
    }
    const bool ok = stored && reason.empty();
    // A failed job without a history row leaves the management system no
    // trace unless it says so here: the job row (when there is one) is
    // kept, and the whole log goes to the job's log file.
    if (!stored && (jobWasFound() || !reason.empty())) reportWithoutHistory(jobWasFound());
    return ok;
}
