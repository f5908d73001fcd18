#include "tests/e2esupport/JobSetup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace e2e {

using testdb::TestDatabase;

namespace {
std::string element(const std::string& name, const std::string& value) {
    return "<" + name + ">" + value + "</" + name + ">";
}

std::string perModel(const std::string& name, const std::string& defaultValue,
                     const std::map<std::string, std::string>& models) {
    std::string text = "    <" + name + ">\n      " + element("default", defaultValue) + "\n";
    for (const auto& m : models) text += "      " + element(m.first, m.second) + "\n";
    return text + "    </" + name + ">\n";
}
}  // namespace

JobSetup::JobSetup(testdb::Schema schema) : db(schema) {
    makeFolders();
}

JobSetup::JobSetup(const testdb::ServerFacts& server, testdb::Schema schema) : db(server, schema) {
    makeFolders();
}

void JobSetup::makeFolders() {
    testsupport::makeDirs(root.path() + "/etc");
    testsupport::makeDirs(transferDir());
    testsupport::makeDirs(templateDir());
    testsupport::makeDirs(root.path() + "/bin");
}

std::string JobSetup::settingsXml(const JobSettings& s) const {
    std::string xml = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<cordal>\n  <database>\n";
    xml += "    " + element("server", db.host()) + "\n";
    xml += "    " + element("dbname", db.name()) + "\n";
    xml += "    " + element("dbuser", db.user()) + "\n";
    xml += "    " + element("dbpass", db.password()) + "\n";
    xml += "  </database>\n  <config>\n";
    xml += "    " + element("autoSelectLoaded", s.autoSelectLoaded) + "\n";
    if (!s.configRestoreTimeoutConfig.empty() || !s.configRestoreTimeoutImage.empty()) {
        xml += "    <configrestoretimeout>\n      <ip>\n";
        if (!s.configRestoreTimeoutConfig.empty())
            xml += "        " + element("config", s.configRestoreTimeoutConfig) + "\n";
        if (!s.configRestoreTimeoutImage.empty())
            xml += "        " + element("image", s.configRestoreTimeoutImage) + "\n";
        xml += "      </ip>\n    </configrestoretimeout>\n";
    }
    xml += "    " + element("configsPerRouter", s.configsPerRouter) + "\n";
    xml += "    " + element("iptftphost", s.tftpHost) + "\n";
    xml += "    " + element("fileTransferMethod", s.fileTransferMethod) + "\n";
    xml += "    " + element("fileTransferPwd", s.fileTransferPwd) + "\n";
    xml += "    " + element("fileTransferUsr", s.fileTransferUsr) + "\n";
    xml += "    " + element("ipallowdelete", s.ipAllowDelete) + "\n";
    xml += perModel("ipconnecttimeout", s.connectTimeout, s.connectTimeoutPerModel);
    xml += "    " + element("readnexaversion", s.readNexaVersion) + "\n";
    xml += perModel("routerreboottime", s.rebootTime, s.rebootTimePerModel);
    if (!s.jobDeadline.empty()) xml += "    " + element("jobdeadline", s.jobDeadline) + "\n";
    if (!s.routerLockWait.empty()) xml += "    " + element("routerLockWait", s.routerLockWait) + "\n";
    if (!s.claimLease.empty()) xml += "    " + element("claimLease", s.claimLease) + "\n";
    xml += "  </config>\n</cordal>\n";
    return xml;
}

void JobSetup::writeSettings(const JobSettings& settings) {
    writeSettingsText(settingsXml(settings));
}

void JobSetup::writeSettingsText(const std::string& text) {
    testsupport::writeFile(root.path() + "/etc/cordal.xml", text);
    transferPassword.clear();
    size_t open = text.find("<fileTransferPwd>");
    size_t close = text.find("</fileTransferPwd>");
    if (open != std::string::npos && close != std::string::npos && close > open)
        transferPassword = text.substr(open + 17, close - open - 17);
}

std::vector<std::string> JobSetup::knownSecrets() {
    std::vector<std::string> secrets{transferPassword, db.password()};
    const std::vector<std::string> columns = db.columns("cordal_router");
    static const char* const kSecretColumns[] = {"pass",
                                                 "ipsec",
                                                 "tmibadmadmincommunity",
                                                 "oldcommunity",
                                                 "tmibadmreadcommunity",
                                                 "tmibadmwritecommunity",
                                                 "tmibadmhttppassword"};
    for (const auto& row : db.rows("SELECT * FROM cordal_router")) {
        std::map<std::string, std::string> byName;
        for (size_t i = 0; i < columns.size() && i < row.size(); ++i) byName[columns[i]] = row[i].value_or("");
        for (const char* column : kSecretColumns) secrets.push_back(byName[column]);
        for (const auto& column : byName)
            if (column.first.rfind("var_", 0) == 0 && byName["pwd_" + column.first] == "yes")
                secrets.push_back(column.second);
    }
    std::vector<std::string> kept;
    for (const auto& secret : secrets)
        if (secret.size() >= 4 && secret != "admin" && std::find(kept.begin(), kept.end(), secret) == kept.end())
            kept.push_back(secret);
    return kept;
}

