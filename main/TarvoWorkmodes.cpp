// The workmodes a job can ask for and the pipeline that carries them out.
#include <memory>

#include "main/Tarvo.h"
#include "util/logEngine.h"

namespace {
struct Workmode {
    const char* name;
    bool needsTestPing;
    bool buildsConfig;
    // The device operations this workmode needs are part of this build.
    bool available;
};

// Names are compared exactly, letter case included.
const Workmode kWorkmodes[] = {
    {"Test", true, false, true},       {"SetPass", false, false, false},   {"Invent", false, false, false},
    {"Reboot", false, false, true},    {"GetConf", false, false, false},   {"GetconfAll", false, false, false},
    {"Config", true, true, false},     {"ConfigAll", true, true, false},   {"Image", true, false, false},
    {"All", true, true, false},        {"Certs", false, false, false},     {"BootFac", true, true, false},
    {"LocalConf", false, true, false}, {"LocConfEnc", false, true, false}, {"ConfComp", false, true, false},
    {"SSHKeyGen", true, false, true},  {"Erase", false, false, false},
};

const Workmode* findWorkmode(const std::string& name) {
    for (const auto& mode : kWorkmodes)
        if (name == mode.name) return &mode;
    return nullptr;
}
}  // namespace

bool Tarvo::lookupWorkmode(const std::string& name, bool& testPing, bool& builds) {
    const Workmode* mode = findWorkmode(name);
    if (!mode) return false;
    testPing = mode->needsTestPing;
    builds = mode->buildsConfig;
    return true;
}

bool Tarvo::workmodeAvailable(const std::string& name) {
    const Workmode* mode = findWorkmode(name);
    return mode && mode->available;
}

void Tarvo::Run() {
    if (!reason.empty() || workmode == "Test") return;
    // A workmode whose operations this build lacks fails before any device
    // is touched, rather than half-way through with a fallback timer set.
    if (!workmodeAvailable(workmode)) {
        setError("Workmode not available", "Workmode '%s' cannot be carried out by this version of Tarvo.",
                 workmode.c_str());
        return;
    }
    log->add(logEngine::INF, "");
    log->add(logEngine::INF, "*** Starting to work on router.");
    std::unique_ptr<ConnectionHandler> handler(createConnectionHandler(connType));
    if (!handler) {
        setError("No connect-handler", "Could not create Connectionhandler.");
        return;
    }
    ConnectionHandler& link = *handler;

    if (workmode == "Reboot") {
        if (connect(link)) reboot(link);
    }

    if (workmode == "SSHKeyGen") {
        if (!connect(link)) return;
        updateJob("Checking SSH-keys");
        bool enabled = link.checkSSHEnabled();
        disconnect(link);
        if (!enabled) {
            setError("SSH-enabling failed", "Could not enable SSH.");
            return;
        }
    }
}
