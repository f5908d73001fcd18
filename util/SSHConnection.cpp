#include "util/SSHConnection.h"

#include <cerrno>
#include <ctime>
#include <vector>

#include "util/ExpectException.h"
#include "util/ExpectRegex.h"
#include "util/connection.h"
#include "util/logEngine.h"

namespace {
const char* const kPasswordPattern = "/\\S*assword:\\s*/i";
const char* const kHostKeyPattern = "/\\w*\\(yes/no\\)\\?\\s*/i";
const char* const kRefusalPattern = "/Permission denied\\w*/i";

// What a wait of the login dialogue saw: the position of the matching
// pattern in the list the dialogue waits for (built in this order), or
// nothing (a silence, or the client ended).
enum LoginEvent {
    kPasswordPrompt = 1,
    kHostKeyQuestion = 2,
    kShellPrompt = 3,
    kRefusal = 4,
};

// The sftp client's own command that ends the session.
const char* const kSftpExit = "exit";

// After the exit dialogue the client normally ends within moments; this is
// how long it may stay silent before it is stopped, and how much it may
// still print.
const int kClientEndGraceMs = 1000;
const int kClientEndMaxReads = 64;
}  // namespace

SSHConnection::SSHConnection(logEngine* logger, const DeviceFamily& family, eConnectionType kind)
    : ConnectionHandler(logger, family, kind == SFTP ? "SFTP" : "SSH"), engine(logger), connType(kind) {
    if (connType == SFTP) {
        promptText = "\nsftp>";
        promptPattern = "/\\nsftp>/";
        exitText = kSftpExit;
    } else {
        promptPattern = family.sshPromptPattern;
        // A qx.CLI shell runs on a terminal, and the client reports the
        // end of the session; without a terminal (NEXA) the awaited text is
        // the echo of the logout command.
        exitText = family.isQxCli() ? "closed" : family.logout.command;
    }
}

SSHConnection::~SSHConnection() {
    disconnect();
}

std::vector<std::string> SSHConnection::commandArgs(const std::string& user, const std::string& address,
                                                    int port) const {
    std::vector<std::string> args{connType == SFTP ? "sftp" : "ssh"};
    if (connType == SSH && !deviceFamily.isQxCli()) args.push_back("-T");
    // sftp reads its options only before the destination: the port goes
    // there, or sftp would connect to port 22.
    if (connType == SFTP) args.push_back("-P" + std::to_string(port));
    for (const std::string& option :
         {std::string("StrictHostKeyChecking=no"), "ConnectTimeout=" + std::to_string(connectTimeout),
          std::string("UserKnownHostsFile=/dev/null"), std::string("LogLevel=ERROR")}) {
        args.push_back("-o");
        args.push_back(option);
    }
    args.push_back(user + "@" + address);
    if (connType == SSH) {
        args.push_back("-p");
        args.push_back(std::to_string(port));
    }
    return args;
}

std::string SSHConnection::commandLine(const std::string& user, const std::string& address, int port) const {
    std::string line;
    for (const std::string& arg : commandArgs(user, address, port)) line += (line.empty() ? "" : " ") + arg;
    return line;
}

void SSHConnection::endClient() {
    try {
        engine.stop();
    } catch (const ExpectException& e) {
        log->add(logEngine::ERR, e.what());
    }
}

bool SSHConnection::enableSSHOverTelnet(const ConnectSettings& settings, const LoginSettings& logins) {
    log->add(logEngine::INF, "");
    log->add(logEngine::INF, "*** Checking if SSH enabled.");
    bool enabled = false;
    {
        connection telnet(log, deviceFamily);
        if (telnet.connect(settings, logins)) {
            enabled = telnet.checkSSHEnabled();
            telnet.disconnect();
        }
    }
    return enabled;
}

