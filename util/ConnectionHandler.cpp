#include "util/ConnectionHandler.h"

#include "util/logEngine.h"

#include <cerrno>
#include <ctime>

std::vector<std::string> ConnectSettings::addressList() const {
    if (fallbackAddress.empty()) return {address};
    if (startWithFallback) return {fallbackAddress, address};
    return {address, fallbackAddress};
}

ConnectionHandler::~ConnectionHandler() = default;

commandResult ConnectionHandler::judgeReply(logEngine* log, const std::string& reply, const std::string& first,
                                            const std::string& second, bool logReplyAsDebug,
                                            const std::string& waitError, const std::string& typeName,
                                            const std::string& secret) {
    commandResult result;
    if (!first.empty() && reply.find(first) != std::string::npos) {
        result.foundFirst = true;
        result.matchedReply = reply;
    }
    if (!second.empty() && reply.find(second) != std::string::npos) result.foundSecond = true;

    result.add(reply);
    if (!log) return result;
    const std::string shown = maskSecret(reply, secret);
    if (logReplyAsDebug) {
        // The unfinished last line of a quiet reply must not be glued to the
        // next traffic line, which is ordinary log.
        log->addBlob(logEngine::DBG, shown);
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
    if (secret.empty()) return text;
    std::string out;
    size_t from = 0, at;
    while ((at = text.find(secret, from)) != std::string::npos) {
        out.append(text, from, at - from);
        out += "******";
        from = at + secret.size();
    }
    out.append(text, from, std::string::npos);
    return out;
}

bool ConnectionHandler::takePromptPrefix(logEngine* log, const std::string& reply, std::string& promptText) {
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

bool ConnectionHandler::deactivateShellTimeout(logEngine* log, bool qxCli, const std::string& promptText,
                                               const std::string& configPrompt) {
    log->add(logEngine::INF, "");
    log->add(logEngine::INF, "*** Deactivating shell-timeout.");
    std::string awaited = promptText;
    commandResult last;
    if (!qxCli) {
        last = sendCmd("t 0", promptText, "", false);
    } else {
        awaited = configPrompt;
        last = sendCmd("running-config", configPrompt, "", false);
        if (last.foundFirst) {
            awaited = promptText;
            last = sendCmd("set inactivity-timer disabled\x10", promptText, "", false);
        }
    }
    if (last.foundFirst) return true;
    log->addLine(logEngine::ERR, "Missing '%s' prompt!", awaited.c_str());
    return false;
}

void ConnectionHandler::pauseSeconds(unsigned seconds) {
    timespec left{static_cast<time_t>(seconds), 0};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
