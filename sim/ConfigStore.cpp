#include "sim/ConfigStore.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/DeviceConfig.h"
#include "sim/StateFile.h"

namespace {
const char* const kQxBootFile = "bootfile";
const char* const kQxDefaultBoot = "CONFIG";
const char* const kQxRunning = "running-config";
}  // namespace

ConfigStore::ConfigStore(std::string stateDir, SimFamily family)
    : stateDir_(std::move(stateDir)), configsDir_(stateDir_ + "/configs"), family_(family) {}

std::string ConfigStore::factoryNexa(const std::string& hostname) {
    return "# configuration of a NEXA router\n"
           "systemTable\n"
           "{\n"
           "   tmibAdmSystemName        (RW,DisplayStr):  \"" +
           hostname +
           "\"\n"
           "}\n"
           "ipInterfaceTable\n"
           "{\n"
           "   ipIfName                 (RW,DisplayStr):  \"eth0\"\n"
           "   ipIfAddress              (RW,IpAddress):   192.168.1.1\n"
           "}\n"
           "binTable\n"
           "{\n"
           "   binName                  (RW,DisplayStr):  \"factory\"\n"
           "}\n"
           "binPublicTable\n"
           "binFileTable\n"
           "ipsecPublicKeyTable\n"
           "certTable\n"
           "{\n"
           "   certLabel                (RW,DisplayStr):  \"device\"\n"
           "   certSerial               (R,DisplayStr):   \"01\"\n"
           "}\n";
}

bool ConfigStore::prepare(const std::string& hostname, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string content;
    if (family_ == SimFamily::QxCli) {
        if (!StateFile::read(stateDir_ + "/" + kQxBootFile, content)) {
            const std::string file = stateDir_ + "/fs/DSK/" + kQxDefaultBoot + ".CFG";
            if (!StateFile::read(file, content) &&
                !StateFile::writeAtomically(file, "# qx.CLI configuration\nsystem\n{\n   name " + hostname + "\n}\n",
                                            error))
                return false;
            if (!StateFile::writeAtomically(stateDir_ + "/" + kQxBootFile, std::string(kQxDefaultBoot) + "\n", error))
                return false;
        }
        // Starting is booting: the device runs its boot file.
        return bootQxCli(error);
    }
    if (::mkdir(configsDir_.c_str(), 0755) != 0 && errno != EEXIST) {
        error = configsDir_ + ": " + strerror(errno);
        return false;
    }
    // A device whose configuration folder holds anything has been set up
    // before (or by a test); only a fresh one gets the factory set.
    if (!names().empty()) return true;
    return store("running", factoryNexa(hostname), error) && store("boot", factoryNexa(hostname), error);
}

bool ConfigStore::validName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 64) return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
                  c == '.';
        if (!ok) return false;
    }
    return name.find(".tmp.") == std::string::npos;
}

bool ConfigStore::exists(const std::string& name) const {
    std::string text;
    return read(name, text);
}

