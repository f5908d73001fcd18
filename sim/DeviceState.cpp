#include "sim/DeviceState.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "sim/ConfigStore.h"
#include "sim/DevsimOptions.h"
#include "sim/StateFile.h"

namespace {

bool makeDirectory(const std::string& path, std::string& error) {
    std::string partial;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        partial = path.substr(0, end);
        start = end + 1;
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
            error = partial + ": " + strerror(errno);
            return false;
        }
    }
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = path + ": not a directory";
        return false;
    }
    return true;
}

bool parseYesNo(const std::string& value, const char* yes, const char* no, bool& into) {
    if (value == yes) {
        into = true;
        return true;
    }
    if (value == no) {
        into = false;
        return true;
    }
    return false;
}

std::string lineError(const std::string& file, const std::string& line, const std::string& what) {
    return file + ": '" + line + "': " + what;
}

// Where a NEXA device keeps its inventory facts.
const char* const kSerialVariable = "tmibAdmSystemId";
const char* const kPartNumberVariable = "tmibAdmBoardTable.tmibABrdPartNo";
const char* const kVersionVariable = "tmibAdmSWVersion";

}  // namespace

DeviceState::DeviceState(std::string dir) : dir_(std::move(dir)) {}

DeviceState::~DeviceState() = default;

std::unique_ptr<DeviceState> DeviceState::open(const DevsimOptions& options, std::string& error) {
    std::unique_ptr<DeviceState> state(new DeviceState(options.stateDir));
    if (!makeDirectory(options.stateDir, error) || !state->load(options, error)) return nullptr;
    return state;
}

bool DeviceState::load(const DevsimOptions& options, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!loadFamily(options, error) || !loadAccounts(options, error) || !loadVariables(options, error) ||
        !loadSsh(options, error) || !loadBoot(error) || !loadPasswords(options, error) || !makeFileSystem(error))
        return false;
    configs_ = std::make_unique<ConfigStore>(dir_, family_);
    if (!configs_->prepare(options.hostname, error)) return false;
    bootTime_ = time(nullptr);
    if (!saveBoot()) {
        error = lastError_;
        return false;
    }
    return true;
}

bool DeviceState::loadFamily(const DevsimOptions& options, std::string& error) {
    std::string content;
    if (options.familyGiven) {
        family_ = options.family;
        if (!save("family", std::string(familyName(family_)) + "\n")) {
            error = lastError_;
            return false;
        }
        return true;
    }
    if (!StateFile::read(path("family"), content)) {
        error = "no device family: give --family nexa|qxcli (" + path("family") + " is missing)";
        return false;
    }
    while (!content.empty() && (content.back() == '\n' || content.back() == '\r' || content.back() == ' '))
        content.pop_back();
    if (!parseFamily(content, family_)) {
        error = path("family") + ": '" + content + "' is neither nexa nor qxcli";
        return false;
    }
    return true;
}

bool DeviceState::loadAccounts(const DevsimOptions& options, std::string& error) {
    std::string content;
    if (!options.accounts.empty()) {
        accounts_ = options.accounts;
    } else if (StateFile::read(path("users"), content)) {
        for (const auto& [user, password] : StateFile::keyValueLines(content)) accounts_.push_back({user, password});
        return true;
    } else {
        accounts_ = {{"admin", "admin"}};
    }
    if (!saveAccounts()) {
        error = lastError_;
        return false;
    }
    return true;
}

bool DeviceState::loadVariables(const DevsimOptions& options, std::string& error) {
    std::string content;
    if (StateFile::read(path("variables"), content)) {
        for (const std::string& line : StateFile::entryLines(content)) {
            size_t equals = line.find('=');
            if (equals == 0 || equals == std::string::npos) {
                error = lineError(path("variables"), line, "expected NAME=VALUE");
                return false;
            }
            variables_[line.substr(0, equals)] = line.substr(equals + 1);
        }
    } else if (family_ == SimFamily::Nexa) {
        // A device fresh from the factory knows what it is.
        variables_ = {{kSerialVariable, "NX-SN-000001"},
                      {kPartNumberVariable, "NX-4400/2"},
                      {kVersionVariable, "V.7.10 Rev. 2 IPSec"}};
    }
    if (family_ != SimFamily::Nexa) return true;
    bool changed = content.empty();
    for (const auto& [name, value] :
         {std::make_pair(kSerialVariable, &options.serial), std::make_pair(kPartNumberVariable, &options.partNumber),
          std::make_pair(kVersionVariable, &options.swVersion)}) {
        if (value->empty()) continue;
        variables_[name] = *value;
        changed = true;
    }
    if (changed && !saveVariables()) {
        error = lastError_;
        return false;
    }
    return true;
}

