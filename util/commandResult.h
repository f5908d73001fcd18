#pragma once
#include <string>
#include <vector>

// commandResult is what a device command produced: whether the one or two
// texts the caller expected arrived, the reply that held the first one, and
// every reply text collected (one element per wait, not per line).
class commandResult {
public:
    commandResult();

    void add(const std::string& reply);
    // Substring test over every collected reply; an empty text counts as
    // found as soon as there is any reply.
    bool contains(const std::string& text) const;
    // Searches matchedReply with pattern (extended syntax) and returns the
    // first captured group, or "INVALID" when there is no match or no group.
    std::string fetch(const std::string& pattern) const;

    bool foundFirst;
    bool foundSecond;
    // The channel did not send the command at all: it held a control
    // character of its own (the error line says which).
    bool refused = false;
    std::string matchedReply;
    std::vector<std::string> replies;
};
