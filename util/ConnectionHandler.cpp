#include "util/ConnectionHandler.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>

#include "util/CommandText.h"
#include "util/Pause.h"
#include "util/logEngine.h"

std::vector<std::string> ConnectSettings::addressList() const {
    if (fallbackAddress.empty()) return {address};
    if (startWithFallback) return {fallbackAddress, address};
    return {address, fallbackAddress};
}

bool ConnectSettings::validAddress(const std::string& address) {
    if (address.empty() || address.size() > 253) return false;
    unsigned char binary[16];
    if (inet_pton(AF_INET, address.c_str(), binary) == 1 || inet_pton(AF_INET6, address.c_str(), binary) == 1)
        return true;
    // A host name; one final dot (the root) is allowed.
    std::string name = address.back() == '.' ? address.substr(0, address.size() - 1) : address;
    size_t start = 0;
    for (;;) {
        size_t dot = name.find('.', start);
        size_t end = dot == std::string::npos ? name.size() : dot;
        if (end == start || end - start > 63) return false;
        if (name[start] == '-' || name[end - 1] == '-') return false;
        for (size_t i = start; i < end; ++i) {
            unsigned char c = static_cast<unsigned char>(name[i]);
            if (!std::isalnum(c) && c != '-') return false;
        }
        if (dot == std::string::npos) return true;
        start = dot + 1;
    }
}

std::string ConnectSettings::refusal(bool overTelnet, const LoginSettings& logins) const {
    for (const std::string& candidate : addressList())
        if (!validAddress(candidate))
            return "Refusing router address '" + candidate + "': not an IPv4 or IPv6 address or host name.";
    for (const LoginRow& row : logins)
        if (!row.user.empty() && row.user[0] == '-')
            return "Refusing login user '" + row.user + "': it begins with '-'.";
    const long port = overTelnet ? telnetPort : sshPort;
    if (port < 1 || port > 65535)
        return std::string("Refusing ") + (overTelnet ? "Telnet" : "SSH") + " port " + std::to_string(port) +
               ": a port is a number from 1 to 65535.";
    return "";
}

ConnectionHandler::ConnectionHandler(logEngine* logger, const DeviceFamily& family, const std::string& type)
    : log(logger), deviceFamily(family), typeName(type), promptText(family.shellPrompt) {}

ConnectionHandler::~ConnectionHandler() = default;

commandResult ConnectionHandler::sendCmd(const std::string& command, const std::string& first,
                                         const std::string& second, bool logReplyAsDebug) {
    if (!send(command)) return unsent();
    if (first.empty() && second.empty()) return commandResult();
    return catchTraffic(first, second, logReplyAsDebug);
}

commandResult ConnectionHandler::sendSecret(const std::string& command, const std::string& first,
                                            const std::string& secret) {
    if (!send(command)) return unsent();
    return catchTrafficMasked(first, "", secret);
}

commandResult ConnectionHandler::unsent() const {
    commandResult result;
    result.refused = refusedLast;
    return result;
}

std::string ConnectionHandler::controlRefusal(const std::string& text, bool framing, const std::string& what) const {
    const size_t at = CommandText::findControlOutsideFraming(text, framing ? deviceFamily.commandFraming : '\0');
    if (at == std::string::npos) return "";
    // The text itself stays out of the line: it may carry a secret.
    return what + " refused: it holds " + CommandText::describe(static_cast<unsigned char>(text[at])) + " at byte " +
           std::to_string(at + 1) +
           ", which would end its line there and make the rest a line of its own; nothing of it was sent to the "
           "device!";
}

bool ConnectionHandler::send(const std::string& command) {
    refusedLast = false;
    const std::string refusal = controlRefusal(command, true, typeName + "-command");
    if (!refusal.empty()) {
        log->addLine(logEngine::DBG, "Not sending '%s'.", CommandText::shown(command).c_str());
        log->add(logEngine::ERR, refusal);
        refusedLast = true;
        return false;
    }
    // After a termination request nothing more reaches the device.
    if (Pause::interruptRequested()) {
        log->addLine(logEngine::DBG, "Not sending '%s': terminating.", command.c_str());
        return false;
    }
    log->addLine(logEngine::DBG, "Sending '%s'.", command.c_str());
    if (writeCommand(command)) return true;
    alive = false;
    return false;
}

commandResult ConnectionHandler::catchTraffic(const std::string& first, const std::string& second,
                                              bool logReplyAsDebug) {
    std::string reply;
    std::string error = readReply(awaitedText(first), awaitedText(second), reply);
    return judgeReply(reply, first, second, logReplyAsDebug, error);
}