bool DeviceState::loadSsh(const DevsimOptions& options, std::string& error) {
    std::string content;
    if (StateFile::read(path("ssh"), content)) {
        for (const auto& [key, value] : StateFile::keyValueLines(content)) {
            bool ok = (key == "keys" && parseYesNo(value, "yes", "no", sshKeys_)) ||
                      (key == "service" && parseYesNo(value, "enabled", "disabled", sshService_));
            if (!ok) {
                error =
                    lineError(path("ssh"), key + " " + value, "expected 'keys yes|no' or 'service enabled|disabled'");
                return false;
            }
        }
    }
    if (options.faults.noSsh) sshKeys_ = sshService_ = false;
    if (!saveSsh()) {
        error = lastError_;
        return false;
    }
    return true;
}

bool DeviceState::loadBoot(std::string& error) {
    std::string content;
    if (!StateFile::read(path("boot"), content)) return true;
    for (const auto& [key, value] : StateFile::keyValueLines(content)) {
        char* end = nullptr;
        errno = 0;
        unsigned long long number = strtoull(value.c_str(), &end, 10);
        bool numeric = !value.empty() && end && *end == '\0' && errno == 0 && value[0] != '-';
        if (key == "count" && numeric && number <= 0xffffffffULL) {
            rebootCount_ = static_cast<unsigned>(number);
        } else if (key == "fallbacks" && numeric && number <= 0xffffffffULL) {
            fallbackCount_ = static_cast<unsigned>(number);
        } else if (key == "time" && numeric) {
            // the boot time is rewritten at every start
        } else {
            error = lineError(path("boot"), key + " " + value, "expected 'count N', 'fallbacks N' or 'time SECONDS'");
            return false;
        }
    }
    return true;
}

std::vector<std::string> DeviceState::fsDirectories() const {
    if (family_ == SimFamily::QxCli) return {"DSK", "MEM", "BIO"};
    return {"flash", "tmp"};
}

bool DeviceState::makeFileSystem(std::string& error) {
    for (const auto& name : fsDirectories())
        if (!makeDirectory(fsRoot() + "/" + name, error)) return false;
    return true;
}

bool DeviceState::passwordRequired(const std::string& user) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& account : accounts_)
        if (account.user == user) return !account.password.empty();
    return true;
}

bool DeviceState::checkLogin(const std::string& user, const std::string& password) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& account : accounts_)
        if (account.user == user && account.password == password) return true;
    return false;
}

std::vector<Account> DeviceState::accounts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return accounts_;
}

bool DeviceState::variable(const std::string& name, std::string& value) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = variables_.find(name);
    if (it == variables_.end()) return false;
    value = it->second;
    return true;
}

bool DeviceState::setVariable(const std::string& name, const std::string& value, bool create) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = variables_.find(name);
    if (it == variables_.end() && !create) return false;
    variables_[name] = value;
    saveVariables();
    return true;
}

bool DeviceState::sshKeysPresent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sshKeys_;
}

bool DeviceState::sshServiceEnabled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sshService_;
}

bool DeviceState::sshAvailable() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sshService_ && (family_ == SimFamily::QxCli || sshKeys_);
}

void DeviceState::setSshKeysPresent(bool present) {
    std::function<void()> observer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sshKeys_ = present;
        saveSsh();
        observer = sshObserver_;
    }
    if (observer) observer();
}

void DeviceState::setSshServiceEnabled(bool enabled) {
    std::function<void()> observer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sshService_ = enabled;
        saveSsh();
        observer = sshObserver_;
    }
    if (observer) observer();
}

void DeviceState::setSshObserver(std::function<void()> observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    sshObserver_ = std::move(observer);
}

unsigned DeviceState::rebootCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rebootCount_;
}

unsigned DeviceState::fallbackCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fallbackCount_;
}

time_t DeviceState::bootTime() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bootTime_;
}

void DeviceState::recordShutdown(bool byFallbackTimer) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++rebootCount_;
    if (byFallbackTimer) ++fallbackCount_;
    saveBoot();
}

void DeviceState::recordBoot() {
    configs_->boot();
    std::lock_guard<std::mutex> lock(mutex_);
    restoreSavedPasswords();
    bootTime_ = time(nullptr);
    saveBoot();
}

std::string DeviceState::lastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

bool DeviceState::saveAccounts() {
    std::string content;
    for (const auto& account : accounts_)
        content += account.password.empty() ? account.user + "\n" : account.user + " " + account.password + "\n";
    return save("users", content);
}

bool DeviceState::saveVariables() {
    std::string content;
    for (const auto& [name, value] : variables_) content += name + "=" + value + "\n";
    return save("variables", content);
}

bool DeviceState::saveSsh() {
    return save("ssh", std::string("keys ") + (sshKeys_ ? "yes" : "no") + "\nservice " +
                           (sshService_ ? "enabled" : "disabled") + "\n");
}

bool DeviceState::saveBoot() {
    return save("boot", "count " + std::to_string(rebootCount_) + "\nfallbacks " + std::to_string(fallbackCount_) +
                            "\ntime " + std::to_string(static_cast<long long>(bootTime_)) + "\n");
}

bool DeviceState::save(const std::string& name, const std::string& content) {
    std::string error;
    if (StateFile::writeAtomically(path(name), content, error)) return true;
    lastError_ = error;
    return false;
}