std::string JobSetup::leakedSecrets(unsigned long jobId, const testsupport::ProcessResult& result) {
    std::map<std::string, std::string> outputs{{"standard output", result.out}, {"standard error", result.err}};
    auto h = history(jobId);
    outputs["history log"] = h["log"];
    outputs["history reason"] = h["reason"];
    const std::string logFile = transferDir() + std::to_string(jobId) + ".log";
    if (testsupport::fileExists(logFile)) outputs["log file"] = testsupport::readFile(logFile);
    std::string found;
    for (const auto& secret : knownSecrets())
        for (const auto& output : outputs)
            if (output.second.find(secret) != std::string::npos)
                found += "secret '" + secret + "' in the " + output.first + " of job " + std::to_string(jobId) + "\n";
    return found;
}

void JobSetup::addRouterType(const std::string& shortname, const std::string& os) {
    db.exec("INSERT INTO cordal_routertypes (shortname, ifindexoffset, os) VALUES (" + TestDatabase::quote(shortname) +
            ", 0, " + TestDatabase::quote(os) + ")");
}

unsigned long JobSetup::addRouter(const std::map<std::string, std::string>& columns) {
    std::string names, values;
    for (const auto& c : columns) {
        if (!names.empty()) {
            names += ", ";
            values += ", ";
        }
        names += "`" + c.first + "`";
        values += TestDatabase::quote(c.second);
    }
    db.exec("INSERT INTO cordal_router (" + names + ") VALUES (" + values + ")");
    return std::stoul(db.value("SELECT MAX(id) FROM cordal_router"));
}

void JobSetup::addJob(unsigned long id, unsigned long routerId, const std::string& workmode,
                      unsigned long long jobtime) {
    db.exec("INSERT INTO cordal_jobs (id, routerid, jobtime, starttime, workmode, status, osrel, uid) VALUES (" +
            std::to_string(id) + ", " + std::to_string(routerId) + ", " + std::to_string(jobtime) + ", " +
            std::to_string(jobtime + 5) + ", " + TestDatabase::quote(workmode) + ", 'queued', 'R7.1', 4711)");
}

testsupport::ProcessResult JobSetup::run(unsigned long jobId, std::vector<std::string> options, int timeoutSeconds,
                                         std::atomic<int>* startedPid) {
    std::vector<std::string> argv{testsupport::builtProgram("tests/tarvo-test-runner"), root.path()};
    char scale[64];
    snprintf(scale, sizeof scale, "--pause-scale=%g", pauseScale);
    argv.push_back(scale);
    if (waitLimitScale != 1.0) {
        snprintf(scale, sizeof scale, "--wait-limit-scale=%g", waitLimitScale);
        argv.push_back(scale);
    }
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("-j");
    argv.push_back(std::to_string(jobId));
    testsupport::ProcessResult result = testsupport::runProcess(argv, timeoutSeconds, startedPid);
    const bool debug = std::any_of(options.begin(), options.end(), [](const std::string& o) {
        return o.size() > 1 && o[0] == '-' && o.find('d') != std::string::npos;
    });
    if (scanSecrets && !debug) {
        // The test's database connection serves one statement at a time.
        std::lock_guard<std::mutex> hold(scanLock);
        std::string leaks = leakedSecrets(jobId, result);
        if (!leaks.empty()) ADD_FAILURE() << leaks;
    }
    return result;
}

bool JobSetup::jobRowExists(unsigned long jobId) {
    return db.count("cordal_jobs", "id=" + std::to_string(jobId)) > 0;
}

long long JobSetup::historyRows(unsigned long jobId) {
    return db.count("cordal_jobhistory", "id=" + std::to_string(jobId));
}

std::map<std::string, std::string> JobSetup::history(unsigned long jobId) {
    std::map<std::string, std::string> row;
    std::vector<std::string> names = db.columns("cordal_jobhistory");
    auto rows = db.rows("SELECT * FROM cordal_jobhistory WHERE id=" + std::to_string(jobId));
    if (rows.empty()) return row;
    for (size_t i = 0; i < names.size() && i < rows[0].size(); ++i) row[names[i]] = rows[0][i].value_or("");
    return row;
}

}  // namespace e2e
