// The workmodes a job can ask for and the pipeline that carries them out.
#include <strings.h>

#include <ctime>

#include <memory>

#include "main/Tarvo.h"
#include "main/Workmode.h"
#include "util/logEngine.h"

// One row per workmode: every fact of it is a column, so that a new
// workmode is one more row and no code elsewhere names one. The stages are
// listed in the column of their own.
const Workmode& Workmode::named(const std::string& name) {
    // clang-format off
    static const Workmode kWorkmodes[] = {
      //  name          testPing builds allCfgs certsOnly bootFac records certs  dropsCfg configFile     stages
        {"Test",       true,    false, false,  false,    false,  false,  false, false,   ".config",     0},
        {"SetPass",    false,   false, false,  false,    false,  false,  false, false,   ".config",     kSetPasswords},
        {"Invent",     false,   false, false,  false,    false,  false,  false, false,   ".config",     kInventory},
        {"Reboot",     false,   false, false,  false,    false,  false,  false, false,   ".config",     kReboot},
        {"GetConf",    false,   false, false,  false,    false,  true,   false, false,   ".config",     kDownload},
        {"GetconfAll", false,   false, true,   false,    false,  true,   false, false,   ".config",     kDownload},
        {"Config",     true,    true,  false,  false,    false,  false,  true,  true,    ".config",     kDownloadIfMerge | kBuild | kUpload},
        {"ConfigAll",  true,    true,  true,   false,    false,  false,  false, true,    ".config",     kDownloadIfMerge | kBuild | kUpload},
        {"Image",      true,    false, false,  false,    false,  false,  false, false,   ".config",     kImages},
        {"All",        true,    true,  false,  false,    false,  false,  true,  true,    ".config",     kDownloadIfMerge | kImages | kBuild | kUpload},
        {"Certs",      false,   false, false,  true,     false,  false,  true,  false,   ".config",     kUpload},
        {"BootFac",    true,    true,  false,  false,    true,   false,  true,  true,    ".config",     kDownloadIfMerge | kBuild | kUpload},
        {"LocalConf",  false,   true,  false,  false,    false,  false,  false, false,   ".config",     kDownloadIfMerge | kBuild | kConfigCreated},
        {"LocConfEnc", false,   true,  false,  false,    false,  false,  false, false,   ".config",     kDownloadIfMerge | kBuild | kConfigCreated | kEncrypt},
        {"ConfComp",   false,   true,  false,  false,    false,  false,  false, false,   ".config_cmp", kDownload | kBuild | kConfigCreated | kCompare},
        {"SSHKeyGen",  true,    false, false,  false,    false,  false,  false, false,   ".config",     kSSHKeyGen},
        {"Erase",      false,   false, false,  false,    false,  false,  false, false,   ".config",     kErase},
    };
    // clang-format on
    for (const auto& mode : kWorkmodes)
        if (name == mode.name) return mode;
    return kUnknown;
}

const Workmode Workmode::kUnknown = {"", false, false, false, false, false, false, false, false, ".config", 0};

namespace {
// The database values the stages (and the test ping) put into device
// commands or read files by.
Tarvo::ValueUses valueUses(const Workmode& mode, unsigned stages) {
    const unsigned device = Workmode::kSetPasswords | Workmode::kInventory | Workmode::kReboot | Workmode::kDownload |
                            Workmode::kDownloadIfMerge | Workmode::kImages | Workmode::kUpload |
                            Workmode::kSSHKeyGen | Workmode::kErase;
    Tarvo::ValueUses uses;
    uses.login = (stages & device) != 0 || mode.needsTestPing;
    uses.setPasswords = (stages & Workmode::kSetPasswords) != 0;
    uses.certificates = (stages & Workmode::kUpload) != 0 && mode.loadsCertificates;
    uses.sourceAddress =
        (stages & (Workmode::kDownload | Workmode::kDownloadIfMerge | Workmode::kUpload | Workmode::kImages)) != 0;
    uses.images = (stages & Workmode::kImages) != 0;
    uses.templateName = (stages & Workmode::kBuild) != 0;
    uses.ping = mode.needsTestPing;
    return uses;
}
}  // namespace

void Tarvo::Run() {
    if (noteTermination() || !reason.empty()) return;
    unsigned stages = mode->stages;
    // The download of a configuration-building workmode belongs only to
    // fetch-and-merge routers.
    if (router->configtype != "Fetch-and-Merge") stages &= ~Workmode::kDownloadIfMerge;
    // A workmode without stages is the test ping alone: no connection here.
    if (!checkValues(valueUses(*mode, stages)) || stages == 0) return;
    log->add(logEngine::INF, "");
    log->add(logEngine::INF, "*** Starting to work on router.");
    std::unique_ptr<ConnectionHandler> handler(createConnectionHandler(connType));
    if (!handler) {
        setError("No connect-handler", "Could not create Connectionhandler.");
        return;
    }

    struct StageEntry {
        unsigned stage;  // Workmode::Stage bits
        bool (Tarvo::*run)(ConnectionHandler&);
    };
    static const StageEntry kPipeline[] = {
        {Workmode::kSetPasswords, &Tarvo::stageSetPasswords},
        {Workmode::kInventory, &Tarvo::stageInventory},
        {Workmode::kReboot, &Tarvo::stageReboot},
        {Workmode::kDownload | Workmode::kDownloadIfMerge, &Tarvo::stageDownload},
        {Workmode::kImages, &Tarvo::stageImages},
        {Workmode::kBuild, &Tarvo::stageBuildConfig},
        {Workmode::kUpload, &Tarvo::stageUpload},
        {Workmode::kConfigCreated, &Tarvo::stageConfigCreated},
        {Workmode::kEncrypt, &Tarvo::stageEncryptConfig},
        {Workmode::kSSHKeyGen, &Tarvo::stageSSHKeyGen},
        {Workmode::kCompare, &Tarvo::stageCompare},
        {Workmode::kErase, &Tarvo::stageErase},
    };
    for (const auto& entry : kPipeline) {
        if (!(stages & entry.stage)) continue;
        if (!(this->*entry.run)(*handler) || noteTermination()) break;
    }
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
// reboot: whatever fails after the timer was armed, the guard restarts the
// device (or, when the connection is gone, the device restarts by itself
// when the timer runs out, which the reboot reports).
bool Tarvo::stageUpload(ConnectionHandler& link) {
    if (!link.isConnected() && !connect(link)) return false;
    FallbackGuard fallback = scheduleFallback(link, configRestoreTimeoutConfig);
    if (!fallback) return false;
    updateConfig(link, mode->allConfigs, mode->certsOnly, mode->bootFactory);
    // The device boots the new configuration, or after a failure its old one.
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
