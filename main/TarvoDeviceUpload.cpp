// Configuration upload: the job's JOBID.config, and the router's PKCS#12
// files with its certificates, become the configuration the device boots
// with. A NEXA device fetches the configuration into the staging
// configuration "opb_tmp", which gets the certificate tables of the running
// configuration and the new certificates before it is moved over the
// target; a qx.CLI device gets the file over SFTP into its memory and moves
// it onto its disk.
#include <sys/stat.h>

#include <cstdio>

#include "db/Cordal_router.h"
#include "main/Tarvo.h"
#include "util/Pause.h"
#include "util/logEngine.h"

namespace {
// The tables that hold a NEXA device's keys and certificates, in the order
// they are saved and restored.
const char* const kCertTables[] = {"binTable", "binPublicTable", "binFileTable", "ipsecPublicKeyTable", "certTable"};

const char kStaging[] = "opb_tmp";
const char kCertStore[] = "opb_certs";

// Whether path names a file, and its size.
bool fileSize(const std::string& path, off_t& size) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    size = st.st_size;
    return true;
}
}  // namespace

std::string Tarvo::certFileName(unsigned long routerId, int index) {
    char name[64];
    if (index < 0)
        snprintf(name, sizeof name, "%010lu.pkcs12", routerId);
    else
        snprintf(name, sizeof name, "%010lu_%i.pkcs12", routerId, index);
    return name;
}

bool Tarvo::updateConfig(ConnectionHandler& link, bool configAll, bool certsOnly, bool bootFac) {
    bool certificates = false;
    if (!configAll && !certificateFileReady(certificates)) return false;
    if (!isQxCli()) return updateConfigNexa(link, configAll, certsOnly, bootFac);
    if (certsOnly) {
        setError("Cannot do certsOnly", "Certs-only-update not supported for '%s'.", routerOs.c_str());
        return false;
    }
    if (certificates) {
        setError("No certs-support", "Cert-commands not supported for '%s'.", routerOs.c_str());
        return false;
    }
    log->addLine(logEngine::INF, "Hint: '%s' treats ALL configs as 'full'.", routerOs.c_str());
    const std::string name = getCfgFileNameQxCli(link, bootFac);
    return !name.empty() && updateConfigQxCli(name, bootFac);
}

// The management system writes the certificate files shortly before the
// job starts; a missing first file gets one grace period.
bool Tarvo::certificateFileReady(bool& present) {
    const std::string path = paths.transferDir() + certFileName(router->id, -1);
    off_t size = 0;
    if (!fileSize(path, size)) {
        log->add(logEngine::INF, "Certificate files are not yet present, wait 5 seconds.");
        Pause::seconds(5);
        if (!fileSize(path, size)) {
            setError("No cert-file", "Gave up waiting for certificate-files.");
            return false;
        }
    }
    present = size > 0;
    if (!present) log->add(logEngine::INF, "No certificates configured (pkcs12-file is dummy).");
    return true;
}

bool Tarvo::updateConfigNexa(ConnectionHandler& link, bool configAll, bool certsOnly, bool bootFac) {
    const std::string target = bootFac ? "boot_fac" : "boot";
    if (!step(link, "tmibAdmSWVersion", family.promptAdmin)) return false;
    if (certsOnly) {
        updateJob("Cloning old config");
        if (!step(link, "configd copy " + target + " " + kStaging, family.promptMain)) return false;
    } else {
        if (!configAll && !backupCertTables(link)) return false;
        std::string source;
        if (!configdSourceOption(link, source, false)) return false;
        if (!configdTransfer(link, "Updating config", source, configAll ? "get_all" : "get", kStaging)) return false;
        log->add(logEngine::INF, "Config updated.");
        if (!configAll && !restoreCertTables(link)) return false;
    }
    if (!configAll && !loadCertificates(link)) return false;
    if (router->savebackupcfg == "1") {
        updateJob("Backing-up old config");
        if (!step(link, "configd copy " + target + " opsbase_backup", family.promptMain)) return false;
    }
    // Until here the target is as it was; this one command replaces it.
    updateJob("Activating new config");
    return step(link, "configd move " + std::string(kStaging) + " " + target, family.promptMain);
}

