#include "util/ConnectionHandler.h"

#include "util/logEngine.h"

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
