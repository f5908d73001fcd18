#include "util/DeviceFamily.h"

const char* const DeviceFamily::kQxCliOs = "qx.CLI";

DeviceFamily::DeviceFamily(const std::string& osText)
    : os(osText), qxCli(osText == kQxCliOs), passwordPrompt("Password:"), defaultPasswords{} {
    setPrompts("");
    if (qxCli) {
        shellPrompt = "*";
        commandFraming = '\x10';
        loginPrompt = "User:";
        confirmPrompt = "(Yes/No)";
        configPrompt = "Config$";
        sshPromptPattern = "/\\*/";
        // The byte 0x10 switches to the main process; a command that ends
        // with it returns there afterwards.
        shellTimeoutOff = {{"running-config", configPrompt}, {"set inactivity-timer disabled\x10", ""}};
        logout = {"\x10logout", confirmPrompt, "yes"};
        rebootCommand = "\x10restart yes";
        const std::string sshConfig = "SSH Config$", sshServer = "SSHS$";
        sshService.enter = {{"running-config", configPrompt}, {"feature ssh", sshConfig}, {"server", sshServer}};
        sshService.status = {"list enable", sshServer};
        sshService.enabled = "Server status: enabled";
        sshService.enable = {"enable", sshServer};
        const char* factory[4] = {"tovik", "verant", "verantio", ""};
        for (int i = 0; i < 4; ++i) defaultPasswords[i] = factory[i];
    } else {
        shellPrompt = ">";
        loginPrompt = "Login:";
        sshPromptPattern = "/\\n*.*:\\w*>\\s*/";
        shellTimeoutOff = {{"t 0", ""}};
        logout = {"exit", "", ""};
        rebootCommand = "cmd=reboot";
        sshService.openKeys = {"update -i", ""};
        sshService.listKeys = {"dir", ""};
        sshService.closeKeys = {"exit", ""};
        sshService.keyMark = "pub";
        sshService.startDaemon = {"sshd", ""};
        sshService.makeKeys = {"ssh-keygen -q -t rsa -b 1024 -f sshd_host_rsa_key -N ''", ""};
        const char* factory[4] = {"quillfox", "tovik", "marlow", "verant"};
        for (int i = 0; i < 4; ++i) defaultPasswords[i] = factory[i];
    }
}

void DeviceFamily::setPrompts(const std::string& prefix) {
    if (qxCli) {
        // The device shows its shell prompts behind the prefix learned at
        // login; the sftp client's prompt is its own.
        promptMain = prefix + "*";
        promptPlus = prefix + "+";
        promptConfig = prefix + "Config>";
        promptConfigEnd = prefix + "Config$";
        promptFtpConfig = prefix + "FTP config$";
        promptSftp = "\nsftp>";
    } else {
        promptMain = ">";
        promptAdmin = ":admin>";
        promptYesNo = "(y or n)";
    }
}

void DeviceFamily::usePromptPrefix(const std::string& prefix) {
    setPrompts(prefix);
}

bool DeviceFamily::isPrompt(const std::string& text) const {
    if (text.empty()) return false;
    for (const std::string* prompt : {&promptMain, &promptPlus, &promptConfig, &promptConfigEnd, &promptFtpConfig,
                                      &promptSftp, &promptAdmin, &shellPrompt, &loginPrompt, &passwordPrompt,
                                      &configPrompt})
        if (text == *prompt) return true;
    auto inSteps = [&text](const std::vector<Step>& steps) {
        for (const Step& step : steps)
            if (step.prompt == text) return true;
        return false;
    };
    return inSteps(shellTimeoutOff) || inSteps(sshService.enter) || text == sshService.status.prompt ||
           text == sshService.enable.prompt;
}
