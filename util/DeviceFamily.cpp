#include "util/DeviceFamily.h"

const char* const DeviceFamily::kQxCliOs = "qx.CLI";

DeviceFamily::DeviceFamily(const std::string& osText)
    : os(osText), qxCli(osText == kQxCliOs), passwordPrompt("Password:"), defaultPasswords{} {
    if (qxCli) {
        shellPrompt = "*";
        loginPrompt = "User:";
        confirmPrompt = "(Yes/No)";
        configPrompt = "Config$";
        sshConfigPrompt = "SSH Config$";
        sshServerPrompt = "SSHS$";
        const char* factory[4] = {"tovik", "verant", "verantio", ""};
        for (int i = 0; i < 4; ++i) defaultPasswords[i] = factory[i];
    } else {
        shellPrompt = ">";
        loginPrompt = "Login:";
        const char* factory[4] = {"quillfox", "tovik", "marlow", "verant"};
        for (int i = 0; i < 4; ++i) defaultPasswords[i] = factory[i];
    }
}

DeviceFamily::Prompts DeviceFamily::initialPrompts() const {
    Prompts p;
    if (qxCli) {
        p.main = "*";
        p.plus = "+";
        p.config = "Config>";
        p.configEnd = "Config$";
        p.ftpConfig = "FTP config$";
        p.sftp = "\nsftp>";
    } else {
        p.main = ">";
        p.admin = ":admin>";
        p.yesNo = "(y or n)";
    }
    return p;
}

DeviceFamily::Prompts DeviceFamily::promptsWithPrefix(const std::string& prefix) const {
    Prompts p = initialPrompts();
    if (!qxCli) return p;
    // The device shows its prompts behind the prefix learned at login.
    p.main = prefix + p.main;
    p.plus = prefix + p.plus;
    p.config = prefix + p.config;
    p.configEnd = prefix + p.configEnd;
    p.ftpConfig = prefix + p.ftpConfig;
    return p;
}
