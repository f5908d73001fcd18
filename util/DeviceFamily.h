#pragma once
#include <string>

// DeviceFamily holds every text that differs between the two device
// families, built once from the router type's os column. "qx.CLI" selects
// the qx.CLI family, any other text the NEXA family; a few rules (the
// inventory readers, encryption, the release-version check) need the exact
// text "NEXA", which isNexa() tells.
struct DeviceFamily {
    // The eight prompts a job waits for after device commands.
    struct Prompts {
        std::string main, plus, config, configEnd, ftpConfig, sftp, admin, yesNo;
    };

    // The os text of the qx.CLI family; also the keyword of its system image.
    static const char* const kQxCliOs;

    DeviceFamily() : DeviceFamily(std::string()) {}
    explicit DeviceFamily(const std::string& os);

    bool isQxCli() const { return qxCli; }
    bool isNexa() const { return os == "NEXA"; }

    // The job's prompts as set at start-up, and after a login that learned
    // the device's prompt prefix (qx.CLI over Telnet or SSH).
    Prompts initialPrompts() const;
    Prompts promptsWithPrefix(const std::string& prefix) const;

    std::string os;
    bool qxCli;
    std::string shellPrompt;          // ">" or "*"
    std::string loginPrompt;          // Telnet user prompt
    std::string passwordPrompt;       // Telnet password prompt
    std::string confirmPrompt;        // qx.CLI "(Yes/No)"
    std::string configPrompt;         // qx.CLI running-config process "Config$"
    std::string sshConfigPrompt;      // qx.CLI "SSH Config$"
    std::string sshServerPrompt;      // qx.CLI "SSHS$"
    const char* defaultPasswords[4];  // the factory passwords tried last
};
