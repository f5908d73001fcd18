#include "sim/TelnetSession.h"

#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "sim/DevsimOptions.h"
#include "sim/ReplyWriter.h"
#include "sim/SessionHost.h"
#include "sim/ShellFactory.h"
#include "sim/StopSignal.h"
#include "sim/Transcript.h"

namespace {

constexpr unsigned char IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;
constexpr unsigned char ECHO = 1, SGA = 3, TTYPE = 24, NAWS = 31, TSPEED = 32, ENCRYPT = 38, NEW_ENVIRON = 39;

std::string verbName(unsigned char verb) {
    switch (verb) {
        case WILL:
            return "WILL";
        case WONT:
            return "WONT";
        case DO:
            return "DO";
        default:
            return "DONT";
    }
}

std::string optionName(unsigned char option) {
    switch (option) {
        case ECHO:
            return "ECHO";
        case SGA:
            return "SGA";
        case TTYPE:
            return "TTYPE";
        case NAWS:
            return "NAWS";
        case TSPEED:
            return "TSPEED";
        case ENCRYPT:
            return "ENCRYPT";
        case NEW_ENVIRON:
            return "NEW-ENVIRON";
        default:
            return std::to_string(option);
    }
}

// Whether the client's verb answers an offer the device made with offered:
// a WILL is answered by DO or DONT, a DO by WILL or WONT.
bool answers(unsigned char verb, unsigned char offered) {
    return offered == WILL ? (verb == DO || verb == DONT) : (verb == WILL || verb == WONT);
}

double monotonicSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

}  // namespace

TelnetSession::TelnetSession(int fd, std::string label, DeviceState& state, const DevsimOptions& options,
                             Transcript& transcript, SessionHost& host)
    : fd_(fd), label_(std::move(label)), state_(state), options_(options), transcript_(transcript), host_(host) {}

namespace {

// A line of random bytes with the prompt characters of both families
// somewhere inside it; no line end, IAC or NUL among the bytes.
std::string noiseLine(std::mt19937_64& random) {
    std::uniform_int_distribution<int> length(8, 80), byte(1, 254);
    std::string line;
    const int n = length(random);
    for (int i = 0; i < n; ++i) {
        char c = static_cast<char>(byte(random));
        line += c == '\r' || c == '\n' ? '.' : c;
    }
    line.insert(static_cast<size_t>(n / 3), ">");
    line.insert(static_cast<size_t>(2 * n / 3), "*");
    return line + "\r\n";
}

}  // namespace

// --noise: a login prompt, and then whatever the client sends, the line
// answers with random bytes.
void TelnetSession::runNoise(const StopSignal& stop) {
    std::mt19937_64 random(static_cast<uint64_t>(options_.faults.noiseSeed));
    transcript_.event(label_, "noise: random bytes instead of a device");
    // The line looks like a device at first: a login prompt after the noise.
    std::string line = noiseLine(random) + (options_.family == DeviceFamily::QxCli ? "User: " : "Login: ");
    bool gone = !sendAll(line.data(), line.size(), stop);
    std::string received;
    char buffer[4096];
    while (!gone && !stop.requested()) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
        int rc = ::poll(fds, 2, -1);
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0 || stop.requested()) break;
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        received.append(buffer, static_cast<size_t>(n));
        for (size_t end = received.find_first_of("\r\n"); end != std::string::npos;
             end = received.find_first_of("\r\n")) {
            std::string got = received.substr(0, end);
            received.erase(0, end + 1);
            if (got.empty()) continue;
            transcript_.received(label_, got);
            line = noiseLine(random);
            if (!sendAll(line.data(), line.size(), stop)) gone = true;
        }
    }
    transcript_.event(label_, "client closed the connection");
    closeGracefully(false);
}

void TelnetSession::run(const StopSignal& stop) {
    if (options_.faults.noiseSeed >= 0) {
        runNoise(stop);
        return;
    }
    ReplyWriter writer([this, &stop](const char* data, size_t length) { return sendAll(data, length, stop); },
                       options_.faults.slowReplyMs, stop);
    if (options_.faults.telnetOptions) offerOptions(stop);
    // The strict device says nothing and takes no input before every offer
    // has its answer.
    bool withheld = options_.faults.telnetOptionsStrict;
    std::string typedAhead;
    Shell::Context context;
    context.session = label_;
    context.login = true;
    context.echo = true;
    context.fallbackTimer = host_.fallbackTimer();
    context.chaos = host_.chaos();
    auto shell = ShellFactory::make(state_, options_, &transcript_, context);
    shell->start();
    bool clientGone = !withheld && !writer.write(shell->takeOutput());
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
            std::string input = options_.faults.telnetOptions ? stripOptions(buffer, static_cast<size_t>(n))
                                                              : std::string(buffer, static_cast<size_t>(n));
            if (withheld && allAnswered()) {
                withheld = false;
                transcript_.event(label_, "telnet options all answered");
                const unsigned char again[] = {IAC, WILL, ECHO, IAC, WILL, SGA};
                sendAll(reinterpret_cast<const char*>(again), sizeof again, stop);
                if (!writer.write(shell->takeOutput())) clientGone = true;
                input = typedAhead + input;
                typedAhead.clear();
            }
            if (withheld)
                typedAhead += input;
            else
                shell->receive(input);
        }
        shell->trickle();
        int holdBackMs = shell->takeHoldBackMs();
        if (!withheld && !writer.write(shell->takeOutput(), holdBackMs)) clientGone = true;
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

void TelnetSession::offerOptions(const StopSignal& stop) {
    if (options_.faults.telnetOptionsStrict)
        offers_ = {{WILL, ENCRYPT, false}, {WILL, ECHO, false}, {WILL, SGA, false},      {DO, TTYPE, false},
                   {DO, TSPEED, false},    {DO, NAWS, false},   {DO, NEW_ENVIRON, false}};
    else
        offers_ = {{WILL, ECHO, false}, {WILL, SGA, false}, {DO, NAWS, false}};
    std::string bytes;
    for (const Offer& offer : offers_)
        bytes += {static_cast<char>(IAC), static_cast<char>(offer.verb), static_cast<char>(offer.option)};
    sendAll(bytes.data(), bytes.size(), stop);
}

bool TelnetSession::allAnswered() const {
    for (const Offer& offer : offers_)
        if (!offer.answered) return false;
    return true;
}

// One option command of the client, noted with what it answers.
void TelnetSession::optionCommand(unsigned char verb, unsigned char option) {
    std::string note = "telnet option from the client: " + verbName(verb) + " " + optionName(option);
    for (Offer& offer : offers_) {
        if (offer.option != option || !answers(verb, offer.verb)) continue;
        // One answer per offer: a repeated WILL asks for a mode already
        // agreed on (or refused) and needs none.
        if (offer.answered) note += " (answered twice)";
        offer.answered = true;
        break;
    }
    transcript_.event(label_, note);
}

// Removes option negotiation from what the client sent: IAC with a
// command, IAC WILL/WONT/DO/DONT with its option (noted by
// optionCommand), and IAC SB ... IAC SE. IAC IAC is a data byte 255.
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
                    optionVerb_ = c;
                    optionState_ = OptionState::Option;
                } else {
                    optionState_ = OptionState::Data;
                }
                break;
            case OptionState::Option:
                optionCommand(optionVerb_, c);
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
