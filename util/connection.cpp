#include "util/connection.h"

#include <socket++/sockinet.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "util/logEngine.h"

namespace {
const char* const kReplyTimedOut = "Telnet-reply timed-out!";
}  // namespace

connection::connection(logEngine* logger, const std::string& type)
    : log(logger), deviceType(type), passwordPrompt("Password:"), typeName("Telnet") {
    if (isQxCli()) {
        promptText = "*";
        loginPrompt = "User:";
        confirmPrompt = "(Yes/No)";
        configPrompt = "Config$";
        sshConfigPrompt = "SSH Config$";
        sshServerPrompt = "SSHS$";
    } else {
        promptText = ">";
        loginPrompt = "Login:";
    }
}

connection::~connection() {
    disconnect();
}

bool connection::openStream(const std::string& address, int port) {
    try {
        stream.reset(new iosockinet(sockbuf::sock_stream));
        sockinetbuf* buf = stream->rdbuf();
        buf->closeonexec(true);
        buf->recvtimeout(commandTimeout);

        // The socket's own time-outs bound the connection attempt.
        timeval savedReceive{}, savedSend{};
        buf->getopt(SO_RCVTIMEO, &savedReceive, sizeof savedReceive);
        buf->getopt(SO_SNDTIMEO, &savedSend, sizeof savedSend);
        timeval limit{connectTimeout, 0};
        buf->setopt(SO_RCVTIMEO, &limit, sizeof limit);
        buf->setopt(SO_SNDTIMEO, &limit, sizeof limit);

        log->addLine(logEngine::INF, "%s-connecting to host '%s'.", typeName.c_str(), address.c_str());
        buf->connect(address.c_str(), port);

        buf->setopt(SO_RCVTIMEO, &savedReceive, sizeof savedReceive);
        buf->setopt(SO_SNDTIMEO, &savedSend, sizeof savedSend);
        return true;
    } catch (const sockerr& e) {
        log->addLine(logEngine::INF, "Connection to host '%s' failed with '%s'.", address.c_str(), e.errstr());
        disconnect();
        return false;
    }
}

void connection::releaseStream() {
    // Nothing waits in the stream's own output buffer (commands go straight
    // to the socket), so releasing it only closes the descriptor.
    stream.reset();
}

bool connection::connect(const ConnectSettings& settings, const LoginSettings& logins) {
    std::vector<std::string> addresses = settings.addressList();
    log->add(logEngine::DBG, "Running connection::connect().");
    connectTimeout = settings.connectTimeout;
    commandTimeout = settings.commandTimeout;

    std::string connectedAddress;
    for (const auto& address : addresses) {
        if (openStream(address, settings.telnetPort)) {
            connectedAddress = address;
            break;
        }
    }
    if (!stream) {
        log->addLine(logEngine::ERR, "%s-connection failed!", typeName.c_str());
        disconnect();
        return false;
    }
    log->addLine(logEngine::INF, "Connected to host '%s'.", connectedAddress.c_str());

    if (!catchTraffic(loginPrompt, "", false).foundFirst) {
        log->addLine(logEngine::ERR, "Missing '%s' prompt!", loginPrompt.c_str());
        disconnect();
        return false;
    }
    if (!login(logins)) {
        log->add(logEngine::ERR, "Login to router failed!");
        disconnect();
        return false;
    }
    log->add(logEngine::INF, "Successfully logged into router.");
    connected = true;
    if (deactivateShellTimeout(log, isQxCli(), promptText, configPrompt)) return true;
    disconnect();
    return false;
}

bool connection::login(const LoginSettings& logins) {
    if (logins.empty()) return false;
    for (size_t row = 0; row < logins.size(); ++row) {
        const LoginRow& candidate = logins[row];
        commandResult userReply = sendCmd(candidate.user, promptText, passwordPrompt, false);
        log->addBlob(logEngine::COM, candidate.label);
        if (userReply.foundFirst) {
            log->addLine(logEngine::DBG, "Success: User '%s', no password needed.", candidate.user.c_str());
            return getPromptPrefix(userReply.matchedReply);
        }
        if (!userReply.foundSecond) break;

        // The reply to the password is logged with the password masked, in
        // case the device echoes it.
        log->addLine(logEngine::DBG, "Sending '%s'.", candidate.password.c_str());
        commandResult passwordReply;
        if (writeRaw(candidate.password + "\r\n"))
            passwordReply = catchTrafficMasked(promptText, loginPrompt, candidate.password);
        if (passwordReply.foundFirst) {
            log->addLine(logEngine::DBG, "Success: User '%s' with password '%s'.", candidate.user.c_str(),
                         candidate.password.c_str());
            return getPromptPrefix(passwordReply.matchedReply);
        }
        log->addLine(logEngine::DBG, "Failure: User '%s' with password '%s'.", candidate.user.c_str(),
                     candidate.password.c_str());
        if (!passwordReply.foundSecond) break;
        if (row + 1 == logins.size()) return false;
    }
    log->add(logEngine::ERR, "Timeout or unexpected reply in login-procedure!");
    return false;
}

bool connection::getPromptPrefix(const std::string& reply) {
    if (!isQxCli()) return true;
    return takePromptPrefix(log, reply, promptText);
}

bool connection::writeRaw(const std::string& text) {
    if (!stream) {
        log->addLine(logEngine::ERR, "%s-write failed: no connection.", typeName.c_str());
        return false;
    }
    // Straight to the descriptor: a peer that has gone must come back as
    // EPIPE, never as SIGPIPE, whatever the process does with that signal.
    const int fd = stream->rdbuf()->sd();
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        log->addLine(logEngine::ERR, "%s-write failed: %s.", typeName.c_str(),
                     n < 0 ? strerror(errno) : "nothing written");
        return false;
    }
    return true;
}