commandResult ConnectionHandler::catchTrafficMasked(const std::string& first, const std::string& second,
                                                    const std::string& secret) {
    std::string reply;
    std::string error = readReply(awaitedText(first), awaitedText(second), reply);
    return judgeReply(reply, first, second, false, error, secret);
}

bool ConnectionHandler::sendExpecting(const std::string& command, const std::string& prompt, commandResult* reply) {
    commandResult result = sendCmd(command, prompt);
    bool found = result.foundFirst;
    if (!found) log->addLine(logEngine::ERR, "Missing '%s' prompt!", prompt.c_str());
    if (reply) *reply = std::move(result);
    return found;
}

namespace {
double gWaitLimitScale = 1.0;
}  // namespace

void ConnectionHandler::setTimeout(int seconds) {
    log->addLine(logEngine::DBG, "Setting timeout to %d.", seconds);
    silenceTimeout = seconds;
    applyTimeout(seconds);
}

void ConnectionHandler::resetTimeout() {
    silenceTimeout = commandTimeout;
    applyTimeout(commandTimeout);
}

int ConnectionHandler::setWaitLimit(int seconds) {
    if (seconds > 0) log->addLine(logEngine::DBG, "Setting wait limit to %d seconds.", seconds);
    int previous = waitLimitSeconds;
    waitLimitSeconds = std::max(0, seconds);
    applyTimeout(silenceTimeout);
    return previous;
}

int ConnectionHandler::waitLimitMs() const {
    const double seconds =
        waitLimitSeconds > 0 ? waitLimitSeconds : static_cast<double>(kReplyLimitFactor) * std::max(0, silenceTimeout);
    // At least a second: a limit must never end a wait before it began.
    return static_cast<int>(std::clamp(seconds * 1000 * gWaitLimitScale, 1000.0, static_cast<double>(INT_MAX)));
}

void ConnectionHandler::setWaitLimitScale(double factor) {
    gWaitLimitScale = factor > 0 ? factor : 1.0;
}

std::string ConnectionHandler::limitReachedMessage(const std::string& first, const std::string& second,
                                                   long long waitedMs) const {
    std::string awaited = first.empty() ? "" : "'" + first + "'";
    if (!second.empty()) awaited += (awaited.empty() ? "'" : " or '") + second + "'";
    char text[512];
    snprintf(text, sizeof text,
             "%s-reply limit of %d seconds reached: the device kept sending for %.1f seconds without ever showing "
             "%s!",
             typeName.c_str(), (waitLimitMs() + 999) / 1000, static_cast<double>(waitedMs) / 1000.0,
             awaited.empty() ? "the awaited text" : awaited.c_str());
    return text;
}

commandResult ConnectionHandler::judgeReply(const std::string& reply, const std::string& first,
                                            const std::string& second, bool logReplyAsDebug,
                                            const std::string& waitError, const std::string& secret) {
    return judgeReply(reply, awaitedText(first), awaitedText(second), logReplyAsDebug, waitError, secret);
}

commandResult ConnectionHandler::judgeReply(const std::string& reply, const AwaitedText& awaitedFirst,
                                            const AwaitedText& awaitedSecond, bool logReplyAsDebug,
                                            const std::string& waitError, const std::string& secret) {
    const std::string& first = awaitedFirst.text();
    const std::string& second = awaitedSecond.text();
    commandResult result;
    if (awaitedFirst.foundIn(reply)) {
        result.foundFirst = true;
        result.matchedReply = reply;
    }
    if (awaitedSecond.foundIn(reply)) result.foundSecond = true;

    result.add(reply);
    if (!log) return result;
    // A quiet reply may echo a secret of the command: the error line below
    // is ordinary log and must not quote it.
    const std::string shown = logReplyAsDebug ? std::string("***") : maskSecret(reply, secret);
    if (logReplyAsDebug) {
        // The unfinished last line of a quiet reply must not be glued to the
        // next traffic line, which is ordinary log.
        log->addBlob(logEngine::DBG, maskSecret(reply, secret));
        log->flushPending(logEngine::DBG);
    } else {
        log->addBlob(logEngine::COM, shown);
        // A reply that did not end in what was awaited (cut by a closed
        // connection, a silence or an error) is logged as it arrived: its
        // unfinished last line stands alone, before the error about it and
        // never glued to what the job sends next.
        if (!waitError.empty() || !alive || (!result.foundFirst && !result.foundSecond))
            log->flushPending(logEngine::COM);
    }
    if (!waitError.empty()) {
        log->add(logEngine::ERR, waitError);
    } else if (!result.foundFirst && !result.foundSecond) {
        if (!first.empty() && !second.empty()) {
            log->addLine(logEngine::ERR, "Expected '%s' or '%s' not found in %s-reply-lines '%s'!", first.c_str(),
                         second.c_str(), typeName.c_str(), shown.c_str());
        } else if (!first.empty() || !second.empty()) {
            const std::string& only = first.empty() ? second : first;
            log->addLine(logEngine::ERR, "Expected '%s' not found in %s-reply-lines '%s'!", only.c_str(),
                         typeName.c_str(), shown.c_str());
        }
    }
    return result;
}

