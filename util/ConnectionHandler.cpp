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
                                            const std::string& waitError, const std::string& typeName) {
    commandResult result;
    if (!first.empty() && reply.find(first) != std::string::npos) {
        result.foundFirst = true;
        result.matchedReply = reply;
    }
    if (!second.empty() && reply.find(second) != std::string::npos) result.foundSecond = true;

    if (log) log->addBlob(logReplyAsDebug ? logEngine::DBG : logEngine::COM, reply);
    result.add(reply);

    if (!log) return result;
    if (!waitError.empty()) {
        log->add(logEngine::ERR, waitError);
    } else if (!result.foundFirst && !result.foundSecond) {
        if (!first.empty() && !second.empty()) {
            log->addLine(logEngine::ERR, "Expected '%s' or '%s' not found in %s-reply-lines '%s'!", first.c_str(),
                         second.c_str(), typeName.c_str(), reply.c_str());
        } else if (!first.empty() || !second.empty()) {
            const std::string& only = first.empty() ? second : first;
            log->addLine(logEngine::ERR, "Expected '%s' not found in %s-reply-lines '%s'!", only.c_str(),
                         typeName.c_str(), reply.c_str());
        }
    }
    return result;
}