bool SSHConnection::connect(const ConnectSettings& settings, const LoginSettings& logins) {
    log->addLine(logEngine::DBG, "Running SSHConnection::connect(%s).", typeName.c_str());
    connectTimeout = settings.connectTimeout;
    commandTimeout = settings.commandTimeout;
    silenceTimeout = commandTimeout;
    const std::string refusal = settings.refusal(false, logins);
    if (!refusal.empty()) {
        log->add(logEngine::ERR, refusal);
        log->add(logEngine::ERR, "Login to router failed!");
        return false;
    }
    std::vector<std::string> addresses = settings.addressList();
    const size_t end = logins.size();
    size_t row = 0, address = 0;
    bool sshEnabledChecked = false;

    while (row < end) {
        const LoginRow& candidate = logins[row];
        std::string line = commandLine(candidate.user, addresses[address], static_cast<int>(settings.sshPort));
        log->addLine(logEngine::DBG, "Starting %s by '%s'.", typeName.c_str(), line.c_str());
        // A failed attempt may have left its client running; it ends here,
        // before the next one starts.
        endClient();
        bool started = false;
        try {
            started =
                engine.spawnArgv(commandArgs(candidate.user, addresses[address], static_cast<int>(settings.sshPort)));
        } catch (const ExpectException& e) {
            log->add(logEngine::ERR, e.what());
        }
        if (!started) {
            log->addLine(logEngine::ERR, "Spawn %s failed!", typeName.c_str());
            break;
        }
        log->addLine(logEngine::INF, "%s-connecting to host '%s@%s'.", typeName.c_str(), candidate.user.c_str(),
                     addresses[address].c_str());

        size_t before = row;
        if (login(logins, row, end)) {
            log->add(logEngine::INF, "Successfully logged into router.");
            connected = true;
            break;
        }
        // Refused by the client or server before any password: neither the
        // other candidates nor the Telnet check can help.
        if (refusedWithoutPassword) break;
        if (row == 0) {
            // No password was sent: the SSH service itself was not reached.
            if (!sshEnabledChecked) {
                endClient();
                sshEnabledChecked = enableSSHOverTelnet(settings, logins);
                if (sshEnabledChecked) {
                    log->add(logEngine::INF, "");
                    log->add(logEngine::INF, "*** Retrying SSH-connection.");
                    continue;
                }
                log->add(logEngine::ERR, "SSH-enabled-check failed!");
            }
            if (address + 1 >= addresses.size()) {
                log->add(logEngine::DBG, "No alternative addresses available.");
                break;
            }
            log->add(logEngine::INF, "Switching to next router-address.");
            ++address;
            continue;
        }
        if (row == before) {
            ++row;
            if (row >= end) {
                log->add(logEngine::DBG, "No alternative user/password available.");
                break;
            }
            log->add(logEngine::INF, "Switching to next user/password.");
        }
    }

    if (!connected) {
        log->add(logEngine::ERR, "Login to router failed!");
        disconnect();
        return false;
    }
    if (connType == SFTP) return true;

    if (deactivateShellTimeout()) return true;
    disconnect();
    return false;
}

std::string SSHConnection::takeLoginOutput(const std::string& secret) {
    std::string output = engine.getAccum();
    engine.clearAccum();
    // A terminal that echoes the password must not put it into the log.
    log->addBlob(logEngine::COM, maskSecret(output, secret));
    return output;
}

int SSHConnection::waitInLogin(const std::vector<ExpectRegex>& patterns) {
    try {
        int result = engine.expect(patterns);
        if (result == 0 && engine.limitReached())
            log->add(logEngine::ERR, limitReachedMessage("", "", engine.lastWaitMs()));
        return result;
    } catch (const ExpectException& e) {
        log->add(logEngine::INF, e.what());
        return -1;
    }
}

bool SSHConnection::promptFollowsRefusal(const std::string& secret, std::string& output) {
    int next = 0;
    try {
        next = engine.expect(std::vector<ExpectRegex>{AwaitedText::promptPattern(kPasswordPattern)});
    } catch (const ExpectException&) {
        next = -1;  // the client gave up and ended: the refusal was final
    }
    output += takeLoginOutput(secret);
    return next == 1;
}

std::string SSHConnection::refusalWithoutPassword(const std::string& output) {
    // With a known host key that no longer matches, ssh warns and switches
    // password authentication off; the server then refuses what is left.
    if (output.find("REMOTE HOST IDENTIFICATION HAS CHANGED") != std::string::npos)
        return "The router's SSH host key has changed (REMOTE HOST IDENTIFICATION HAS CHANGED): ssh refuses password "
               "authentication to it until the known host key is replaced.";
    if (output.find("Permission denied (publickey)") != std::string::npos)
        return "The router's SSH server accepts public-key authentication only (Permission denied (publickey)): no "
               "password can be tried.";
    return "";
}

