#pragma once
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/DeviceTypes.h"

struct DevsimOptions;

// DeviceState is the persistent state of the simulated device, kept in a
// state directory that tests prepare before devsim starts and read after
// it has run. Every change is written to its file at once (atomically, by
// rename), so the files always show the device as it is. All members are
// safe to call from several session threads.
//
// Files of the state directory (text, one entry a line, '#' comments):
//
//   family       "nexa" or "qxcli". --family overwrites it; without
//                --family the stored family is used.
//   users        one login a line: the user name, one blank, the password
//                (the rest of the line, blanks allowed). A line with the
//                user name alone is a login without password prompt.
//                --user/--password pairs overwrite the file; when it is
//                missing it is created with "admin admin".
//   variables    NEXA management variables, one a line: NAME=VALUE. The
//                device shows and assigns only variables listed here. A
//                name TABLE.COLUMN is a column of a table: the device
//                answers COLUMN with TABLE.COLUMN.1("VALUE"). Missing: the
//                factory facts (tmibAdmSystemId, tmibAdmSWVersion,
//                tmibAdmBoardTable.tmibABrdPartNo; see devsim --help).
//                --serial, --part-number and --sw-version replace them.
//   ssh          "keys yes|no" (NEXA: host keys made) and
//                "service enabled|disabled" (NEXA: sshd started; qx.CLI:
//                SSH server enabled). Missing: both on. --no-ssh starts
//                with both off. SSH is served while the service is
//                enabled and, on NEXA, the keys exist.
//   boot         "count N" (reboots so far), "fallbacks N" (how many of
//                them the NEXA fallback timer caused by running out) and
//                "time T" (seconds since 1970 when the device last came
//                up; written at start and after every reboot).
//   communities  NEXA: the running read and write community passwords,
//                "read VALUE" and "write VALUE". Missing: "public" and
//                "private".
//   saved-passwords
//                what the boot configuration holds: "admin VALUE" (the
//                admin login's password), and on NEXA "read VALUE" and
//                "write VALUE". Written by the save commands ("configd save
//                all boot" on NEXA, "save yes" in the qx.CLI config
//                process); at every boot the running passwords are set back
//                to these. Missing (and with --user/--password): the
//                running ones.
//   version      qx.CLI: the text of the monitor's "version" report, lines
//                as they are. Missing: a built-in report with " S/N: ",
//                " Router, " and "Software release: " lines. The release
//                shown is the one in "release" when that file exists. NEXA devices
//                report their inventory as variables (tmibAdmSystemId,
//                tmibAdmSWVersion, tmibAdmBoardTable.tmibABrdPartNo).
//   transcript   the dialogue log (see Transcript).
//   ports        "telnet N" and "ssh N", written by devsim once it listens.
//   ssh_host_ed25519_key, ssh_host_ed25519_key.pub
//                the SSH host key, made at the first start.
//   firmware, pending, checks, release
//                the device's software (see FirmwareStore).
//   fs/          the file system the SFTP server shows: fs/DSK, fs/MEM and
//                fs/BIO on qx.CLI, fs/flash and fs/tmp on NEXA.
//   configs/     NEXA: the named configurations, one file each ("running",
//                "boot", ...); bootfile: qx.CLI's boot configuration name
//                (see ConfigStore). After a reboot a NEXA device runs its
//                boot configuration.
//   running-config
//                qx.CLI: what the device runs, its boot file as loaded at
//                the last start or reboot (see ConfigStore).
class ConfigStore;

class DeviceState {
public:
    // Opens the state directory of options.stateDir (creating it and the
    // missing files), applies the start-up options and records the boot.
    static std::unique_ptr<DeviceState> open(const DevsimOptions& options, std::string& error);
    ~DeviceState();
    DeviceState(const DeviceState&) = delete;
    DeviceState& operator=(const DeviceState&) = delete;

    const std::string& dir() const { return dir_; }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string fsRoot() const { return path("fs"); }
    SimFamily family() const { return family_; }
    std::vector<std::string> fsDirectories() const;