bool ConfigStore::read(const std::string& name, std::string& text) const {
    if (!validName(name)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return StateFile::read(pathOf(name), text);
}

bool ConfigStore::write(const std::string& name, const std::string& text, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    return store(name, text, error);
}

bool ConfigStore::store(const std::string& name, const std::string& text, std::string& error) {
    if (!validName(name)) {
        error = "bad configuration name '" + name + "'";
        return false;
    }
    DeviceConfig parsed;
    if (!DeviceConfig::parse(text, parsed, error)) return false;
    return StateFile::writeAtomically(pathOf(name), text, error);
}

bool ConfigStore::remove(const std::string& name, std::string& error) {
    if (!validName(name)) {
        error = "bad configuration name '" + name + "'";
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (::unlink(pathOf(name).c_str()) != 0) {
        error = errno == ENOENT ? "no configuration '" + name + "'" : name + ": " + strerror(errno);
        return false;
    }
    return true;
}

bool ConfigStore::copy(const std::string& from, const std::string& to, std::string& error) {
    return transfer(from, to, true, error);
}

bool ConfigStore::move(const std::string& from, const std::string& to, std::string& error) {
    return transfer(from, to, false, error);
}

bool ConfigStore::transfer(const std::string& from, const std::string& to, bool keepSource, std::string& error) {
    if (!validName(from) || !validName(to)) {
        error = "bad configuration name";
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    if (!StateFile::read(pathOf(from), text)) {
        error = "no configuration '" + from + "'";
        return false;
    }
    if (from == to) return true;
    if (keepSource) return StateFile::writeAtomically(pathOf(to), text, error);
    if (::rename(pathOf(from).c_str(), pathOf(to).c_str()) != 0) {
        error = to + ": " + strerror(errno);
        return false;
    }
    return true;
}

bool ConfigStore::saveTable(const std::string& table, const std::string& name, std::string& error) {
    if (!validName(name)) {
        error = "bad configuration name '" + name + "'";
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    std::string runningText, targetText;
    DeviceConfig running, target;
    if (!StateFile::read(pathOf("running"), runningText) || !DeviceConfig::parse(runningText, running, error)) {
        if (error.empty()) error = "no running configuration";
        return false;
    }
    const DeviceConfig::Table* found = running.table(table);
    if (!found) {
        error = "no table '" + table + "' in the running configuration";
        return false;
    }
    if (StateFile::read(pathOf(name), targetText) && !DeviceConfig::parse(targetText, target, error)) return false;
    target.putTable(*found);
    return StateFile::writeAtomically(pathOf(name), target.render(), error);
}

bool ConfigStore::loadTable(const std::string& table, const std::string& name, std::string& error) {
    if (!validName(name)) {
        error = "bad configuration name '" + name + "'";
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    std::string sourceText, runningText;
    DeviceConfig source, running;
    if (!StateFile::read(pathOf(name), sourceText)) {
        error = "no configuration '" + name + "'";
        return false;
    }
    if (!DeviceConfig::parse(sourceText, source, error)) return false;
    const DeviceConfig::Table* found = source.table(table);
    if (!found) {
        error = "no table '" + table + "' in configuration '" + name + "'";
        return false;
    }
    if (StateFile::read(pathOf("running"), runningText) && !DeviceConfig::parse(runningText, running, error))
        return false;
    running.putTable(*found);
    return StateFile::writeAtomically(pathOf("running"), running.render(), error);
}

std::vector<std::string> ConfigStore::names() const {
    std::vector<std::string> found;
    DIR* dir = ::opendir(configsDir_.c_str());
    if (!dir) return found;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (validName(name)) found.push_back(name);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

void ConfigStore::boot() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text, error;
    if (family_ == SimFamily::QxCli) {
        bootQxCli(error);
        return;
    }
    if (!StateFile::read(pathOf("boot"), text)) text.clear();
    StateFile::writeAtomically(pathOf("running"), text, error);
}

// The boot file named by bootfile, or the factory default CONFIG.DEF when
// that is not set or not on the disk; nothing when neither is there.
bool ConfigStore::bootQxCli(std::string& error) {
    const std::string name = bootNameLocked();
    std::string text;
    if ((name.empty() || !StateFile::read(stateDir_ + "/fs/DSK/" + name + ".CFG", text)) &&
        !StateFile::read(stateDir_ + "/fs/DSK/CONFIG.DEF", text))
        text.clear();
    return StateFile::writeAtomically(stateDir_ + "/" + kQxRunning, text, error);
}

std::string ConfigStore::qxBootName() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bootNameLocked();
}

std::string ConfigStore::bootNameLocked() const {
    std::string content;
    if (!StateFile::read(stateDir_ + "/" + kQxBootFile, content)) return "";
    size_t end = content.find_first_of("\r\n");
    if (end != std::string::npos) content.resize(end);
    return content;
}

bool ConfigStore::setQxBootName(const std::string& name, std::string& error) {
    if (!validName(name)) {
        error = "bad file name '" + name + "'";
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return StateFile::writeAtomically(stateDir_ + "/" + kQxBootFile, name + "\n", error);
}