bool SSHConnection::login(const LoginSettings& logins, size_t& row, size_t end) {
    refusedWithoutPassword = false;
    std::string attemptOutput;  // what the client printed before any password was asked for
    const std::string user = row < end ? logins[row].user : std::string();
    std::string lastPassword;
    bool passwordSent = false;
    setTimeout(connectTimeout + 5);
    bool firstWait = true;
    // In the order of LoginEvent.
    // The password prompt and the shell prompt count only where the client
    // stops after them: a banner may hold "*" or ">" anywhere.
    const std::vector<ExpectRegex> patterns{AwaitedText::promptPattern(kPasswordPattern),
                                            ExpectRegex(kHostKeyPattern), AwaitedText::promptPattern(promptPattern),
                                            ExpectRegex(kRefusalPattern)};
    // Only the output that answers a password can echo it.
    std::string secret;
    for (;;) {
        int result = waitInLogin(patterns);
        std::string output = takeLoginOutput(secret);
        if (!passwordSent) attemptOutput += output;
        if (firstWait) {
            resetTimeout();
            firstWait = false;
        }
        // ssh reports a rejected password and asks for the next one in two
        // writes, so the refusal may arrive alone; it counts as the end of
        // the attempts only when no new password prompt follows it.
        if (result == kRefusal && promptFollowsRefusal(secret, attemptOutput)) result = kPasswordPrompt;
        secret.clear();

        // Refused, or the client gave up, before it asked for any password:
        // its own words may tell why.
        if (!passwordSent && (result == kRefusal || result <= 0)) {
            const std::string why = refusalWithoutPassword(attemptOutput);
            if (!why.empty()) {
                log->add(logEngine::ERR, why);
                refusedWithoutPassword = true;
                return false;
            }
        }

        switch (result) {
            case kPasswordPrompt:
                if (row < end && logins[row].user == user) {
                    const LoginRow& candidate = logins[row];
                    log->addLine(logEngine::DBG, "Trying user '%s' with password '%s'.", candidate.user.c_str(),
                                 candidate.password.c_str());
                    // A password is one line, without the family's framing.
                    const std::string refusal =
                        controlRefusal(candidate.password, false, "Password " + candidate.label);
                    if (!refusal.empty()) {
                        log->add(logEngine::ERR, refusal);
                        ++row;  // the next candidate gets a client of its own
                        return false;
                    }
                    sendCmd(candidate.password, "");
                    log->addBlob(logEngine::COM, candidate.label);
                    lastPassword = candidate.password;
                    passwordSent = true;
                    secret = candidate.password;
                    ++row;
                    continue;
                }
                log->add(logEngine::DBG, row >= end ? "Tried all known user/password-combinations."
                                                    : "Tried all passwords for current user.");
                return false;
            case kHostKeyQuestion:
                log->add(logEngine::DBG, "Sending command for accepting connection.");
                sendCmd("yes", "");
                continue;
            case kShellPrompt:
                if (deviceFamily.isQxCli()) {
                    if (connType == SFTP) {
                        promptPrefix = "\n";
                    } else if (!takePromptPrefix(output)) {
                        return false;
                    }
                }
                if (passwordSent)
                    log->addLine(logEngine::DBG, "Success: User '%s' with password '%s'.", user.c_str(),
                                 lastPassword.c_str());
                else
                    log->addLine(logEngine::DBG, "Success: User '%s', no password needed.", user.c_str());
                return true;
            case kRefusal:
                log->addLine(logEngine::INF, "No more passwords allowed. Re-try %s-connection.", typeName.c_str());
                return false;
            default:
                log->add(logEngine::INF, "Timeout or unexpected reply in login-procedure!");
                return false;
        }
    }
}

bool SSHConnection::writeCommand(const std::string& command) {
    try {
        engine << command;
        engine << "\n";
        return true;
    } catch (const ExpectException& e) {
        // The client has gone (the device closed the connection).
        log->addLine(logEngine::ERR, "%s-write failed: %s", typeName.c_str(), e.what());
        return false;
    }
}

std::string SSHConnection::readReply(const AwaitedText& first, const AwaitedText& second, std::string& reply) {
    std::string error;
    try {
        if (engine.expectTexts(first, second) == 0) {
            if (engine.limitReached()) babbling = true;
            error = engine.limitReached() ? limitReachedMessage(first.text(), second.text(), engine.lastWaitMs())
                                          : typeName + "-reply timed-out!";
        }
    } catch (const ExpectException& e) {
        error = e.what();
        alive = false;
    }
    reply = engine.getAccum();
    engine.clearAccum();
    return error;
}

void SSHConnection::applyTimeout(int seconds) {
    engine.setTimeout(seconds * 1000);
    engine.setWaitLimit(waitLimitMs());
}

void SSHConnection::release() {
    endClient();
}

void SSHConnection::letClientFinish() {
    const int savedTimeout = engine.timeoutMs;
    engine.setTimeout(kClientEndGraceMs);
    try {
        for (int reads = 0; reads < kClientEndMaxReads && engine.notBlockableRead() == 1; ++reads) {
        }
    } catch (const ExpectException&) {
        // The end of the client's output: it has ended and been reaped.
    }
    engine.setTimeout(savedTimeout);
    log->addBlob(logEngine::COM, engine.getAccum());
    engine.clearAccum();
}

DeviceFamily::Logout SSHConnection::logoutDialogue() const {
    if (connType == SFTP) return {kSftpExit, "", ""};
    return deviceFamily.logout;
}

void SSHConnection::sendLastCommand(const std::string& command) {
    sendExpecting(command, exitText);
    connected = false;
    letClientFinish();
}

std::string SSHConnection::rebootAcknowledgement() const {
    if (connType != SSH) return "";
    return deviceFamily.isQxCli() ? exitText : promptText;
}

bool SSHConnection::checkSSHEnabled() {
    log->add(logEngine::DBG, "Running SSHConnection::checkSSHEnabled().");
    log->addLine(logEngine::INF, "No need for SSH-enable-check as %s-login was successful.", typeName.c_str());
    return true;
}
