#include "sim/TelnetSession.h"

#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

#include "sim/DevsimOptions.h"
#include "sim/ReplyWriter.h"
#include "sim/SessionHost.h"
#include "sim/ShellFactory.h"
#include "sim/StopSignal.h"
#include "sim/Transcript.h"

namespace {

constexpr unsigned char IAC = 255, SB = 250, SE = 240, WILL = 251, DO = 253;
constexpr unsigned char ECHO = 1, SGA = 3, NAWS = 31;

double monotonicSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

}  // namespace

TelnetSession::TelnetSession(int fd, std::string label, DeviceState& state, const DevsimOptions& options,
                             Transcript& transcript, SessionHost& host)
    : fd_(fd), label_(std::move(label)), state_(state), options_(options), transcript_(transcript), host_(host) {}

void TelnetSession::run(const StopSignal& stop) {
    ReplyWriter writer([this, &stop](const char* data, size_t length) { return sendAll(data, length, stop); },
                       options_.faults.slowReplyMs, stop);
    if (options_.faults.telnetOptions) {
        const unsigned char offer[] = {IAC, WILL, ECHO, IAC, WILL, SGA, IAC, DO, NAWS};
        sendAll(reinterpret_cast<const char*>(offer), sizeof offer, stop);
    }
    Shell::Context context;
    context.session = label_;
    context.login = true;
    context.echo = true;
    context.fallbackTimer = host_.fallbackTimer();
    context.chaos = host_.chaos();
    auto shell = ShellFactory::make(state_, options_, &transcript_, context);
    shell->start();
    bool clientGone = !writer.write(shell->takeOutput());
    double lastInput = monotonicSeconds();
    char buffer[16384];
    while (!clientGone && shell->ending() == Shell::Ending::None && !stop.requested()) {
        int idle = shell->idleTimeoutSeconds();
        int waitMs = shell->trickleWaitMs();
        if (idle > 0) {
            double left = lastInput + idle - monotonicSeconds();
            int idleMs = left <= 0 ? 0 : static_cast<int>(left * 1000) + 1;
            waitMs = waitMs < 0 ? idleMs : std::min(waitMs, idleMs);
        }
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
        int rc = ::poll(fds, 2, waitMs);
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0 || stop.requested()) break;
        if (rc == 0) {
            if (shell->trickleWaitMs() < 0) shell->idleExpired();
        } else {
            ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) {
                clientGone = true;
                break;
            }
            lastInput = monotonicSeconds();
            if (options_.faults.telnetOptions)
                shell->receive(stripOptions(buffer, static_cast<size_t>(n)));
            else
                shell->receive(buffer, static_cast<size_t>(n));
        }
        shell->trickle();
        int holdBackMs = shell->takeHoldBackMs();
        if (!writer.write(shell->takeOutput(), holdBackMs)) clientGone = true;
    }
    Shell::Ending ending = shell->ending();
    transcript_.event(label_, clientGone                      ? "client closed the connection"
                              : ending == Shell::Ending::None ? "closed by the device stopping"
                                                              : "closed by the device");
    closeGracefully(!clientGone && ending != Shell::Ending::Drop);
    if (ending == Shell::Ending::Reboot) host_.requestReboot();
}

bool TelnetSession::sendAll(const char* data, size_t length, const StopSignal& stop) {
    while (length > 0) {
        ssize_t n = ::send(fd_, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data += n;
            length -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The client does not read; wait for room or the stop.
            pollfd fds[2] = {{fd_, POLLOUT, 0}, {stop.fd(), POLLIN, 0}};
            int rc = ::poll(fds, 2, -1);
            if (rc < 0 && errno != EINTR) return false;
            if (stop.requested()) return false;
            if (fds[0].revents & (POLLERR | POLLHUP)) return false;
            continue;
        }
        return false;
    }
    return true;
}

// Removes option negotiation from what the client sent: IAC with a
// command, IAC WILL/WONT/DO/DONT with its option, and IAC SB ... IAC SE.
// IAC IAC is a data byte 255.
std::string TelnetSession::stripOptions(const char* data, size_t length) {
    std::string plain;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(data[i]);
        switch (optionState_) {
            case OptionState::Data:
                if (c == IAC)
                    optionState_ = OptionState::Iac;
                else
                    plain += static_cast<char>(c);
                break;
            case OptionState::Iac:
                if (c == IAC) {
                    plain += static_cast<char>(c);
                    optionState_ = OptionState::Data;
                } else if (c == SB) {
                    optionState_ = OptionState::Sub;
                } else if (c >= WILL) {
                    optionState_ = OptionState::Option;
                } else {
                    optionState_ = OptionState::Data;
                }
                break;
            case OptionState::Option:
                optionState_ = OptionState::Data;
                break;
            case OptionState::Sub:
                if (c == IAC) optionState_ = OptionState::SubIac;
                break;
            case OptionState::SubIac:
                optionState_ = c == SE ? OptionState::Data : OptionState::Sub;
                break;
        }
    }
    return plain;
}

// The device has said its last words: send them off with the end of the
// stream and, unless the line drops, read what the client still sends, so
// the close does not turn into a reset that could swallow the last reply.
void TelnetSession::closeGracefully(bool drain) {
    ::shutdown(fd_, SHUT_WR);
    if (!drain) return;
    double until = monotonicSeconds() + 1.0;
    char buffer[4096];
    for (;;) {
        int left = static_cast<int>((until - monotonicSeconds()) * 1000);
        if (left <= 0) return;
        pollfd p = {fd_, POLLIN, 0};
        int rc = ::poll(&p, 1, left);
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) return;
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
    }
}
