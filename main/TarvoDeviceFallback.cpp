// The NEXA fallback timer that reboots a device on its own unless the job
// cancels it in time, and the deletion of a device's boot configuration.
#include "main/Tarvo.h"
#include "util/logEngine.h"

Tarvo::FallbackGuard::FallbackGuard(Tarvo& job, ConnectionHandler& link, bool scheduled)
    : job(job), link(link), scheduled(scheduled), rebootsBefore(job.reboots) {}

Tarvo::FallbackGuard::~FallbackGuard() {
    if (!flushed && job.reboots == rebootsBefore) job.reboot(link);
}

bool Tarvo::FallbackGuard::flush() {
    flushed = job.flushFallback(link) && job.reason.empty();
    return flushed;
}

Tarvo::FallbackGuard Tarvo::scheduleFallback(ConnectionHandler& link, const std::string& seconds) {
    // qx.CLI devices have no such timer.
    if (isQxCli()) return FallbackGuard(*this, link, true);
    updateJob("Scheduling auto-fallback-reboot");
    return FallbackGuard(*this, link, scheduleFallbackNexa(link, seconds));
}

bool Tarvo::scheduleFallbackNexa(ConnectionHandler& link, const std::string& seconds) {
    // Once the command is on its way the device may count down, even when
    // its confirmation never arrives (the line drops after it): the armed
    // seconds stay known until a flush or a reboot.
    fallbackSeconds = seconds;
    commandResult reply = link.sendCmd("tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=" + seconds, family.promptMain);
    // The device echoes the timer's instance variable before an opening
    // parenthesis with the seconds, e.g. tmibAdmConfigTimeout.1.1(600); our
    // own command line carries the bare name with "=", so its echo never
    // passes for a confirmation.
    std::string name;
    if (reply.foundFirst && reply.contains("tmibAdmConfigTimeout."))
        name = reply.fetch("(tmibAdmConfigTimeout\\.[0-9]+\\.[0-9]+)\\(");
    if (name.empty() || name == "INVALID") {
        setError("Missing reply", "Missing '%s' prompt or search-pattern.", family.promptMain.c_str());
        return false;
    }
    fallbackVariable = name;
    return true;
}

bool Tarvo::flushFallback(ConnectionHandler& link) {
    if (isQxCli()) return true;
    updateJob("Flushing auto-fallback-reboot");
    return flushFallbackNexa(link);
}

bool Tarvo::flushFallbackNexa(ConnectionHandler& link) {
    bool flushed = step(link, fallbackVariable + "=-1", family.promptMain);
    fallbackVariable.clear();
    // Without the prompt the device may still count down; the armed
    // seconds stay known so that a later path can say so.
    if (flushed) fallbackSeconds.clear();
    return flushed;
}

void Tarvo::reportArmedFallback() {
    if (fallbackSeconds.empty()) return;
    log->addLine(logEngine::INF, "The device will restart by itself within %s seconds (auto-fallback-reboot).",
                 fallbackSeconds.c_str());
}

bool Tarvo::deleteBootConfig(ConnectionHandler& link) {
    if (!isQxCli()) return deleteBootConfigNexa(link);
    const std::string name = getCfgFileNameQxCli(link, false);
    return !name.empty() && deleteBootConfigQxCli(name);
}

bool Tarvo::deleteBootConfigNexa(ConnectionHandler& link) {
    updateJob("Deleting boot-config");
    return step(link, "configd delete boot", family.promptMain);
}

bool Tarvo::deleteBootConfigQxCli(const std::string& name) {
    bool removed = false;
    withSftp([&](ConnectionHandler& sftp) {
        updateJob("Deleting boot-config");
        commandResult reply;
        {
            ScopedTimeout slow(sftp, 60);
            reply = sftp.sendCmd("rm /DSK/" + name, family.promptSftp);
        }
        removed = reply.foundFirst && !sftpReplyFailed(reply);
        if (removed)
            log->add(logEngine::INF, "Config removed.");
        else
            setError("Bad file-removing", "%s-file-removing failed.", fileTransferMethod.c_str());
    });
    return removed;
}
