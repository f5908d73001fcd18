#pragma once
#include <string>
#include <vector>

// DeviceFamily holds every text that differs between the two device
// families, built once from the router type's os column: the prompts a job
// awaits, the login texts, and the commands the channel sends for the
// shell time-out, the logout and the reboot. "qx.CLI" selects the qx.CLI
// family, any other text the NEXA family; a few rules (the inventory
// readers, encryption, the release-version check) need the exact text
// "NEXA", which isNexa() tells.
struct DeviceFamily {
    // One command of a channel dialogue and the text that answers it; an
    // empty prompt stands for the shell prompt (refined by the prompt
    // prefix once the login learned it).
    struct Step {
        std::string command;
        std::string prompt;
    };
    // The logout: command, and when the device asks back, its question and
    // the answer that ends the session (both empty when the command alone
    // ends it).
    struct Logout {
        std::string command;
        std::string confirmPrompt;
        std::string confirm;
    };
    // The Telnet check that the device's SSH service runs (the connection's
    // checkSSHEnabled). qx.CLI: the SSH server's configuration shows its
    // status and is enabled when off. NEXA: the update shell lists the host
    // keys, which are made when missing, and the daemon is started.
    struct SshService {
        std::vector<Step> enter;  // qx.CLI: into the SSH server's configuration
        Step status;              // qx.CLI: its status report
        std::string enabled;      // qx.CLI: the report of a running server
        Step enable;              // qx.CLI
        Step openKeys;            // NEXA: into the update shell
        Step listKeys;            // NEXA: the files of the update shell
        Step closeKeys;           // NEXA: out of the update shell
        std::string keyMark;      // NEXA: a host key in the listing
        Step startDaemon;         // NEXA
        Step makeKeys;            // NEXA
    };

    // The os text of the qx.CLI family; also the keyword of its system image.
    static const char* const kQxCliOs;

    DeviceFamily() : DeviceFamily(std::string()) {}
    explicit DeviceFamily(const std::string& os);

    bool isQxCli() const { return qxCli; }
    bool isNexa() const { return os == "NEXA"; }

    // After a login that learned the device's prompt prefix (qx.CLI over
    // Telnet or SSH): the shell prompts are prefix + the start-up prompt.
    // Nothing changes on NEXA.
    void usePromptPrefix(const std::string& prefix);

    // Whether text is one of the family's prompts - the shell prompts (as
    // refined by the prompt prefix), the login and password prompts and the
    // prompts of its channel dialogues - which count only where the device
    // stops after them. Its questions ("(y or n)", "(Yes/No)") are no
    // prompts in this sense: they count wherever they occur.
    bool isPrompt(const std::string& text) const;

    std::string os;
    bool qxCli;

    // The eight prompts a job awaits after device commands; those a family
    // does not use stay empty.
    std::string promptMain, promptPlus, promptConfig, promptConfigEnd, promptFtpConfig, promptSftp, promptAdmin,
        promptYesNo;

    // The byte the family's own commands may begin or end with: qx.CLI's
    // switch to the main process, 0x10. NUL on NEXA: no control character
    // belongs in a command there.
    char commandFraming = '\0';
    std::string shellPrompt;            // ">" or "*"
    std::string loginPrompt;            // Telnet user prompt
    std::string passwordPrompt;         // Telnet password prompt
    std::string confirmPrompt;          // qx.CLI "(Yes/No)"
    std::string configPrompt;           // qx.CLI running-config process "Config$"
    std::string sshPromptPattern;       // the shell prompt as a pattern of the SSH login
    std::vector<Step> shellTimeoutOff;  // switches the shell's inactivity time-out off after a login
    Logout logout;
    std::string rebootCommand;  // answered with the prompt (or the end of the session)
    SshService sshService;
    const char* defaultPasswords[4];  // the factory passwords tried last

private:
    void setPrompts(const std::string& prefix);
};
