#include "util/commandResult.h"

#include "util/Pcre.h"

commandResult::commandResult() : foundFirst(false), foundSecond(false) {}

void commandResult::add(const std::string& reply) {
    replies.push_back(reply);
}

bool commandResult::contains(const std::string& text) const {
    for (const auto& reply : replies)
        if (reply.find(text) != std::string::npos) return true;
    return false;
}

std::string commandResult::fetch(const std::string& pattern) const {
    pcrepp::Pcre re(pattern, "x");
    if (re.search(matchedReply) && re.matches() >= 1 && re.start(1) != pcrepp::Pcre::npos) return re.group(1);
    return "INVALID";
}
