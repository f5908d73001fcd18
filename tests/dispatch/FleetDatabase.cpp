#include "tests/dispatch/FleetDatabase.h"

#include <exception>

#include "tests/dispatch/DispatcherProcess.h"

#ifndef TARVO_GALERA_FIXTURE
#error "TARVO_GALERA_FIXTURE must name tests/dbsupport/galera-fixture.sh"
#endif

namespace dispatchtest {

namespace {
std::string fact(const std::string& facts, const std::string& key) {
    size_t at = ("\n" + facts).find("\n" + key + "=");
    if (at == std::string::npos) return "";
    at += key.size() + 1;
    return facts.substr(at, facts.find('\n', at) - at);
}
}  // namespace

FleetDatabase::FleetDatabase() : dir_("galera") {}

FleetDatabase::~FleetDatabase() {
    if (started_) script({"stop", dir_.path()});
}

bool FleetDatabase::script(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{TARVO_GALERA_FIXTURE};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto result = testsupport::runProcess(argv, 300);
    if (result.exitCode == 0) return true;
    error_ = "galera-fixture.sh " + arguments.at(0) + ": exit " + std::to_string(result.exitCode) + "\n" + result.err;
    return false;
}

bool FleetDatabase::start() {
    started_ = true;
    if (!script({"start", dir_.path()})) return false;
    try {
        facts_ = testdb::readFacts(dir_.path());
    } catch (const std::exception& e) {
        error_ = e.what();
        return false;
    }
    const std::string facts = testsupport::readFile(dir_.path() + "/server.env");
    for (int n = 0; n < 3; ++n) ports_[n] = atoi(fact(facts, "port" + std::to_string(n + 1)).c_str());
    return ports_[0] > 0 && ports_[1] > 0 && ports_[2] > 0;
}

std::string FleetDatabase::serversFor(int k) const {
    std::string servers;
    for (int i = 0; i < 3; ++i)
        servers += (i ? "," : "") + std::string("127.0.0.1:") + std::to_string(ports_[(k + i) % 3]);
    return servers;
}

bool FleetDatabase::stopNode() {
    return script({"stopnode", dir_.path(), std::to_string(kStoppedNode)});
}

bool FleetDatabase::restartNode() {
    return script({"startnode", dir_.path(), std::to_string(kStoppedNode)});
}

bool FleetDatabase::noticed(const std::vector<std::unique_ptr<DispatcherProcess>>& hosts) const {
    for (const auto& host : hosts)
        if (host->running() && testsupport::contains(host->errors(), "the database does not answer")) return true;
    return false;
}

}  // namespace dispatchtest
