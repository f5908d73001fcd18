// Opening and closing device connections, restarting the device and the
// ping the device runs itself to prove it is reachable.
#include <cerrno>
#include <ctime>

#include "db/Cordal_router.h"
#include "main/Tarvo.h"
#include "util/logEngine.h"

bool Tarvo::connect(ConnectionHandler& handler) {
    updateJob(handler.cTypeStr() + "-connecting");
    // Router values reach the resolver and the client's command line: a
    // value that is no address, or would be read as an option, ends the job
    // before anything is started.
    const std::string refusal = connectSettings->refusal(handler.cTypeStr() == "Telnet", *loginSettings);
    if (!refusal.empty()) {
        setError("Could not log in", "%s", refusal.c_str());
        return false;
    }
    if (!handler.connect(*connectSettings, *loginSettings)) {
        setError("Could not log in", "Could not log in.");
        return false;
    }
    if (handler.cTypeStr() != "SFTP") family.usePromptPrefix(handler.promptPrefix);
    return true;
}

void Tarvo::disconnect(ConnectionHandler& handler) {
    updateJob(handler.cTypeStr() + "-disconnecting");
    handler.disconnect();
}

void Tarvo::reboot(ConnectionHandler& handler) {
    updateJob("Rebooting");
    // A reboot command that was not confirmed (the connection gone, the
    // device silent, a termination request) may never have reached the
    // device; an armed fallback timer restarts it instead, and the log says
    // so.
    if (!handler.triggerReboot()) reportArmedFallback();
    log->addLine(logEngine::INF, "[ Sleeping %d seconds. ]", static_cast<int>(rebootSleepSeconds));
    ConnectionHandler::pauseSeconds(rebootSleepSeconds);
    rebootPending = false;
    ++reboots;
    fallbackVariable.clear();
    fallbackSeconds.clear();
}

void Tarvo::sendPing(ConnectionHandler& handler) {
    const std::string source = router->localipforping.empty() ? router->ipnumber : router->localipforping;
    const std::string& target = router->ipgateway;
    const std::string count = "10";
    std::string command = isQxCli() ? "ping " + target + " num-pings " + count + " source " + source
                                    : "ping -c " + count + " -s " + source + " " + target;
    updateJob("Sending test-pings");
    commandResult reply;
    {
        ScopedTimeout slow(handler, 20);
        reply = handler.sendCmd(command, family.promptMain);
    }
    if (!reply.foundFirst || reply.contains(" 0 packets received"))
        setError("Ping failed", "No ping-replies received.");
}
