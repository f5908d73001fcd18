#include "tests/device/BareJob.h"

#include "tests/support/TestSupport.h"
#include "util/logEngine.h"

namespace devicetest {

std::unique_ptr<Tarvo> bareJob(const std::string& root, const std::string& os, const testsim::DevSim& device,
                               bool debug) {
    auto job = std::make_unique<Tarvo>(7, debug, false, false, false, Paths(root));
    job->log.reset(new logEngine(debug));
    job->routerOs = os;
    job->family = DeviceFamily(os);
    job->fileTransferMethod = job->isQxCli() ? "SFTP" : "TFTP";
    job->connectSettings.reset(new ConnectSettings);
    job->connectSettings->address = "127.0.0.1";
    job->connectSettings->telnetPort = device.telnetPort();
    job->connectSettings->sshPort = device.sshPort();
    job->connectSettings->connectTimeout = 5;
    job->connectSettings->commandTimeout = 3;
    job->loginSettings.reset(new LoginSettings{{"admin", "admin", "(supplied)"}});
    return job;
}

bool readSettings(Tarvo& job, const std::string& root, const std::string& configTimeout,
                  const std::string& imageTimeout) {
    testsupport::makeDirs(root + "/etc");
    testsupport::writeFile(root + "/etc/cordal.xml", R"(<?xml version="1.0" encoding="ISO-8859-1"?>
<cordal>
  <config>
    <autoSelectLoaded>false</autoSelectLoaded>
    <configrestoretimeout>
      <ip>
        <config>)" + configTimeout + R"(</config>
        <image>)" + imageTimeout + R"(</image>
      </ip>
    </configrestoretimeout>
    <configsPerRouter>5</configsPerRouter>
    <iptftphost>127.0.0.1</iptftphost>
    <fileTransferMethod>tftp</fileTransferMethod>
    <fileTransferPwd>xferpw</fileTransferPwd>
    <fileTransferUsr>xfer</fileTransferUsr>
    <ipallowdelete>false</ipallowdelete>
    <ipconnecttimeout><default>5</default></ipconnecttimeout>
    <readnexaversion>false</readnexaversion>
    <routerreboottime><default>0</default></routerreboottime>
  </config>
</cordal>
)");
    return job.readXML("NX-1");
}

std::unique_ptr<ConnectionHandler> linkFor(Tarvo& job, eConnectionType type) {
    return std::unique_ptr<ConnectionHandler>(job.createConnectionHandler(type));
}

std::string logOf(const Tarvo& job) {
    return testsupport::logText(*job.log);
}

size_t receivedLines(const testsim::DevSim& device) {
    const std::string text = device.transcript();
    size_t count = 0;
    for (size_t at = 0; (at = text.find(" <<< ", at)) != std::string::npos; ++at) ++count;
    return count;
}

}  // namespace devicetest
