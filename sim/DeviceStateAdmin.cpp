// The device's inventory texts and its passwords: the running ones, the
// ones the boot configuration keeps, and the restore at boot.
#include "sim/DeviceState.h"
#include "sim/DevsimOptions.h"
#include "sim/StateFile.h"

namespace {
const char* const kAdmin = "admin";

std::string withCrLf(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    return out;
}
}  // namespace

bool DeviceState::loadPasswords(const DevsimOptions& options, std::string& error) {
    std::string content;
    // Only NEXA devices have communities.
    if (family_ == SimFamily::Nexa) communities_ = {{"read", "public"}, {"write", "private"}};
    if (family_ == SimFamily::Nexa && StateFile::read(path("communities"), content))
        for (const auto& [key, value] : StateFile::keyValueLines(content)) {
            if (key != "read" && key != "write") {
                error = path("communities") + ": '" + key + "': expected 'read VALUE' or 'write VALUE'";
                return false;
            }
            communities_[key] = value;
        }
    bool saved = StateFile::read(path("saved-passwords"), content);
    if (saved)
        for (const auto& [key, value] : StateFile::keyValueLines(content)) {
            if (key != kAdmin && key != "read" && key != "write") {
                error = path("saved-passwords") + ": '" + key + "': expected admin, read or write";
                return false;
            }
            savedPasswords_[key] = value;
        }
    // Logins given on the command line are the device's own, saved ones.
    if (!saved || !options.accounts.empty()) savedPasswords_ = {{kAdmin, adminPassword()}};
    if (!saved)
        for (const auto& [which, value] : communities_) savedPasswords_[which] = value;
    staticAdminPassword_ = savedPasswords_[kAdmin];
    if (!savePasswords()) {
        error = lastError_;
        return false;
    }
    return true;
}

bool DeviceState::tableColumn(const std::string& column, std::string& table, std::string& value) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string suffix = "." + column;
    for (const auto& [name, text] : variables_) {
        if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        table = name.substr(0, name.size() - suffix.size());
        value = text;
        return true;
    }
    return false;
}

std::string DeviceState::versionReport(const std::string& hostname) const {
    std::string content;
    if (!StateFile::read(path("version"), content))
        content = "qx.CLI " + hostname + " QX-SIM Router, QX-1000-SIM\n" +
                  " S/N: SIM0000001\n"
                  "Software release: 9.4.2 (Build 17)\n"
                  "Boot monitor: 2.1.0\n";
    // A device that booted a new system image reports its release.
    std::string release;
    const std::string label = "Software release: ";
    size_t at = content.find(label);
    if (StateFile::read(path("release"), release) && at != std::string::npos) {
        release = release.substr(0, release.find_first_of("\r\n"));
        at += label.size();
        content.replace(at, content.find_first_of("\r\n", at) - at, release);
    }
    return withCrLf(content);
}

std::string DeviceState::adminPassword() const {
    for (const auto& account : accounts_)
        if (account.user == kAdmin) return account.password;
    return "";
}

void DeviceState::setAdminPassword(const std::string& password) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool known = false;
    for (auto& account : accounts_)
        if (account.user == kAdmin) {
            account.password = password;
            known = true;
        }
    if (!known) accounts_.push_back({kAdmin, password});
    saveAccounts();
}

std::string DeviceState::community(const std::string& which) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = communities_.find(which);
    return it == communities_.end() ? "" : it->second;
}

void DeviceState::setCommunity(const std::string& which, const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    communities_[which] = value;
    savePasswords();
}

void DeviceState::setStaticAdminPassword(const std::string& password) {
    std::lock_guard<std::mutex> lock(mutex_);
    staticAdminPassword_ = password;
}

void DeviceState::saveRunningPasswords() {
    std::lock_guard<std::mutex> lock(mutex_);
    savedPasswords_ = {{kAdmin, adminPassword()}};
    for (const auto& [which, value] : communities_) savedPasswords_[which] = value;
    savePasswords();
}

void DeviceState::saveStaticPasswords() {
    std::lock_guard<std::mutex> lock(mutex_);
    savedPasswords_[kAdmin] = staticAdminPassword_;
    savePasswords();
}

void DeviceState::restoreSavedPasswords() {
    for (auto& account : accounts_)
        if (account.user == kAdmin) account.password = savedPasswords_[kAdmin];
    staticAdminPassword_ = savedPasswords_[kAdmin];
    for (auto& [which, value] : communities_)
        if (savedPasswords_.count(which)) value = savedPasswords_[which];
    saveAccounts();
    savePasswords();
}

bool DeviceState::savePasswords() {
    std::string communities, saved;
    for (const auto& [key, value] : communities_) communities += key + " " + value + "\n";
    for (const auto& [key, value] : savedPasswords_) saved += key + " " + value + "\n";
    return (communities_.empty() || save("communities", communities)) && save("saved-passwords", saved);
}