commandResult connection::sendCmd(const std::string& command, const std::string& first, const std::string& second,
                                  bool logReplyAsDebug) {
    log->addLine(logEngine::DBG, "Sending '%s'.", command.c_str());
    if (!writeRaw(command + "\r\n")) return commandResult();
    if (first.empty() && second.empty()) return commandResult();
    return catchTraffic(first, second, logReplyAsDebug);
}

commandResult connection::catchTraffic(const std::string& first, const std::string& second, bool logReplyAsDebug) {
    return readReply(first, second, logReplyAsDebug, "");
}

commandResult connection::catchTrafficMasked(const std::string& first, const std::string& second,
                                             const std::string& secret) {
    return readReply(first, second, false, secret);
}

commandResult connection::readReply(const std::string& first, const std::string& second, bool logReplyAsDebug,
                                    const std::string& secret) {
    std::string reply;
    std::string error;
    bool foundFirst = false, foundSecond = false;
    if (!stream) error = kReplyTimedOut;
    while (stream) {
        int n = 0;
        try {
            n = stream->rdbuf()->read(readBuffer, sizeof readBuffer);
        } catch (const sockerr& e) {
            if (e.serrno() == EINTR) continue;
            error = kReplyTimedOut;
            break;
        }
        if (n <= 0) break;  // the device closed the connection
        reply.append(readBuffer, static_cast<size_t>(n));
        // The whole reply so far is searched, so a text split over two
        // reads is still found.
        if (!first.empty() && reply.find(first) != std::string::npos) foundFirst = true;
        if (!second.empty() && reply.find(second) != std::string::npos) foundSecond = true;
        if (!safe && (foundFirst || foundSecond)) break;
    }
    return judgeReply(log, reply, first, second, logReplyAsDebug, error, typeName, secret);
}

void connection::setTimeout(int seconds) {
    log->addLine(logEngine::DBG, "Setting timeout to %d.", seconds);
    if (stream) stream->rdbuf()->recvtimeout(seconds);
}

void connection::resetTimeout() {
    if (stream) stream->rdbuf()->recvtimeout(commandTimeout);
}

void connection::disconnect() {
    if (connected) {
        if (!isQxCli()) {
            sendCmd("exit", "", "", false);
            log->addBlob(logEngine::COM, "exit");
        } else {
            if (!sendCmd("\x10logout", confirmPrompt, "", false).foundFirst)
                log->addLine(logEngine::ERR, "Missing '%s' prompt!", "(Yes/No)");
            sendCmd("yes", "", "", false);
            log->addBlob(logEngine::COM, "yes");
        }
        connected = false;
    }
    releaseStream();
    log->flushPending(logEngine::COM);
    pauseSeconds(2);
}

void connection::triggerReboot() {
    if (!connected) return;
    const char* command = isQxCli() ? "\x10restart yes" : "cmd=reboot";
    if (!sendCmd(command, promptText, "", false).foundFirst)
        log->addLine(logEngine::ERR, "Missing '%s' prompt!", promptText.c_str());
    connected = false;
    releaseStream();
    log->flushPending(logEngine::COM);
    pauseSeconds(2);
}

bool connection::sendExpecting(const std::string& command, const std::string& expected, commandResult* result) {
    commandResult reply = sendCmd(command, expected, "", false);
    if (!reply.foundFirst) log->addLine(logEngine::ERR, "Missing '%s' prompt!", expected.c_str());
    bool found = reply.foundFirst;
    if (result) *result = std::move(reply);
    return found;
}

bool connection::checkSSHPassQxCli() {
    commandResult status;
    if (!sendExpecting("list enable", sshServerPrompt, &status)) return false;
    if (status.contains("Server status: enabled")) {
        log->add(logEngine::INF, "Found SSH-server enabled.");
        return true;
    }
    log->add(logEngine::INF, "Found SSH-server disabled. Try to enable it.");
    setTimeout(20);
    sendExpecting("enable", sshServerPrompt);
    resetTimeout();
    return false;
}

int connection::checkSSHPassNexa() {
    if (!sendExpecting("update -i", promptText)) return -1;
    commandResult listing;
    sendExpecting("dir", promptText, &listing);
    sendExpecting("exit", promptText);
    if (listing.contains("pub")) {
        log->add(logEngine::INF, "Found SSH-keys. Make sure that SSH-daemon is running.");
        sendExpecting("sshd", promptText);
        return 1;
    }
    log->add(logEngine::INF, "Found no SSH-keys. Try to build them.");
    setTimeout(20);
    sendExpecting("ssh-keygen -q -t rsa -b 1024 -f sshd_host_rsa_key -N ''", promptText);
    resetTimeout();
    return 0;
}

bool connection::checkSSHEnabled() {
    log->add(logEngine::DBG, "Running connection::checkSSHEnabled().");
    if (isQxCli()) {
        if (!sendExpecting("running-config", configPrompt)) return false;
        if (!sendExpecting("feature ssh", sshConfigPrompt)) return false;
        if (!sendExpecting("server", sshServerPrompt)) return false;
    }
    for (int pass = 0; pass < 2; ++pass) {
        if (isQxCli()) {
            if (checkSSHPassQxCli()) return true;
        } else {
            int ready = checkSSHPassNexa();
            if (ready < 0) return false;
            if (ready > 0) return true;
        }
    }
    return false;
}
