// Passwords: the router's administrator password (and on NEXA devices its
// read and write communities) set on the device. In the customer's mode
// "secure" they stay in the running device; otherwise they are saved into
// the boot configuration as well.
#include "db/Cordal_customer.h"
#include "db/Cordal_router.h"
#include "main/Tarvo.h"
#include "util/CommandText.h"
#include "util/logEngine.h"

namespace {
// The switch byte to the main process, then the static configuration.
const char* const kConfigProcess =
    "\x10"
    "config";

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// A password travels between double quotes on a command line of its own: a
// quote or a control character in it would end it early or start another
// command, and the device would keep a password other than the router's.
bool sendable(const std::string& password) {
    return password.find('"') == std::string::npos && CommandText::findControl(password) == std::string::npos;
}

// In the customer's mode "secure" new passwords live in the running device
// only, so that a restart brings back the old ones.
bool inRamOnly(Tarvo& job) {
    if (job.customer->security != "secure") return false;
    job.log->add(logEngine::INF, "Mode is secure. -> Save password in RAM only.");
    return true;
}
}  // namespace

void Tarvo::setPasswords(ConnectionHandler& link) {
    updateJob("Setting password(s)");
    if (router->tmibadmadmincommunity.empty()) {
        log->add(logEngine::INF, "Admin password is empty, won't be changed.");
        return;
    }
    bool nexa = !isQxCli();
    if (!sendable(router->tmibadmadmincommunity) ||
        (nexa && (!sendable(router->tmibadmreadcommunity) || !sendable(router->tmibadmwritecommunity)))) {
        setError("Bad password", "A new password holds a double quote or a control character; nothing was sent.");
        return;
    }
    log->add(logEngine::INF, "Setting new admin password.");
    if (nexa)
        setPasswordsNexa(link);
    else
        setPasswordsQxCli(link);
}

void Tarvo::setPasswordsNexa(ConnectionHandler& link) {
    // The device echoes each assignment with its value: the replies are
    // debug traffic. A failed step skips the later commands, not the lines
    // that say what was (not) done.
    step(link, "tmibAdmAdminCommunity=" + quoted(router->tmibadmadmincommunity), family.promptMain, nullptr, true);
    struct Community {
        const char* name;
        const char* capitalised;
        const char* variable;
        const std::string& password;
    };
    const Community communities[] = {
        {"read", "Read", "tmibAdmReadCommunity=", router->tmibadmreadcommunity},
        {"write", "Write", "tmibAdmWriteCommunity=", router->tmibadmwritecommunity},
    };
    for (const Community& community : communities) {
        if (community.password.empty()) {
            log->addLine(logEngine::INF, "%s community password is empty, won't be changed.", community.capitalised);
        } else if (reason.empty()) {
            log->addLine(logEngine::INF, "Setting new %s community password.", community.name);
            step(link, community.variable + quoted(community.password), family.promptMain, nullptr, true);
        }
    }
    if (inRamOnly(*this) || !reason.empty()) return;
    log->add(logEngine::INF, "Mode is default. -> Save passwords in boot-config.");
    step(link, "configd save all boot", family.promptMain);
}

void Tarvo::setPasswordsQxCli(ConnectionHandler& link) {
    // The device echoes the command: the password is masked in what the log
    // shows of the reply.
    const std::string& password = router->tmibadmadmincommunity;
    const std::string command = "user admin password " + quoted(password);
    if (!step(link, "\x10running-config", family.promptConfigEnd) ||
        !secretStep(link, command, family.promptConfigEnd, password))
        return;
    if (inRamOnly(*this)) return;
    log->add(logEngine::INF, "Mode is default. -> Save passwords in boot-config.");
    if (step(link, kConfigProcess, family.promptConfig) && secretStep(link, command, family.promptConfig, password))
        step(link, "save yes", family.promptConfig);
}
