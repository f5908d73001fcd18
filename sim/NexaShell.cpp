#include "sim/NexaShell.h"

#include <sys/stat.h>

#include <cstdio>

#include "sim/DeviceState.h"
#include "sim/DevsimOptions.h"
#include "sim/FallbackTimer.h"
#include "sim/FirmwareImage.h"
#include "sim/FirmwareStore.h"
#include "sim/Transcript.h"
#include "sim/TransferUrl.h"

namespace {

// An image URL is the transfer server's URL ("tftp:HOST/" or
// "http[s]://[USER:PASS@]HOST/tftpboot/") followed by the image's path in
// the server's directory ("images/MODEL/FILE"). file is the local copy the
// simulated server serves.
bool imageFile(const std::string& url, const DevsimOptions& options, std::string& file, std::string& error) {
    const bool tftp = url.compare(0, 5, "tftp:") == 0;
    const size_t separator = url.find("://");
    const size_t authority = tftp ? 5 : separator == std::string::npos ? 0 : separator + 3;
    const size_t hostEnd = url.find('/', authority);
    size_t serverEnd = hostEnd == std::string::npos ? url.size() : hostEnd + 1;
    const std::string webRoot = "tftpboot/";
    if (!tftp && url.compare(serverEnd, webRoot.size(), webRoot) == 0) serverEnd += webRoot.size();
    TransferUrl server;
    if (!TransferUrl::parse(url.substr(0, serverEnd), server, error)) return false;
    if (!server.credentialsAccepted(options.transferUser, options.transferPassword)) {
        error = "401 Unauthorized";
        return false;
    }
    const std::string path = url.substr(serverEnd);
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (!TransferUrl::validFileName(path.substr(start, end - start))) {
            error = "bad file name '" + path + "'";
            return false;
        }
        start = end + 1;
    }
    if (options.transferDir.empty()) {
        error = "no transfer server reachable";
        return false;
    }
    file = options.transferDir + (options.transferDir.back() == '/' ? "" : "/") + path;
    struct stat st;
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "file not found: " + path;
        return false;
    }
    return true;
}

}  // namespace

NexaShell::NexaShell(DeviceState& state, const DevsimOptions& options, Transcript* transcript, Context context)
    : Shell(state, options, transcript, std::move(context)) {}

const CommandTable<NexaShell>& NexaShell::mainCommands() {
    static const CommandTable<NexaShell> table = {
        {"t", &NexaShell::shellTimeout},   {"exit", &NexaShell::exitShell},  {"ping", &NexaShell::ping},
        {"update", &NexaShell::update},    {"sshd", &NexaShell::sshd},       {"ssh-keygen", &NexaShell::sshKeygen},
        {"y", &NexaShell::systemSummary},  {"configd", &NexaShell::configd}, {"cert", &NexaShell::cert},
        {"cert get", &NexaShell::certGet},
    };
    return table;
}

const CommandTable<NexaShell>& NexaShell::updateCommands() {
    static const CommandTable<NexaShell> table = {
        {"dir", &NexaShell::updateDir},
        {"exit", &NexaShell::updateExit},
    };
    return table;
}

std::string NexaShell::banner() const {
    return "\r\n" + options_.hostname + " - NEXA router\r\n\r\n";
}

std::string NexaShell::welcome() const {
    return "Welcome " + user() + ".\r\n";
}

std::string NexaShell::prompt() const {
    return options_.hostname + (mode_ == Mode::Update ? ":update> " : ":admin> ");
}

std::string NexaShell::formatVariable(const std::string& name, const std::string& value) {
    return name + ".0(\"" + value + "\")";
}

void NexaShell::runCommand(const std::string& line) {
    auto words = CommandTable<NexaShell>::split(line);
    if (words.empty()) return;
    if (mode_ == Mode::Main && words[0].find('=') != std::string::npos) {
        assignments(line);
        return;
    }
    Args args;
    const auto& table = mode_ == Mode::Main ? mainCommands() : updateCommands();
    if (auto handler = table.find(words, args)) {
        (this->*handler)(args);
        return;
    }
    if (mode_ == Mode::Main && words.size() == 1 && context_.fallbackTimer && words[0] == timerInstance()) {
        showTimer();
        return;
    }
    if (mode_ == Mode::Main && words.size() == 1 && context_.fallbackTimer && showTimerVariable(words[0])) return;
    std::string value;
    if (mode_ == Mode::Main && words.size() == 1 && state_.variable(words[0], value)) {
        sayLine(formatVariable(words[0], value));
        return;
    }
    if (mode_ == Mode::Main && words.size() == 1 && showTableColumn(words[0])) return;
    error("unknown command");
}