std::string ConnectionHandler::maskSecret(const std::string& text, const std::string& secret) {
    return logEngine::maskLiterally(text, secret);
}

AwaitedText ConnectionHandler::awaitedText(const std::string& text) const {
    return AwaitedText(text, text == promptText || deviceFamily.isPrompt(text));
}

bool ConnectionHandler::takePromptPrefix(const std::string& reply) {
    // A banner before the prompt may hold "*" of its own ("*** authorised
    // access only ***"): only the prompt that ends the reply tells.
    size_t end = reply.find_last_not_of(" \t");
    size_t star = end != std::string::npos && reply[end] == '*' ? end : std::string::npos;
    size_t lineFeed = star == std::string::npos ? std::string::npos : reply.rfind('\n', star);
    if (lineFeed == std::string::npos) {
        log->add(logEngine::ERR, "Could not extract shell-prompt-prefix!");
        return false;
    }
    promptPrefix = reply.substr(lineFeed, star - lineFeed);
    promptText = promptPrefix + "*";
    deviceFamily.usePromptPrefix(promptPrefix);
    log->addLine(logEngine::DBG, "Prompt-prefix is '%s'.", promptPrefix.c_str());
    return true;
}

bool ConnectionHandler::deactivateShellTimeout() {
    log->add(logEngine::INF, "");
    log->add(logEngine::INF, "*** Deactivating shell-timeout.");
    for (const DeviceFamily::Step& step : deviceFamily.shellTimeoutOff)
        if (!sendExpecting(step.command, awaited(step))) return false;
    return true;
}

const std::string& ConnectionHandler::awaited(const DeviceFamily::Step& step) const {
    return step.prompt.empty() ? promptText : step.prompt;
}

void ConnectionHandler::disconnect() {
    if (connected && babbling)
        log->add(logEngine::INF, "No logout: the device kept sending without its prompt; ending the session.");
    if (logoutPossible()) {
        const DeviceFamily::Logout bye = logoutDialogue();
        if (bye.confirm.empty()) {
            sendLastCommand(bye.command);
        } else {
            sendExpecting(bye.command, bye.confirmPrompt);
            sendLastCommand(bye.confirm);
        }
    }
    finishSession();
}

bool ConnectionHandler::triggerReboot() {
    if (!connected && !endsSessionWithoutLogin()) return false;
    const std::string acknowledgement = rebootAcknowledgement();
    bool confirmed = false;
    if (connected && !acknowledgement.empty() && babbling) {
        // A device that kept sending without its prompt may still obey the
        // command, but would not acknowledge it before another whole limit.
        send(deviceFamily.rebootCommand);
    } else if (connected && !acknowledgement.empty() && send(deviceFamily.rebootCommand)) {
        // The device goes down after its answer: its prompt (on qx.CLI the
        // one the process switch brings) may be followed by a restart notice
        // and the end of the connection, so here it counts anywhere.
        const AwaitedText answer(acknowledgement, false);
        std::string reply;
        const std::string error = readReply(answer, AwaitedText(), reply);
        confirmed = judgeReply(reply, answer, AwaitedText(), false, error).foundFirst;
        if (!confirmed) log->addLine(logEngine::ERR, "Missing '%s' prompt!", acknowledgement.c_str());
    } else if (connected && !acknowledgement.empty()) {
        log->addLine(logEngine::ERR, "Missing '%s' prompt!", acknowledgement.c_str());
    }
    finishSession();
    return confirmed;
}

bool ConnectionHandler::logoutPossible() const {
    return connected && alive && !babbling && !Pause::interruptRequested();
}

void ConnectionHandler::finishSession() {
    connected = false;
    babbling = false;
    release();
    log->flushPending(logEngine::COM);
    pauseSeconds(2);
}

void ConnectionHandler::pauseSeconds(unsigned seconds) {
    Pause::seconds(seconds);
}
