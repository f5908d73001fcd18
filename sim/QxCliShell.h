#pragma once
#include <string>
#include <vector>

#include "sim/CommandTable.h"
#include "sim/Shell.h"

// QxCliShell is the hierarchical command line of a qx.CLI device. Every
// prompt is the prefix (line start and host name) followed by the mode's
// mark: "*" main, "+" monitor, "Config>" static configuration, "Config$"
// running configuration, "FTP config$", "SSH Config$" and "SSHS$". The
// byte 0x10 switches back to the main process and shows its prompt at
// once; "(Yes/No)" questions confirm logout and restart. Commands live in
// one table per mode; a new command is a table line and a member.
class QxCliShell : public Shell {
public:
    QxCliShell(DeviceState& state, const DevsimOptions& options, Transcript* transcript, Context context);

protected:
    std::string banner() const override;
    std::string loginPrompt() const override { return "User: "; }
    std::string loginFailedText() const override { return "Access denied.\r\n\r\n"; }
    std::string welcome() const override { return "Login successful.\r\n"; }
    std::string prompt() const override;
    void runCommand(const std::string& line) override;
    bool hasProcessSwitch() const override { return true; }
    void processSwitch() override { mode_ = Mode::Main; }

private:
    enum class Mode { Main, Monitor, Config, RunningConfig, FtpConfig, SshConfig, SshServer };
    using Args = std::vector<std::string>;
    struct ModeSpec {
        const char* mark;
        Mode parent;
        const CommandTable<QxCliShell>& (*commands)();
    };

    static const ModeSpec& modeOf(Mode mode);
    static const CommandTable<QxCliShell>& mainCommands();
    static const CommandTable<QxCliShell>& runningConfigCommands();
    static const CommandTable<QxCliShell>& ftpConfigCommands();
    static const CommandTable<QxCliShell>& sshConfigCommands();
    static const CommandTable<QxCliShell>& sshServerCommands();
    static const CommandTable<QxCliShell>& exitOnlyCommands();
    static const CommandTable<QxCliShell>& monitorCommands();
    static const CommandTable<QxCliShell>& configCommands();

    // Main process.
    void enterMonitor(const Args& args) { enter(Mode::Monitor, args); }
    void enterConfig(const Args& args) { enter(Mode::Config, args); }
    void enterRunningConfig(const Args& args) { enter(Mode::RunningConfig, args); }
    void logout(const Args& args);
    void restart(const Args& args);
    void ping(const Args& args);
    // Running configuration.
    void inactivityTimer(const Args& args);
    void fileCfg(const Args& args);  // QxCliConfigFile.cpp
    void enterFtpConfig(const Args& args) { enter(Mode::FtpConfig, args); }
    void enterSshConfig(const Args& args) { enter(Mode::SshConfig, args); }
    // FTP configuration: the device's checks of uploaded images.
    void noImageCheck(const Args& args) { imageCheck(args, false); }
    void imageCheckOn(const Args& args) { imageCheck(args, true); }
    void imageCheck(const Args& args, bool on);
    // SSH configuration.
    void enterSshServer(const Args& args) { enter(Mode::SshServer, args); }
    void listEnable(const Args& args);
    void enableServer(const Args& args);
    void disableServer(const Args& args);
    // Inventory and passwords (QxCliShellAdmin.cpp): the monitor's version
    // report, the admin password of the running and the static
    // configuration, and saving the static one for the boot.
    void version(const Args& args);
    void runningAdminPassword(const Args& args);
    void staticAdminPassword(const Args& args);
    void save(const Args& args);
    // Every sub-mode.
    void exitMode(const Args& args);

    void enter(Mode mode, const Args& args);
    void restartNow();
    void error(const std::string& text) { sayLine("CLI Error: " + text); }

    Mode mode_ = Mode::Main;
};
