// Configuration download: the device's boot configuration into the transfer
// directory as JOBID.config. A NEXA device pushes it with configd to the
// transfer server; a qx.CLI device is read over an SFTP connection of its
// own.
#include "config/configFile.h"
#include "db/Cordal_configs.h"
#include "db/Cordal_jobs.h"
#include "db/Cordal_router.h"
#include "db/Database.h"
#include "main/Tarvo.h"
#include "main/Workmode.h"
#include "util/logEngine.h"

bool Tarvo::getConfig(ConnectionHandler& link, bool all) {
    if (!isQxCli()) return getConfigNexa(link, all);
    const std::string name = getCfgFileNameQxCli(link, false);
    if (name.empty()) return false;
    return getConfigQxCli(name);
}

// The source-address option of configd, probed only when the router names a
// local address for its transfers. False (with the reason set) when the
// device cannot honour the address: the transfer is then not tried without.
bool Tarvo::configdSourceOption(ConnectionHandler& link, std::string& option, bool readVersion) {
    static const SourceProbe kConfigd = {"Checking 'configd' options",
                                         "configd -h",
                                         "-s <src>",
                                         "-s ",
                                         " ",
                                         "Command 'configd' supports '-s' option.",
                                         "Command 'configd' does NOT support '-s' option."};
    return probeSourceOption(link, kConfigd, readVersion, option);
}

// Asks the device's help text whether it takes a source address.
bool Tarvo::probeSourceOption(ConnectionHandler& link, const SourceProbe& probe, bool readVersion,
                              std::string& option) {
    option.clear();
    if (router->localipfortftp.empty()) return true;
    updateJob(probe.title);
    if (readVersion && !step(link, "tmibAdmSWVersion", family.promptAdmin)) return false;
    commandResult help = link.sendCmd(probe.help, family.promptAdmin);
    if (help.foundFirst && help.contains(probe.marker)) {
        log->add(logEngine::INF, probe.supported);
        option = probe.optionHead + router->localipfortftp + probe.optionTail;
        return true;
    }
    setError("Cannot set src-addr", "%s", probe.unsupported);
    return false;
}

bool Tarvo::configdTransfer(ConnectionHandler& link, const std::string& title, const std::string& source,
                            const std::string& verb, const std::string& name) {
    const std::string head = "configd " + source + verb + " all " + transferScheme;
    const std::string tail = transferBase + " " + my_to_str(static_cast<unsigned long>(jobId)) + ".config " + name;
    updateJob(title);
    const commandResult reply = transferCommand(link, head, tail, family.promptMain, "", "", 60);
    if (!reply.foundFirst || !reply.contains("transfer ok")) {
        setError("Bad file-transfer", "%s-file-transfer failed for '%s'.", fileTransferMethod.c_str(),
                 tftpHost.c_str());
        return false;
    }
    return true;
}

bool Tarvo::getConfigNexa(ConnectionHandler& link, bool all) {
    std::string source;
    if (!configdSourceOption(link, source) || !reason.empty()) return false;
    return configdTransfer(link, "Getting config", source, all ? "put_all" : "put", "boot");
}

bool Tarvo::getConfigQxCli(const std::string& name) {
    log->addLine(logEngine::INF, "Hint: '%s' treats ALL configs as 'full'.", routerOs.c_str());
    bool transferred = false;
    bool connected = withSftp([&](ConnectionHandler& sftp) {
        updateJob("Getting config");
        const commandResult reply =
            exchange(sftp, "get /DSK/" + name + " " + jobFile(".config"), family.promptSftp, 60);
        // "100%" alone is not enough: the client may report a failure on a
        // later line of the same reply.
        transferred = reply.foundFirst && reply.contains("100%") && !sftpReplyFailed(reply);
        if (!transferred) setError("Bad file-transfer", "%s-file-transfer failed.", fileTransferMethod.c_str());
    });
    return connected && transferred;
}

bool Tarvo::stageDownload(ConnectionHandler& link) {
    if (!connect(link)) return false;
    getConfig(link, mode->allConfigs);
    disconnect(link);
    if (!reason.empty()) return false;
    // Only the merge base of a configuration-building workmode is kept as
    // the router's AutoFetch row.
    if (!mode->acts(Workmode::kDownloadIfMerge)) return true;
    return storeAutoFetch();
}

// A fetch-and-merge router's download is kept as its one "AutoFetch"
// configuration, a second older than the job, for the build to merge into.
bool Tarvo::storeAutoFetch() {
    configFile fetched(log.get(), jobId, mode->configFile, paths.transferDir());
    if (fetched.getFileName().empty()) {
        setError("No config", "Could not read device-config");
        return false;
    }
    Cordal_configs stored(db.get(), 2147483647);
    stored.routerid = job->routerid;
    stored.jobtime = job->jobtime - 1ULL;
    stored.workmode = "AutoFetch";
    stored.osrel = job->osrel;
    fetched.exportBuffer(stored.config);
    stored.insert();
    return true;
}