    // Logins. An unknown user needs a password (and never gets in), so a
    // login prompt does not tell which users exist.
    bool passwordRequired(const std::string& user) const;
    bool checkLogin(const std::string& user, const std::string& password) const;
    std::vector<Account> accounts() const;

    // Management variables; false for a variable the device does not have.
    bool variable(const std::string& name, std::string& value) const;
    // create: add the variable when the device does not have it yet (a new
    // software brings its own variables).
    bool setVariable(const std::string& name, const std::string& value, bool create = false);

    // SSH service. The observer is called (from the changing thread) after
    // every change of sshAvailable's inputs.
    bool sshKeysPresent() const;
    bool sshServiceEnabled() const;
    bool sshAvailable() const;
    void setSshKeysPresent(bool present);
    void setSshServiceEnabled(bool enabled);
    void setSshObserver(std::function<void()> observer);

    // Reboots: the count rises when the device goes down (the fallback
    // count too when the fallback timer ran out), the boot time is set when
    // it comes up.
    unsigned rebootCount() const;
    unsigned fallbackCount() const;
    time_t bootTime() const;
    void recordShutdown(bool byFallbackTimer = false);
    void recordBoot();

    // The device's configurations; lives as long as the state.
    ConfigStore& configs() const { return *configs_; }
    // Inventory and passwords (DeviceStateAdmin.cpp).
    // A table column by its column name: false when no variable
    // TABLE.column exists.
    bool tableColumn(const std::string& column, std::string& table, std::string& value) const;
    // The qx.CLI version report, lines ended by CR LF.
    std::string versionReport(const std::string& hostname) const;
    // The running administrator password: the admin login's.
    void setAdminPassword(const std::string& password);
    // NEXA communities, which is "read" or "write".
    std::string community(const std::string& which) const;
    void setCommunity(const std::string& which, const std::string& value);
    // qx.CLI static configuration: the admin password "save yes" keeps.
    void setStaticAdminPassword(const std::string& password);
    // The save commands: the running passwords (NEXA) or the static
    // configuration's (qx.CLI) become the boot configuration's.
    void saveRunningPasswords();
    void saveStaticPasswords();

    // The last error of writing a state file ("" when none).
    std::string lastError() const;

private:
    explicit DeviceState(std::string dir);
    bool load(const DevsimOptions& options, std::string& error);
    bool loadFamily(const DevsimOptions& options, std::string& error);
    bool loadAccounts(const DevsimOptions& options, std::string& error);
    bool loadVariables(const DevsimOptions& options, std::string& error);
    bool loadSsh(const DevsimOptions& options, std::string& error);
    bool loadBoot(std::string& error);
    bool makeFileSystem(std::string& error);
    // REQUIRES: mutex_ held.
    bool saveAccounts();
    bool saveVariables();
    bool saveSsh();
    bool saveBoot();
    // REQUIRES: mutex_ held (DeviceStateAdmin.cpp).
    bool loadPasswords(const DevsimOptions& options, std::string& error);
    void restoreSavedPasswords();
    std::string adminPassword() const;
    bool savePasswords();
    bool save(const std::string& name, const std::string& content);

    std::string dir_;
    SimFamily family_ = SimFamily::Nexa;
    mutable std::mutex mutex_;
    std::vector<Account> accounts_;
    std::map<std::string, std::string> variables_;
    std::map<std::string, std::string> communities_;     // "read", "write"
    std::map<std::string, std::string> savedPasswords_;  // "admin", "read", "write"
    std::string staticAdminPassword_;                    // qx.CLI, until saved
    bool sshKeys_ = true;
    bool sshService_ = true;
    unsigned rebootCount_ = 0;
    unsigned fallbackCount_ = 0;
    time_t bootTime_ = 0;
    std::string lastError_;
    std::function<void()> sshObserver_;
    std::unique_ptr<ConfigStore> configs_;
};
