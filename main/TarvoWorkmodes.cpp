// The workmodes a job can ask for and the pipeline that carries them out.
#include <strings.h>

#include <ctime>

#include <memory>

#include "main/Tarvo.h"
#include "util/logEngine.h"

namespace {
// The stages of Run in pipeline order. A workmode names the stages that act
// for it; the pipeline runs them in this order and ends at the first that
// reports the end.
enum Stage : unsigned {
    kSetPasswords = 1u << 3,
    kInventory = 1u << 4,
    kReboot = 1u << 5,
    kDownload = 1u << 6,          // always
    kDownloadIfMerge = 1u << 16,  // only for fetch-and-merge routers
    kImages = 1u << 7,
    kBuild = 1u << 8,
    kUpload = 1u << 9,
    kConfigCreated = 1u << 10,
    kEncrypt = 1u << 11,
    kSSHKeyGen = 1u << 12,
    kCompare = 1u << 13,
    kErase = 1u << 14,
};

struct Workmode {
    const char* name;
    bool needsTestPing;
    bool buildsConfig;
    unsigned stages;
};

// Names are compared exactly, letter case included.
const Workmode kWorkmodes[] = {
    {"Test", true, false, 0},
    {"SetPass", false, false, kSetPasswords},
    {"Invent", false, false, kInventory},
    {"Reboot", false, false, kReboot},
    {"GetConf", false, false, kDownload},
    {"GetconfAll", false, false, kDownload},
    {"Config", true, true, kDownloadIfMerge | kBuild | kUpload},
    {"ConfigAll", true, true, kDownloadIfMerge | kBuild | kUpload},
    {"Image", true, false, kImages},
    {"All", true, true, kDownloadIfMerge | kImages | kBuild | kUpload},
    {"Certs", false, false, kUpload},
    {"BootFac", true, true, kDownloadIfMerge | kBuild | kUpload},
    {"LocalConf", false, true, kDownloadIfMerge | kBuild | kConfigCreated},
    {"LocConfEnc", false, true, kDownloadIfMerge | kBuild | kConfigCreated | kEncrypt},
    {"ConfComp", false, true, kDownload | kBuild | kConfigCreated | kCompare},
    {"SSHKeyGen", true, false, kSSHKeyGen},
    {"Erase", false, false, kErase},
};

const Workmode* findWorkmode(const std::string& name) {
    for (const auto& mode : kWorkmodes)
        if (name == mode.name) return &mode;
    return nullptr;
}

// The database values the stages (and the test ping) put into device
// commands or read files by.
Tarvo::ValueUses valueUses(unsigned stages, bool testPing) {
    const unsigned device =
        kSetPasswords | kInventory | kReboot | kDownload | kDownloadIfMerge | kImages | kUpload | kSSHKeyGen | kErase;
    Tarvo::ValueUses uses;
    uses.login = (stages & device) != 0 || testPing;
    uses.setPasswords = (stages & kSetPasswords) != 0;
    uses.certificates = (stages & kUpload) != 0;
    uses.sourceAddress = (stages & (kDownload | kDownloadIfMerge | kUpload | kImages)) != 0;
    uses.images = (stages & kImages) != 0;
    uses.templateName = (stages & kBuild) != 0;
    uses.ping = testPing;
    return uses;
}
}  // namespace

bool Tarvo::lookupWorkmode(const std::string& name, bool& testPing, bool& builds) {
    const Workmode* mode = findWorkmode(name);
    if (!mode) return false;
    testPing = mode->needsTestPing;
    builds = mode->buildsConfig;
    return true;
}

void Tarvo::Run() {
    if (noteTermination() || !reason.empty()) return;
    unsigned stages = findWorkmode(workmode)->stages;
    // The download of a configuration-building workmode belongs only to
    // fetch-and-merge routers.
    if (router->configtype != "Fetch-and-Merge") stages &= ~kDownloadIfMerge;
    if (!checkValues(valueUses(stages, needsTestPing)) || workmode == "Test") return;
    log->add(logEngine::INF, "");
    log->add(logEngine::INF, "*** Starting to work on router.");
    std::unique_ptr<ConnectionHandler> handler(createConnectionHandler(connType));
    if (!handler) {
        setError("No connect-handler", "Could not create Connectionhandler.");
        return;
    }

    struct StageEntry {
        unsigned stage;
        bool (Tarvo::*run)(ConnectionHandler&);
    };
    static const StageEntry kPipeline[] = {
        {kSetPasswords, &Tarvo::stageSetPasswords},
        {kInventory, &Tarvo::stageInventory},
        {kReboot, &Tarvo::stageReboot},
        {kDownload | kDownloadIfMerge, &Tarvo::stageDownload},
        {kImages, &Tarvo::stageImages},
        {kBuild, &Tarvo::stageBuildConfig},
        {kUpload, &Tarvo::stageUpload},
        {kConfigCreated, &Tarvo::stageConfigCreated},
        {kEncrypt, &Tarvo::stageEncryptConfig},
        {kSSHKeyGen, &Tarvo::stageSSHKeyGen},
        {kCompare, &Tarvo::stageCompare},
        {kErase, &Tarvo::stageErase},
    };
    for (const auto& entry : kPipeline) {
        if (!(stages & entry.stage)) continue;
        if (!(this->*entry.run)(*handler) || noteTermination()) break;
    }
    // Every stage that arms the fallback timer flushes it or reboots; should
    // one still be armed here, the log must not leave it unsaid.
    reportArmedFallback();
}

bool Tarvo::connectedStage(ConnectionHandler& link, void (Tarvo::*operation)(ConnectionHandler&)) {
    if (!connect(link)) return false;
    (this->*operation)(link);
    disconnect(link);
    return reason.empty();
}

bool Tarvo::stageSetPasswords(ConnectionHandler& link) {
    return connectedStage(link, &Tarvo::setPasswords);
}

bool Tarvo::stageInventory(ConnectionHandler& link) {
    return connectedStage(link, &Tarvo::inventory);
}

bool Tarvo::stageReboot(ConnectionHandler& link) {
    if (connect(link)) reboot(link);
    return reason.empty();
}

bool Tarvo::stageSSHKeyGen(ConnectionHandler& link) {
    if (!connect(link)) return false;
    updateJob("Checking SSH-keys");
    bool enabled = link.checkSSHEnabled();
    disconnect(link);
    if (!enabled) {
        setError("SSH-enabling failed", "Could not enable SSH.");
        return false;
    }
    return true;
}

// The configuration upload runs between an armed fallback timer and a
// reboot: whatever fails after the timer was armed, the device is
// restarted (or, when the connection is gone, restarts by itself when the
// timer runs out, which reboot reports).
bool Tarvo::stageUpload(ConnectionHandler& link) {
    if (!link.isConnected() && !connect(link)) return false;
    if (!scheduleFallback(link, configRestoreTimeoutConfig)) {
        reboot(link);
        return false;
    }
    updateConfig(link, workmode == "ConfigAll", workmode == "Certs", workmode == "BootFac");
    reboot(link);
    if (!reason.empty()) return false;
    char today[16];
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    strftime(today, sizeof today, "%Y-%m-%d", &local);
    router->lupdate = today;
    router->save();
    return true;
}

bool Tarvo::stageErase(ConnectionHandler& link) {
    if (strcasecmp(ipAllowDelete.c_str(), "true") != 0) {
        setError("!ipallowdelete", "'ipallowdelete' not enabled in cordal.xml.");
        return false;
    }
    if (!connect(link)) return false;
    deleteBootConfig(link);
    reboot(link);
    return reason.empty();
}