// The running configuration's keys and certificates, kept aside while the
// staging configuration is replaced.
bool Tarvo::backupCertTables(ConnectionHandler& link) {
    updateJob("Backing-up certs");
    if (!step(link, "configd delete " + std::string(kCertStore), family.promptMain)) return false;
    for (const char* table : kCertTables)
        if (!step(link, "configd save " + std::string(table) + " " + kCertStore, family.promptMain)) return false;
    return true;
}

// Each kept table goes through the running configuration into the staging
// one: configd moves tables only between those two.
bool Tarvo::restoreCertTables(ConnectionHandler& link) {
    updateJob("Restoring old certs");
    for (const char* table : kCertTables) {
        if (!step(link, "configd load " + std::string(table) + " " + kCertStore, family.promptMain)) return false;
        if (!step(link, "configd save " + std::string(table) + " " + kStaging, family.promptMain)) return false;
    }
    return step(link, "configd delete " + std::string(kCertStore), family.promptMain);
}

bool Tarvo::certSourceOption(ConnectionHandler& link, std::string& option) {
    static const SourceProbe kCert = {"Checking cert-options",
                                      "cert get -h",
                                      "-I <src>",
                                      " -I ",
                                      "",
                                      "Command 'cert get' supports '-I' option.",
                                      "Command 'cert' does NOT support '-I' option."};
    return probeSourceOption(link, kCert, false, option);
}

// The first file carries the router's certificate, labelled with its name;
// the numbered ones follow as NAME_0, NAME_1, ... for as long as the device
// opened the previous one and the next file is there.
bool Tarvo::loadCertificates(ConnectionHandler& link) {
    std::string source;
    if (!certSourceOption(link, source)) return false;
    updateJob("Updating certs");
    const std::string first = certFileName(router->id, -1);
    off_t size = 0;
    if (!fileSize(paths.transferDir() + first, size)) {
        setError("No cert-file", "Could not find certificate-files.");
        return false;
    }
    if (size == 0) return true;
    log->add(logEngine::INF, "Sending cert get command to router.");
    commandResult reply = sendCertGet(link, source, first, router->name);
    for (int index = 0; reply.foundFirst && reply.contains("envelope"); ++index) {
        const std::string file = certFileName(router->id, index);
        if (!fileSize(paths.transferDir() + file, size)) break;
        log->add(logEngine::INF, "Sending next cert get command to router.");
        reply = sendCertGet(link, source, file, router->name + "_" + std::to_string(index));
    }
    if (!reply.foundFirst || !reply.contains("envelope")) {
        setError("Bad cert-file", "Could not process certificate-files.");
        return false;
    }
    return true;
}

// The PKCS#12 passphrase is the router's administrator password: the
// command is logged with it blanked out, and the reply (the device echoes
// the command over Telnet) only as debug, whatever the transfer method.
commandResult Tarvo::sendCertGet(ConnectionHandler& link, const std::string& source, const std::string& file,
                                 const std::string& label) {
    const std::string head = std::string("cert get -f -s") + kStaging + " -o -P";
    const std::string tail = transferBase + file + " '" + label + "'";
    return transferCommand(link, head + router->tmibadmadmincommunity + source + " " + transferScheme, tail,
                           family.promptAdmin, "", head + "*" + source + " " + transferScheme);
}

bool Tarvo::updateConfigQxCli(const std::string& name, bool) {
    bool updated = false;
    withSftp([&](ConnectionHandler& sftp) {
        updateJob("Updating config");
        ScopedTimeout slow(sftp, 60);
        bool renameFailed = false;
        if (!sftpPutAndRename(sftp, jobFile(".config"), "/MEM/" + name, "/DSK/" + name, renameFailed)) return;
        log->add(logEngine::INF, "Config updated.");
        updated = true;
    });
    return updated;
}