void NexaShell::shellTimeout(const Args& args) {
    int minutes = -1;
    if (args.size() == 1 && !args[0].empty() && args[0].size() < 6 &&
        args[0].find_first_not_of("0123456789") == std::string::npos)
        minutes = std::stoi(args[0]);
    if (minutes < 0) {
        error("usage: t MINUTES (0 switches the time-out off)");
        return;
    }
    setIdleTimeout(minutes * 60);
    sayLine(minutes == 0 ? "shell time-out off" : "shell time-out " + args[0] + " minutes");
}

void NexaShell::exitShell(const Args&) {
    end(Ending::Close);
}

void NexaShell::ping(const Args& args) {
    std::string count = "5", source, target;
    for (size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "-c" || args[i] == "-s") && i + 1 < args.size()) {
            (args[i] == "-c" ? count : source) = args[i + 1];
            ++i;
        } else if (args[i][0] != '-' && target.empty()) {
            target = args[i];
        } else {
            target.clear();
            break;
        }
    }
    int packets = count.size() < 4 && count.find_first_not_of("0123456789") == std::string::npos ? std::stoi(count) : 0;
    if (target.empty() || packets <= 0) {
        error("usage: ping [-c COUNT] [-s SOURCE] HOST");
        return;
    }
    bool answered = pingAnswered(target);
    sayLine("PING " + target + (source.empty() ? "" : " from " + source) + ": 56 data bytes");
    for (int i = 0; answered && i < packets; ++i)
        sayLine("64 bytes from " + target + ": icmp_seq=" + std::to_string(i) + " ttl=64 time=0.4 ms");
    sayLine("");
    sayLine("--- " + target + " ping statistics ---");
    sayLine(std::to_string(packets) + " packets transmitted, " + std::to_string(answered ? packets : 0) +
            " packets received, " + (answered ? "0" : "100") + "% packet loss");
}

void NexaShell::update(const Args& args) {
    if (args.size() == 1 && args[0] == "-i") {
        mode_ = Mode::Update;
        sayLine("interactive update shell, 'exit' leaves it");
        return;
    }
    if (args.size() == 1 && args[0] == "-h") {
        updateHelp();
        return;
    }
    imageUpdate(args);
}

void NexaShell::updateHelp() {
    const bool source = FirmwareStore::nexaDialogue(state_).sourceOption;
    sayLine("usage: update [-a] " + std::string(source ? "[-I <src>] " : "") + "URL");
    sayLine("       update -i");
    sayLine("  -a         the image is a multi-part package");
    if (source) sayLine("  -I <src>   source address of the transfer");
    sayLine("  -i         interactive update shell");
}

void NexaShell::imageUpdate(const Args& args) {
    const FirmwareStore::NexaDialogue dialogue = FirmwareStore::nexaDialogue(state_);
    bool packageOption = false;
    std::string url;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-a" && !packageOption) {
            packageOption = true;
        } else if (args[i] == "-I" && dialogue.sourceOption && i + 1 < args.size() && url.empty()) {
            ++i;
        } else if (args[i][0] != '-' && url.empty()) {
            url = args[i];
        } else {
            error("usage: update [-a] " + std::string(dialogue.sourceOption ? "[-I <src>] " : "") + "URL");
            return;
        }
    }
    if (url.empty()) {
        error("usage: update [-a] [-I <src>] URL | update -i | update -h");
        return;
    }
    std::string file, bytes, reason;
    if (!imageFile(url, options_, file, reason) || !FirmwareImage::load(file, bytes)) {
        error("cannot load image: " + (reason.empty() ? "read error" : reason));
        return;
    }
    sayLine("Loaded " + std::to_string(bytes.size()) + " bytes");
    FirmwareImage image;
    if (!FirmwareImage::readNexa(bytes, image, reason)) {
        error("image refused: " + reason);
        return;
    }
    if (image.package != packageOption) {
        error(image.package ? "image refused: multi-part package needs -a" : "image refused: -a needs a package");
        return;
    }
    std::string running;
    if (!image.version.empty() && state_.variable("tmibAdmSWVersion", running) &&
        FirmwareStore::runs(running, image.version)) {
        sayLine("Software is identical");
        return;
    }
    if (!image.version.empty()) sayLine("New image: " + image.platform + " " + image.version);
    if (dialogue.deleteQuestions > 0)
        askDelete(1, dialogue.deleteQuestions, image.version);
    else
        offerUpdate(image.version);
}

