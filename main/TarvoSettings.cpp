// The job's settings: the database settings and the job settings of the
// installation's settings file, and the transfer-URL parts derived from them.
#include <cctype>
#include <climits>
#include <vector>

#include "main/Tarvo.h"
#include "main/configHandler.h"
#include "util/logEngine.h"

namespace {

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string upperCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The leading decimal number of text; 0 when there is none. A negative
// number is 0 rather than wrapping to a wait of many years, and a number
// too large for the result stops at its maximum.
unsigned secondsFromText(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') return 0;
        ++i;
    }
    unsigned long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
        if (value > UINT_MAX) return UINT_MAX;
    }
    return static_cast<unsigned>(value);
}

}  // namespace

std::string Tarvo::getFromCfg(const std::string& name) {
    return configHandler(log.get(), paths.settingsFile()).getFromCfg(name);
}

bool Tarvo::readXML(const std::string& model) {
    using Row = configHandler::XmlRow;
    const std::vector<Row> rows = {
        {"config.autoSelectLoaded", &autoSelectLoaded, {}},
        {"|config.configrestoretimeout.ip.config", &configRestoreTimeoutConfig, {}},
        {"|config.configrestoretimeout.ip.image", &configRestoreTimeoutImage, {}},
        {"config.configsPerRouter", &configsPerRouter, {}},
        {"config.iptftphost", &tftpHost, {}},
        {"config.fileTransferMethod", &fileTransferMethod, {}},
        {"config.fileTransferPwd", &fileTransferPwd, {}},
        {"config.fileTransferUsr", &fileTransferUsr, {}},
        {"config.ipallowdelete", &ipAllowDelete, {}},
        {"config.ipconnecttimeout.default", &ipConnectTimeout, {}},
        {"|config.ipconnecttimeout", &ipConnectTimeout, model},
        {"config.readnexaversion", &readNexaVersion, {}},
        {"config.routerreboottime.default", &routerRebootTime, {}},
        {"|config.routerreboottime", &routerRebootTime, model},
        {"|config.jobdeadline", &jobDeadline, {}},
        {"|config.routerLockWait", &routerLockWait, {}},
        {"|config.claimLease", &claimLease, {}},
    };
    if (!configHandler(log.get(), paths.settingsFile()).readRows(rows)) return false;

    if (family.isQxCli()) {
        // qx.CLI devices get their files over SFTP from this program.
        fileTransferMethod = "SFTP";
    } else if (!deriveTransferUrl()) {
        return false;
    }
    rebootSleepSeconds = secondsFromText(routerRebootTime);
    // A deadline of 0 would end every job at once, and none at all would
    // let a device hold the job for ever: the default stands instead.
    jobDeadlineSeconds = secondsFromText(jobDeadline);
    if (jobDeadlineSeconds == 0) {
        jobDeadlineSeconds = kDefaultJobDeadline;
        if (log)
            log->addLine(logEngine::ERR,
                         "Ignoring config.jobdeadline '%s': not a number of seconds above 0; the job deadline is %u "
                         "seconds.",
                         jobDeadline.c_str(), jobDeadlineSeconds);
    }
    routerLockWaitSeconds = claimSetting("config.routerLockWait", routerLockWait, kDefaultRouterLockWait, 0, 86400);
    claimLeaseSeconds = claimSetting("config.claimLease", claimLease, jobDeadlineSeconds, 1, 999999999);
    if (log)
        log->addLine(logEngine::INF, "Read %u seconds sleep time for model '%s' from config file.", rebootSleepSeconds,
                     model.c_str());
    return true;
}

unsigned Tarvo::claimSetting(const char* key, const std::string& text, unsigned fallback, unsigned lowest,
                             unsigned highest) {
    if (text.empty()) return fallback;
    size_t first = text.find_first_not_of(" \t\r\n"), last = text.find_last_not_of(" \t\r\n");
    const std::string value = first == std::string::npos ? "" : text.substr(first, last - first + 1);
    bool digits = !value.empty() && value.size() <= 9;
    for (char c : value) digits = digits && std::isdigit(static_cast<unsigned char>(c));
    const unsigned seconds = digits ? static_cast<unsigned>(std::stoul(value)) : 0;
    if (digits && seconds >= lowest && seconds <= highest) return seconds;
    if (log)
        log->addLine(logEngine::ERR, "Ignoring %s '%s': not whole seconds from %u to %u; it is %u seconds.", key,
                     text.c_str(), lowest, highest, fallback);
    return fallback;
}

// NEXA devices fetch files themselves: the device operations put
// transferScheme, transferCredentials and transferBase in front of a file
// name to build the URL handed to the device.
bool Tarvo::deriveTransferUrl() {
    transferScheme.clear();
    transferCredentials.clear();
    transferBase.clear();
    const std::string method = lowerCase(fileTransferMethod);
    if (method == "tftp") {
        transferScheme = "tftp:";
        transferBase = tftpHost + "/";
    } else if (method == "http" || method == "https") {
        transferScheme = method + "://";
        transferCredentials = fileTransferUsr + ":" + fileTransferPwd + "@";
        transferBase = tftpHost + "/tftpboot/";
    } else {
        if (log) log->addLine(logEngine::ERR, "Unknown fileTransferMethod '%s'", method.c_str());
        return false;
    }
    fileTransferMethod = upperCase(method);
    return true;
}
