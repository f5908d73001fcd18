#include "util/ConnectionHandler.h"

#include "util/Pause.h"
#include "util/logEngine.h"

std::vector<std::string> ConnectSettings::addressList() const {
    if (fallbackAddress.empty()) return {address};
    if (startWithFallback) return {fallbackAddress, address};
    return {address, fallbackAddress};
}

ConnectionHandler::ConnectionHandler(logEngine* logger, const DeviceFamily& family, const std::string& type)
    : log(logger), deviceFamily(family), typeName(type), promptText(family.shellPrompt) {}

ConnectionHandler::~ConnectionHandler() = default;

commandResult ConnectionHandler::sendCmd(const std::string& command, const std::string& first,
                                         const std::string& second, bool logReplyAsDebug) {
    if (!send(command) || (first.empty() && second.empty())) return commandResult();
    return catchTraffic(first, second, logReplyAsDebug);
}

commandResult ConnectionHandler::sendSecret(const std::string& command, const std::string& first,
                                            const std::string& secret) {
    if (!send(command)) return commandResult();
    return catchTrafficMasked(first, "", secret);
}

bool ConnectionHandler::send(const std::string& command) {
    log->addLine(logEngine::DBG, "Sending '%s'.", command.c_str());
    if (writeCommand(command)) return true;
    alive = false;
    return false;
}

commandResult ConnectionHandler::catchTraffic(const std::string& first, const std::string& second,
                                              bool logReplyAsDebug) {
    std::string reply;
    std::string error = readReply(first, second, reply);
    return judgeReply(reply, first, second, logReplyAsDebug, error);
}

commandResult ConnectionHandler::catchTrafficMasked(const std::string& first, const std::string& second,
                                                    const std::string& secret) {
    std::string reply;
    std::string error = readReply(first, second, reply);
    return judgeReply(reply, first, second, false, error, secret);
}

bool ConnectionHandler::sendExpecting(const std::string& command, const std::string& prompt, commandResult* reply) {
    commandResult result = sendCmd(command, prompt);
    bool found = result.foundFirst;
    if (!found) log->addLine(logEngine::ERR, "Missing '%s' prompt!", prompt.c_str());
    if (reply) *reply = std::move(result);
    return found;
}

void ConnectionHandler::setTimeout(int seconds) {
    log->addLine(logEngine::DBG, "Setting timeout to %d.", seconds);
    applyTimeout(seconds);
}

void ConnectionHandler::resetTimeout() {
    applyTimeout(commandTimeout);
}

commandResult ConnectionHandler::judgeReply(const std::string& reply, const std::string& first,
                                            const std::string& second, bool logReplyAsDebug,
                                            const std::string& waitError, const std::string& secret) {
    commandResult result;
    if (!first.empty() && reply.find(first) != std::string::npos) {
        result.foundFirst = true;
        result.matchedReply = reply;
    }
    if (!second.empty() && reply.find(second) != std::string::npos) result.foundSecond = true;

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

bool ConnectionHandler::takePromptPrefix(const std::string& reply) {
    size_t lineFeed = reply.rfind('\n');
    size_t star = reply.rfind('*');
    if (lineFeed == std::string::npos || star == std::string::npos || star < lineFeed) {
        log->add(logEngine::ERR, "Could not extract shell-prompt-prefix!");
        return false;
    }
    promptPrefix = reply.substr(lineFeed, star - lineFeed);
    promptText = promptPrefix + "*";
    log->addLine(logEngine::DBG, "Prompt-prefix is '%s'.", promptPrefix.c_str());
    return true;
}

bool ConnectionHandler::deactivateShellTimeout() {
    log->add(logEngine::INF, "");
    log->add(logEngine::INF, "*** Deactivating shell-timeout.");
    if (!deviceFamily.isQxCli()) return sendExpecting("t 0", promptText);
    return sendExpecting("running-config", deviceFamily.configPrompt) &&
           sendExpecting("set inactivity-timer disabled\x10", promptText);
}

void ConnectionHandler::finishSession() {
    connected = false;
    release();
    log->flushPending(logEngine::COM);
    pauseSeconds(2);
}

void ConnectionHandler::pauseSeconds(unsigned seconds) {
    Pause::seconds(seconds);
}