// A flash too full for the new image: each old file is offered for removal.
void NexaShell::askDelete(int question, int questions, const std::string& version) {
    sayLine("Not enough space in Flash-ROM.");
    confirm("*** delete old file 'image." + std::to_string(question) + "' (y or n) ",
            [this, question, questions, version](bool yes) {
                if (!yes) {
                    sayLine("Update canceled.");
                } else if (question < questions) {
                    askDelete(question + 1, questions, version);
                } else {
                    offerUpdate(version);
                }
            });
}

// Some software versions write the image at once and only tell that a
// reboot activates it; others ask first.
void NexaShell::offerUpdate(const std::string& version) {
    if (!FirmwareStore::nexaDialogue(state_).activationNotice) {
        askUpdate(version);
        return;
    }
    installImage(version);
    sayLine("Do reboot to activate new SW");
}

void NexaShell::askUpdate(const std::string& version) {
    confirm("Perform update (y or n) ", [this, version](bool yes) {
        if (!yes) {
            sayLine("Update canceled.");
            return;
        }
        installImage(version);
        sayLine("update successfully finished");
        if (!FirmwareStore::nexaDialogue(state_).rebootQuestion) return;
        confirm("Reboot now (y or n) ", [this](bool now) {
            if (!now) return;
            sayLine("Rebooting...");
            end(Ending::Reboot);
        });
    });
}

void NexaShell::installImage(const std::string& version) {
    sayLine("Writing Flash-ROM ... done");
    // Only a system image changes the software the device runs.
    if (!version.empty()) FirmwareStore::setPending(state_, version);
}

void NexaShell::sshd(const Args&) {
    if (!state_.sshKeysPresent()) {
        sayLine("sshd: no host keys found");
    } else if (state_.sshServiceEnabled()) {
        sayLine("sshd: already running");
    } else {
        state_.setSshServiceEnabled(true);
        sayLine("sshd: started");
    }
}

void NexaShell::sshKeygen(const Args& args) {
    bool quiet = false;
    std::string file;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-q") quiet = true;
        if (args[i] == "-f" && i + 1 < args.size()) file = args[i + 1];
    }
    if (file.empty()) {
        error("usage: ssh-keygen [-q] -t TYPE -b BITS -f FILE -N PASSPHRASE");
        return;
    }
    state_.setSshKeysPresent(true);
    if (!quiet) sayLine("key " + file + " generated");
}

// NAME=VALUE pairs, separated by blanks; a value may be double-quoted and
// then hold blanks. Each pair is answered with the variable as it is now;
// the two variables of the delayed configuration command act together once
// the whole line has been read.
void NexaShell::assignments(const std::string& line) {
    std::vector<Assignment> pairs;
    if (!parseAssignments(line, pairs)) return;
    const std::string* command = nullptr;
    const std::string* timeout = nullptr;
    for (const auto& [name, value] : pairs) {
        if (context_.fallbackTimer && name == "tmibAdmConfigCmd") {
            command = &value;
        } else if (context_.fallbackTimer && name == "tmibAdmConfigTimeout") {
            timeout = &value;
        } else if (context_.fallbackTimer && name == timerInstance()) {
            if (!assignTimerInstance(value)) return;
        } else if (!assign(name, value)) {
            return;
        }
    }
    if (command || timeout) delayedCommand(command, timeout);
}

bool NexaShell::parseAssignments(const std::string& line, std::vector<Assignment>& pairs) {
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        if (i >= line.size()) break;
        size_t equals = line.find('=', i);
        if (equals == std::string::npos || equals == i || line.find(' ', i) < equals) {
            error("expected NAME=VALUE");
            return false;
        }
        std::string name = line.substr(i, equals - i);
        std::string value;
        i = equals + 1;
        if (i < line.size() && line[i] == '"') {
            size_t close = line.find('"', i + 1);
            if (close == std::string::npos) {
                error("missing closing quote");
                return false;
            }
            value = line.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            size_t blank = line.find(' ', i);
            if (blank == std::string::npos) blank = line.size();
            value = line.substr(i, blank - i);
            i = blank;
        }
        pairs.emplace_back(std::move(name), std::move(value));
    }
    return true;
}

