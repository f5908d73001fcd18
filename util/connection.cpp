#include "util/connection.h"

#include <socket++/sockinet.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "util/Pause.h"
#include "util/logEngine.h"

namespace {
const char* const kReplyTimedOut = "Telnet-reply timed-out!";
const char* const kInterrupted = "Wait ended by a termination request!";
const long long kInterruptSliceUs = 250000;

long long monotonicUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}
}  // namespace

connection::connection(logEngine* logger, const DeviceFamily& family) : ConnectionHandler(logger, family, "Telnet") {}

connection::~connection() {
    disconnect();
}

bool connection::openStream(const std::string& address, int port) {
    try {
        stream.reset(new iosockinet(sockbuf::sock_stream));
        negotiation.reset();
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

void connection::release() {
    // Nothing waits in the stream's own output buffer (commands go straight
    // to the socket), so releasing it only closes the descriptor.
    stream.reset();
}

bool connection::connect(const ConnectSettings& settings, const LoginSettings& logins) {
    std::vector<std::string> addresses = settings.addressList();
    log->add(logEngine::DBG, "Running connection::connect().");
    connectTimeout = settings.connectTimeout;
    commandTimeout = settings.commandTimeout;
    silenceTimeout = commandTimeout;
    const std::string refusal = settings.refusal(true, logins);
    if (!refusal.empty()) {
        log->add(logEngine::ERR, refusal);
        log->addLine(logEngine::ERR, "%s-connection failed!", typeName.c_str());
        return false;
    }

    std::string connectedAddress;
    for (const auto& address : addresses) {
        if (openStream(address, static_cast<int>(settings.telnetPort))) {
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

    if (!catchTraffic(deviceFamily.loginPrompt).foundFirst) {
        log->addLine(logEngine::ERR, "Missing '%s' prompt!", deviceFamily.loginPrompt.c_str());
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
    if (deactivateShellTimeout()) return true;
    disconnect();
    return false;
}

bool connection::login(const LoginSettings& logins) {
    if (logins.empty()) return false;
    for (size_t row = 0; row < logins.size(); ++row) {
        const LoginRow& candidate = logins[row];
        commandResult userReply = sendCmd(candidate.user, promptText, deviceFamily.passwordPrompt);
        log->addBlob(logEngine::COM, candidate.label);
        if (userReply.foundFirst) {
            log->addLine(logEngine::DBG, "Success: User '%s', no password needed.", candidate.user.c_str());
            return getPromptPrefix(userReply.matchedReply);
        }
        if (!userReply.foundSecond) break;

        // The reply to the password is logged with the password masked, in
        // case the device echoes it.
        // The device waits for the password line; a password that would
        // break it into two lines is not sent, and the login ends here.
        const std::string refusal = controlRefusal(candidate.password, false, "Password " + candidate.label);
        if (!refusal.empty()) {
            log->add(logEngine::ERR, refusal);
            return false;
        }
        log->addLine(logEngine::DBG, "Sending '%s'.", candidate.password.c_str());
        commandResult passwordReply;
        if (writeRaw(candidate.password + "\r\n"))
            passwordReply = catchTrafficMasked(promptText, deviceFamily.loginPrompt, candidate.password);
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
    if (!deviceFamily.isQxCli()) return true;
    return takePromptPrefix(reply);
}

bool connection::writeRaw(const std::string& text) {
    if (Pause::interruptRequested()) return false;  // terminating: nothing more to the device
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
        // A device that does not read must not hold a terminating job.
        if (n < 0 && errno == EINTR && !Pause::interruptRequested()) continue;
        log->addLine(logEngine::ERR, "%s-write failed: %s.", typeName.c_str(),
                     n < 0 ? strerror(errno) : "nothing written");
        return false;
    }
    return true;
}

bool connection::writeCommand(const std::string& command) {
    return writeRaw(command + "\r\n");
}

std::string connection::readReply(const AwaitedText& first, const AwaitedText& second, std::string& reply) {
    if (!stream) return kReplyTimedOut;
    // The silence time-out starts afresh after every read, so a device that
    // sends a byte every little while would never let it run out: the wait
    // as a whole also ends at its limit. Both are waited for in slices, so
    // that a termination request that comes just before a slice begins
    // still ends the wait.
    const long long start = monotonicUs();
    const long long limit = waitLimitMs() * 1000LL;
    long long lastRead = start;
    for (;;) {
        int n = 0;
        try {
            if (Pause::interruptRequested()) return kInterrupted;
            const long long now = monotonicUs();
            const long long limitLeft = start + limit - now;
            if (limitLeft <= 0) {
                babbling = true;
                return limitReachedMessage(first.text(), second.text(), (now - start) / 1000);
            }
            const long long silenceLeft = lastRead + silenceTimeout * 1000000LL - now;
            const long long slice = std::max(0LL, std::min({silenceLeft, limitLeft, kInterruptSliceUs}));
            if (!stream->rdbuf()->is_readready(static_cast<int>(slice / 1000000), static_cast<int>(slice % 1000000))) {
                if (silenceLeft <= slice) return kReplyTimedOut;
                continue;
            }
            n = stream->rdbuf()->read(readBuffer, sizeof readBuffer);
            lastRead = monotonicUs();
        } catch (const sockerr& e) {
            if (e.serrno() == EINTR) continue;  // a termination request is seen above
            return kReplyTimedOut;
        }
        if (n <= 0) {
            alive = false;  // the device closed the connection
            return "";
        }
        const size_t before = reply.size();
        // The device's option negotiation is answered at once (a device may
        // wait for the answers before it shows its login prompt) and never
        // becomes part of the reply.
        std::string answers;
        negotiation.receive(readBuffer, static_cast<size_t>(n), reply, answers);
        if (!answers.empty()) writeRaw(answers);
        // A text split over two reads is still found: the search starts far
        // enough before the new bytes. Searching only there keeps a reply of
        // many megabytes linear (a prompt is looked for at the end only).
        auto arrived = [&](const AwaitedText& text) {
            const size_t overlap = text.text().size();
            return text.findIn(reply.data(), reply.size(), before < overlap ? 0 : before - overlap + 1) !=
                   std::string::npos;
        };
        bool found = arrived(first) || arrived(second);
        if (found && !safe) {
            // A prompt counts at the end of everything that has arrived, not
            // at the end of a part of it that one read took.
            const bool promptOnly = !(arrived(first) && !first.isPrompt()) && !(arrived(second) && !second.isPrompt());
            bool more = false;
            try {
                more = promptOnly && stream->rdbuf()->is_readready(0, 0);
            } catch (const sockerr&) {
                more = false;
            }
            if (!more) return "";
        }
    }
}

void connection::applyTimeout(int seconds) {
    if (stream) stream->rdbuf()->recvtimeout(seconds);
}

void connection::sendLastCommand(const std::string& command) {
    sendCmd(command, "");
    log->addBlob(logEngine::COM, command);
}

bool connection::checkSSHPassQxCli() {
    const DeviceFamily::SshService& service = deviceFamily.sshService;
    commandResult status;
    if (!sendExpecting(service.status.command, awaited(service.status), &status)) return false;
    if (status.contains(service.enabled)) {
        log->add(logEngine::INF, "Found SSH-server enabled.");
        return true;
    }
    log->add(logEngine::INF, "Found SSH-server disabled. Try to enable it.");
    ScopedTimeout slow(*this, 20);
    sendExpecting(service.enable.command, awaited(service.enable));
    return false;
}

int connection::checkSSHPassNexa() {
    const DeviceFamily::SshService& service = deviceFamily.sshService;
    if (!sendExpecting(service.openKeys.command, awaited(service.openKeys))) return -1;
    commandResult listing;
    sendExpecting(service.listKeys.command, awaited(service.listKeys), &listing);
    sendExpecting(service.closeKeys.command, awaited(service.closeKeys));
    if (listing.contains(service.keyMark)) {
        log->add(logEngine::INF, "Found SSH-keys. Make sure that SSH-daemon is running.");
        sendExpecting(service.startDaemon.command, awaited(service.startDaemon));
        return 1;
    }
    log->add(logEngine::INF, "Found no SSH-keys. Try to build them.");
    ScopedTimeout slow(*this, 20);
    sendExpecting(service.makeKeys.command, awaited(service.makeKeys));
    return 0;
}

bool connection::checkSSHEnabled() {
    log->add(logEngine::DBG, "Running connection::checkSSHEnabled().");
    const bool qxCli = deviceFamily.isQxCli();
    for (const DeviceFamily::Step& step : deviceFamily.sshService.enter)
        if (!sendExpecting(step.command, awaited(step))) return false;
    for (int pass = 0; pass < 2; ++pass) {
        if (qxCli) {
            if (checkSSHPassQxCli()) return true;
        } else {
            int ready = checkSSHPassNexa();
            if (ready < 0) return false;
            if (ready > 0) return true;
        }
    }
    return false;
}
