#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "sim/DeviceTypes.h"

// ConfigStore holds the device's configurations, each a file of the state
// directory in the configuration text format:
//
//   configs/NAME   a named configuration of a NEXA device: "running" (the
//                  one in use), "boot" (the one the device starts with),
//                  "boot_fac" and whatever configd names. Tests prepare and
//                  read them there.
//   bootfile       qx.CLI: the name of the boot configuration file, which
//                  lives in the SFTP file system as fs/DSK/NAME.CFG. An
//                  empty file: the device has no boot configuration set.
//   running-config qx.CLI: the configuration the device runs, the boot
//                  file (or /DSK/CONFIG.DEF, the factory default, when the
//                  boot file is not set or missing) as it was at the last
//                  start or reboot; empty when there was neither.
//
// A fresh NEXA device starts with a small running and boot configuration
// (certificate tables included), a fresh qx.CLI device with the boot file
// CONFIG and fs/DSK/CONFIG.CFG. Safe to call from several session threads.
class ConfigStore {
public:
    ConfigStore(std::string stateDir, SimFamily family);
    ConfigStore(const ConfigStore&) = delete;
    ConfigStore& operator=(const ConfigStore&) = delete;

    // Creates configs/ and the configurations of a fresh device.
    bool prepare(const std::string& hostname, std::string& error);

    // A configuration name: letters, digits, '_', '-', '.', not "." or "..".
    static bool validName(const std::string& name);
    bool exists(const std::string& name) const;
    // False when there is no such configuration.
    bool read(const std::string& name, std::string& text) const;
    // Stores text as configuration name after the device's parser accepted
    // it; false with the complaint in error.
    bool write(const std::string& name, const std::string& text, std::string& error);
    bool remove(const std::string& name, std::string& error);
    bool copy(const std::string& from, const std::string& to, std::string& error);
    bool move(const std::string& from, const std::string& to, std::string& error);
    // Table table of the running configuration into configuration name
    // (created when missing), replacing the table there.
    bool saveTable(const std::string& table, const std::string& name, std::string& error);
    // Table table of configuration name into the running configuration.
    bool loadTable(const std::string& table, const std::string& name, std::string& error);
    std::vector<std::string> names() const;

    // After a reboot the device runs its boot configuration; without one a
    // NEXA device comes up with the empty configuration, a qx.CLI device
    // with /DSK/CONFIG.DEF.
    void boot();

    // qx.CLI: the boot file name ("" when none is set).
    std::string qxBootName() const;
    bool setQxBootName(const std::string& name, std::string& error);

    // The configuration a fresh NEXA device holds.
    static std::string factoryNexa(const std::string& hostname);

private:
    std::string pathOf(const std::string& name) const { return configsDir_ + "/" + name; }
    bool transfer(const std::string& from, const std::string& to, bool keepSource, std::string& error);
    // REQUIRES: mutex_ held.
    bool bootQxCli(std::string& error);
    std::string bootNameLocked() const;
    bool store(const std::string& name, const std::string& text, std::string& error);

    std::string stateDir_;
    std::string configsDir_;
    SimFamily family_;
    mutable std::mutex mutex_;
};
