#pragma once
#include <string>
#include <utility>
#include <vector>

#include "sim/CommandTable.h"
#include "sim/Shell.h"

// NexaShell is the command line of a NEXA device: the prompt
// "HOSTNAME:admin> ", management variables shown by name and set by
// NAME=VALUE assignments, the shell time-out "t N", "cmd=reboot", ping,
// and the SSH set-up through the interactive update shell ("update -i",
// "dir", "exit"), "ssh-keygen" and "sshd", the system summary "y", the
// community assignments, "configd", "cert get" and firmware updates
// ("update [-a] [-I SRC] URL", its questions following FirmwareStore's
// settings). The configuration command can be delayed:
// "tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=SECONDS" arms the device's
// fallback timer, which the instance variable tmibAdmConfigTimeout.N.M
// shows and, set to -1, cancels. Commands live in one table per mode; a
// new command is a table line and a member.
class NexaShell : public Shell {
public:
    NexaShell(DeviceState& state, const DevsimOptions& options, Transcript* transcript, Context context);

    static std::string formatVariable(const std::string& name, const std::string& value);

protected:
    std::string banner() const override;
    std::string loginPrompt() const override { return "Login: "; }
    std::string loginFailedText() const override { return "Login incorrect\r\n\r\n"; }
    std::string welcome() const override;
    std::string prompt() const override;
    void runCommand(const std::string& line) override;

private:
    enum class Mode { Main, Update };
    using Args = std::vector<std::string>;

    static const CommandTable<NexaShell>& mainCommands();
    static const CommandTable<NexaShell>& updateCommands();

    // Main mode.
    void shellTimeout(const Args& args);
    void exitShell(const Args& args);
    void ping(const Args& args);
    void update(const Args& args);
    // "update [-a ] [-I SRC ]URL": fetch, check and install an image.
    void updateHelp();
    void imageUpdate(const Args& args);
    void askDelete(int question, int questions, const std::string& version);
    void offerUpdate(const std::string& version);
    void askUpdate(const std::string& version);
    void installImage(const std::string& version);
    void sshd(const Args& args);
    void sshKeygen(const Args& args);
    void configd(const Args& args);  // NexaConfigd.cpp
    // PKCS#12 certificates (NexaCert.cpp).
    void cert(const Args& args);
    void certGet(const Args& args);
    using Assignment = std::pair<std::string, std::string>;
    void assignments(const std::string& line);
    bool parseAssignments(const std::string& line, std::vector<Assignment>& pairs);
    bool assign(const std::string& name, const std::string& value);
    void configCommand(const std::string& value);
    // The fallback timer. delayedCommand takes the two variables of one
    // line that together arm it; timerInstance is the variable of the
    // armed timer ("tmibAdmConfigTimeout.1.1").
    void delayedCommand(const std::string* command, const std::string* timeout);
    bool assignTimerInstance(const std::string& value);
    std::string timerInstance() const;
    void showTimer();
    // tmibAdmConfigCmd and tmibAdmConfigTimeout; false for other names.
    bool showTimerVariable(const std::string& name);
    // Inventory and passwords (NexaShellAdmin.cpp).
    void systemSummary(const Args& args);
    // Answers a table column read by its column name; false when the
    // device has no such column.
    bool showTableColumn(const std::string& column);
    // The community variables set passwords, not variables; false for any
    // other name.
    bool assignPassword(const std::string& name, const std::string& value);
    // Update mode.
    void updateDir(const Args& args);
    void updateExit(const Args& args);

    void error(const std::string& text) { sayLine("error: " + text); }

    Mode mode_ = Mode::Main;
};
