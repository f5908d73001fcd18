// The configuration stages of the pipeline: building a router's
// configuration, announcing it and having the external tool encrypt it.
#include <strings.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "config/configFile.h"
#include "db/Cordal_contacts.h"
#include "db/Cordal_router.h"
#include "db/Cordal_routertypes.h"
#include "db/Cordal_swrelease.h"
#include "db/Database.h"
#include "db/dbGroupLicenses.h"
#include "db/dbGroupRouteradditionals.h"
#include "main/Tarvo.h"
#include "main/Workmode.h"
#include "util/logEngine.h"

namespace {
// The encryption tool of the installation and its fixed password.
const char kSealTool[] = "sealtool-linux-i386";
const char kSealPassword[] = "#Lum!nar";

// Paths go to the shell as they are when they hold only harmless bytes (the
// installed layout), and between apostrophes otherwise.
std::string shellWord(const std::string& text) {
    bool plain = !text.empty();
    for (char c : text)
        if (!(isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '.' || c == '_' || c == '-' || c == '+'))
            plain = false;
    if (plain) return text;
    std::string quoted = "'";
    for (char c : text) quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
}  // namespace

bool Tarvo::stageBuildConfig(ConnectionHandler&) {
    const bool readVersion = strcasecmp(readNexaVersion.c_str(), "true") == 0;
    cfgFile.reset(new configFile(log.get(), jobId, router.get(), routerType.get(), readVersion, swRelease.get(),
                                 additionals.get(), licenses.get(), contacts.get(), mode->configFile, db.get(),
                                 paths.transferDir(), paths.templateDir()));
    if (!cfgFile->refusedField().empty()) {
        setError(("Bad " + cfgFile->refusedField()).c_str(), "%s Nothing was sent to the device.",
                 cfgFile->refusal().c_str());
        return false;
    }
    if (cfgFile->getFileName().empty()) {
        setError("Cfg-building failed", "Could not build config file.");
        return false;
    }
    return true;
}

bool Tarvo::stageConfigCreated(ConnectionHandler&) {
    log->add(logEngine::INF, "Config created.");
    return true;
}

bool Tarvo::runEncryptionStep(const std::string& command, const char* shown) {
    log->add(logEngine::DBG, command);
    int status = system(command.c_str());
    if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    // The second command holds the tool's password: the message names the
    // step, never the command line.
    if (status == -1)
        setError("Cannot encrypt cfg", "Config-encryption failed: could not run '%s' (%s).", kSealTool, shown);
    else if (WIFSIGNALED(status))
        setError("Cannot encrypt cfg", "Config-encryption failed: '%s' (%s) was ended by signal %d.", kSealTool, shown,
                 WTERMSIG(status));
    else
        setError("Cannot encrypt cfg", "Config-encryption failed: '%s' (%s) ended with exit status %d.", kSealTool,
                 shown, WEXITSTATUS(status));
    return false;
}

bool Tarvo::stageEncryptConfig(ConnectionHandler&) {
    if (!family.isNexa()) {
        setError("Cannot encrypt cfg", "Config-encryption not supported for '%s'.", routerOs.c_str());
        return false;
    }
    updateJob("Encrypting config");
    const std::string intermediate = jobFile(".csv");
    const std::string configName = cfgFile->getFileName();
    const std::string tool = shellWord(paths.binDir() + kSealTool);
    const std::string convert = tool + " -o 1 " + shellWord(configName) + " " + shellWord(intermediate);
    const std::string seal =
        tool + " -p '" + kSealPassword + "' " + shellWord(intermediate) + " " + shellWord(configName);

    // Whatever happens, the intermediate file holds the configuration in
    // clear and must not stay behind.
    bool sealed = runEncryptionStep(convert, "conversion");
    if (sealed) {
        cfgFile.reset();
        sealed = runEncryptionStep(seal, "encryption");
    }
    remove(intermediate.c_str());
    if (!sealed) return false;

    cfgFile.reset(new configFile(log.get(), jobId, mode->configFile, paths.transferDir()));
    if (cfgFile->getFileName().empty()) {
        setError("No config", "Could not build config");
        return false;
    }
    return true;
}
