#include "sim/QxCliShell.h"

#include "sim/DeviceState.h"
#include "sim/DevsimOptions.h"
#include "sim/FirmwareStore.h"

QxCliShell::QxCliShell(DeviceState& state, const DevsimOptions& options, Transcript* transcript, Context context)
    : Shell(state, options, transcript, std::move(context)) {}

const QxCliShell::ModeSpec& QxCliShell::modeOf(Mode mode) {
    static const ModeSpec modeTable[] = {
        {"*", Mode::Main, &QxCliShell::mainCommands},
        {"+", Mode::Main, &QxCliShell::monitorCommands},
        {"Config>", Mode::Main, &QxCliShell::configCommands},
        {"Config$", Mode::Main, &QxCliShell::runningConfigCommands},
        {"FTP config$", Mode::RunningConfig, &QxCliShell::ftpConfigCommands},
        {"SSH Config$", Mode::RunningConfig, &QxCliShell::sshConfigCommands},
        {"SSHS$", Mode::SshConfig, &QxCliShell::sshServerCommands},
    };
    return modeTable[static_cast<int>(mode)];
}

const CommandTable<QxCliShell>& QxCliShell::mainCommands() {
    static const CommandTable<QxCliShell> table = {
        {"monitor", &QxCliShell::enterMonitor},
        {"config", &QxCliShell::enterConfig},
        {"running-config", &QxCliShell::enterRunningConfig},
        {"logout", &QxCliShell::logout},
        {"restart", &QxCliShell::restart},
        {"ping", &QxCliShell::ping},
    };
    return table;
}

const CommandTable<QxCliShell>& QxCliShell::runningConfigCommands() {
    static const CommandTable<QxCliShell> table = {
        {"set inactivity-timer", &QxCliShell::inactivityTimer},
        {"set ftp", &QxCliShell::enterFtpConfig},
        {"set file-cfg", &QxCliShell::fileCfg},
        {"feature ssh", &QxCliShell::enterSshConfig},
        {"user admin password", &QxCliShell::runningAdminPassword},
        {"exit", &QxCliShell::exitMode},
    };
    return table;
}

const CommandTable<QxCliShell>& QxCliShell::ftpConfigCommands() {
    static const CommandTable<QxCliShell> table = {
        {"no check", &QxCliShell::noImageCheck},
        {"check", &QxCliShell::imageCheckOn},
        {"exit", &QxCliShell::exitMode},
    };
    return table;
}

const CommandTable<QxCliShell>& QxCliShell::sshConfigCommands() {
    static const CommandTable<QxCliShell> table = {
        {"server", &QxCliShell::enterSshServer},
        {"exit", &QxCliShell::exitMode},
    };
    return table;
}

const CommandTable<QxCliShell>& QxCliShell::sshServerCommands() {
    static const CommandTable<QxCliShell> table = {
        {"list enable", &QxCliShell::listEnable},
        {"enable", &QxCliShell::enableServer},
        {"disable", &QxCliShell::disableServer},
        {"exit", &QxCliShell::exitMode},
    };
    return table;
}

const CommandTable<QxCliShell>& QxCliShell::exitOnlyCommands() {
    static const CommandTable<QxCliShell> table = {
        {"exit", &QxCliShell::exitMode},
    };
    return table;
}

std::string QxCliShell::banner() const {
    return "\r\nqx.CLI router " + options_.hostname + "\r\n\r\n";
}

std::string QxCliShell::prompt() const {
    return options_.hostname + modeOf(mode_).mark;
}

void QxCliShell::runCommand(const std::string& line) {
    auto words = CommandTable<QxCliShell>::split(line);
    Args args;
    if (auto handler = modeOf(mode_).commands().find(words, args)) {
        (this->*handler)(args);
        return;
    }
    error("Command not recognized");
}

void QxCliShell::enter(Mode mode, const Args& args) {
    if (!args.empty()) {
        error("Invalid parameter");
        return;
    }
    mode_ = mode;
}

void QxCliShell::exitMode(const Args&) {
    mode_ = modeOf(mode_).parent;
}

void QxCliShell::logout(const Args& args) {
    if (!args.empty()) {
        error("Invalid parameter");
        return;
    }
    confirm("Do you really want to log out? (Yes/No) ", [this](bool yes) {
        if (!yes) return;
        sayLine("Connection closed.");
        end(Ending::Close);
    });
}

void QxCliShell::restart(const Args& args) {
    if (args.size() == 1 && args[0] == "yes") {
        restartNow();
        return;
    }
    if (!args.empty()) {
        error("Invalid parameter");
        return;
    }
    confirm("Are you sure to restart the system? (Yes/No) ", [this](bool yes) {
        if (yes) restartNow();
    });
}

void QxCliShell::restartNow() {
    sayLine("Restarting the system. Connection closed.");
    end(Ending::Reboot);
}

// "ping TARGET [num-pings N] [source ADDRESS]"
void QxCliShell::ping(const Args& args) {
    if (args.empty()) {
        error("Missing parameter");
        return;
    }
    std::string target = args[0], source;
    int packets = 3;
    for (size_t i = 1; i < args.size(); i += 2) {
        bool hasValue = i + 1 < args.size();
        const std::string value = hasValue ? args[i + 1] : "";
        if (args[i] == "num-pings" && hasValue && !value.empty() && value.size() < 4 &&
            value.find_first_not_of("0123456789") == std::string::npos && std::stoi(value) > 0) {
            packets = std::stoi(value);
        } else if (args[i] == "source" && hasValue) {
            source = value;
        } else {
            error("Invalid parameter");
            return;
        }
    }
    bool answered = pingAnswered(target);
    sayLine("PING " + (source.empty() ? "" : "from " + source + " ") + "to " + target + ": 56 data bytes");
    for (int i = 0; answered && i < packets; ++i)
        sayLine("64 bytes from " + target + ": icmp_seq=" + std::to_string(i) + ". time=1. ms");
    sayLine("----" + target + " PING Statistics----");
    sayLine(std::to_string(packets) + " packets transmitted, " + std::to_string(answered ? packets : 0) +
            " packets received, " + (answered ? "0" : "100") + "% packet loss");
}

void QxCliShell::inactivityTimer(const Args& args) {
    if (args.size() == 1 && args[0] == "disabled") {
        setIdleTimeout(0);
        sayLine("Inactivity timer disabled.");
        return;
    }
    if (args.size() == 1 && !args[0].empty() && args[0].size() < 6 &&
        args[0].find_first_not_of("0123456789") == std::string::npos) {
        setIdleTimeout(std::stoi(args[0]) * 60);
        sayLine("Inactivity timer set to " + args[0] + " minutes.");
        return;
    }
    error("Invalid parameter");
}

void QxCliShell::listEnable(const Args&) {
    sayLine(std::string("Server status: ") + (state_.sshServiceEnabled() ? "enabled" : "disabled"));
}

void QxCliShell::enableServer(const Args&) {
    state_.setSshKeysPresent(true);
    state_.setSshServiceEnabled(true);
    sayLine("SSH server started.");
}

void QxCliShell::disableServer(const Args&) {
    state_.setSshServiceEnabled(false);
    sayLine("SSH server stopped.");
}

// "[no] check bios|firmware|version"
void QxCliShell::imageCheck(const Args& args, bool on) {
    if (args.size() != 1 || (args[0] != "bios" && args[0] != "firmware" && args[0] != "version")) {
        error("Invalid parameter");
        return;
    }
    FirmwareStore::setImageCheck(state_, args[0], on);
    sayLine("Check of " + args[0] + " " + (on ? "enabled." : "disabled."));
}
