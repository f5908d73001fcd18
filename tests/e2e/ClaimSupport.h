#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

// What the claim tests read: a simulated device's sessions from its
// transcript, and the lines the job runner prints when it lost a claim.
namespace claimtest {

// One connection a device accepted: when it came and when it ended, in
// seconds of the day of the transcript's time stamps.
struct Session {
    std::string label;  // "telnet#1", "ssh#2"
    double opened = -1, closed = -1;
};

inline double secondsOfDay(const std::string& clock) {  // "HH:MM:SS.mmm"
    return atoi(clock.substr(0, 2).c_str()) * 3600.0 + atoi(clock.substr(3, 2).c_str()) * 60.0 +
           atof(clock.substr(6).c_str());
}

// Transcript lines read "DATE TIME LABEL --- TEXT" for events.
inline std::vector<Session> sessions(const std::string& transcript) {
    std::vector<Session> found;
    size_t start = 0;
    while (start < transcript.size()) {
        size_t end = transcript.find('\n', start);
        if (end == std::string::npos) end = transcript.size();
        const std::string line = transcript.substr(start, end - start);
        start = end + 1;
        size_t labelAt = line.find(' ', line.find(' ') + 1);
        if (labelAt == std::string::npos) continue;
        size_t markAt = line.find(' ', labelAt + 1);
        if (markAt == std::string::npos) continue;
        const bool event = line.compare(markAt + 1, 4, "--- ") == 0;
        const bool received = line.compare(markAt + 1, 4, "<<< ") == 0;
        if (!event && !received) continue;
        const std::string label = line.substr(labelAt + 1, markAt - labelAt - 1);
        const std::string text = line.substr(markAt + 5);
        const double at = secondsOfDay(line.substr(line.find(' ') + 1, 12));
        if (received) {
            // The job's session ends with its logout: the job sends nothing
            // after it and does not wait while a slow device closes.
            if (text == "exit" || (text.size() >= 6 && text.compare(text.size() - 6, 6, "logout") == 0))
                for (auto& s : found)
                    if (s.label == label && s.closed < 0) s.closed = at;
        } else if (text.rfind("connection from ", 0) == 0) {
            found.push_back({label, at, -1});
        } else if (text.find("closed") != std::string::npos || text == "chaos: connection dropped" ||
                   text.rfind("refused:", 0) == 0) {
            // A connection devsim drops (--chaos) or refuses before its
            // session has no "closed" of its own.
            for (auto& s : found)
                if (s.label == label && s.closed < 0) s.closed = at;
        }
    }
    return found;
}

// Whether any two sessions were open at the same time (an unclosed one
// counts as open to the end).
inline bool overlap(const std::vector<Session>& all) {
    for (size_t i = 0; i < all.size(); ++i)
        for (size_t j = i + 1; j < all.size(); ++j) {
            const double iEnd = all[i].closed < 0 ? 1e9 : all[i].closed;
            const double jEnd = all[j].closed < 0 ? 1e9 : all[j].closed;
            if (all[i].opened < jEnd && all[j].opened < iEnd) return true;
        }
    return false;
}

// The one line of a process that found its job claimed by another.
inline std::string lostLine(unsigned long jobId) {
    return "Tarvo: job " + std::to_string(jobId) + " is held by another process (";
}

}  // namespace claimtest