bool NexaShell::assign(const std::string& name, const std::string& value) {
    if (name == "cmd") {
        configCommand(value);
        return true;
    }
    if (assignPassword(name, value)) return true;
    if (!state_.setVariable(name, value)) {
        error("unknown variable " + name);
        return false;
    }
    sayLine(formatVariable(name, value));
    return true;
}

// The device's configuration command; "reboot" restarts it right after
// the prompt was shown.
void NexaShell::configCommand(const std::string& value) {
    if (value != "reboot") {
        error("cmd: unknown command " + value);
        return;
    }
    sayLine("system is going down for reboot");
    end(Ending::Reboot, true);
}

namespace {
// A delay in whole seconds: 1 to a day.
bool parseDelay(const std::string& text, int& seconds) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    seconds = std::stoi(text);
    return seconds >= 1 && seconds <= 86400;
}
}  // namespace

std::string NexaShell::timerInstance() const {
    return "tmibAdmConfigTimeout." + options_.fallbackInstance;
}

// The command is carried out when the timeout runs out; without a timeout
// it runs at once. The device answers with the instance variables of the
// delayed command, the timeout's value in parentheses.
void NexaShell::delayedCommand(const std::string* command, const std::string* timeout) {
    if (!command) {
        error("tmibAdmConfigTimeout: no tmibAdmConfigCmd to delay");
        return;
    }
    if (!timeout) {
        configCommand(*command);
        return;
    }
    if (*command != "reboot") {
        error("tmibAdmConfigCmd: unknown command " + *command);
        return;
    }
    int seconds = 0;
    if (!parseDelay(*timeout, seconds)) {
        error("tmibAdmConfigTimeout: bad value " + *timeout);
        return;
    }
    context_.fallbackTimer->arm(seconds);
    if (transcript_)
        transcript_->event(context_.session, "fallback timer armed: reboot in " + std::to_string(seconds) +
                                                 " seconds (" + timerInstance() + ")");
    sayLine("tmibAdmConfigCmd." + options_.fallbackInstance + "(reboot)");
    sayLine(timerInstance() + "(" + std::to_string(seconds) + ")");
}

// -1 cancels the timer (also when none runs); a number of seconds starts
// the count-down of a pending command again.
bool NexaShell::assignTimerInstance(const std::string& value) {
    if (value == "-1") {
        int left = context_.fallbackTimer->remaining();
        bool wasArmed = context_.fallbackTimer->cancel();
        if (transcript_)
            transcript_->event(context_.session,
                               wasArmed ? "fallback timer cancelled, " + std::to_string(left) + " seconds were left"
                                        : "fallback timer cancelled, none was armed");
        sayLine(timerInstance() + "(-1)");
        return true;
    }
    int seconds = 0;
    if (!parseDelay(value, seconds)) {
        error(timerInstance() + ": bad value " + value);
        return false;
    }
    if (context_.fallbackTimer->remaining() < 0) {
        error(timerInstance() + ": no delayed command pending");
        return false;
    }
    context_.fallbackTimer->arm(seconds);
    if (transcript_)
        transcript_->event(context_.session,
                           "fallback timer armed again: reboot in " + std::to_string(seconds) + " seconds");
    sayLine(timerInstance() + "(" + std::to_string(seconds) + ")");
    return true;
}

void NexaShell::showTimer() {
    sayLine(timerInstance() + "(" + std::to_string(context_.fallbackTimer->remaining()) + ")");
}

// The two variables that arm the timer show what it does now: the factory
// values "none" and -1 while it does not run.
bool NexaShell::showTimerVariable(const std::string& name) {
    const int left = context_.fallbackTimer->remaining();
    if (name == "tmibAdmConfigCmd")
        sayLine(formatVariable(name, left < 0 ? "none" : "reboot"));
    else if (name == "tmibAdmConfigTimeout")
        sayLine(formatVariable(name, std::to_string(left)));
    else
        return false;
    return true;
}

void NexaShell::updateDir(const Args&) {
    sayLine("  drwx          0  images");
    sayLine("  -rw-      16384  boot.cfg");
    sayLine("  -rw-    4194304  nexa.img");
    if (state_.sshKeysPresent()) {
        sayLine("  -rw-        887  sshd_host_rsa_key");
        sayLine("  -rw-        222  sshd_host_rsa_key.pub");
    }
}

void NexaShell::updateExit(const Args&) {
    mode_ = Mode::Main;
    sayLine("interactive update shell left");
}
