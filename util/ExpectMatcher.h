#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "util/AwaitedText.h"

namespace pcrepp {
class Pcre;
}

// ExpectMatcher finds the first entry of a list - compiled patterns or plain
// texts - in a subject that only grows between calls (the engine's
// accumulator during one wait). The answer after every call is the one a
// search of the whole subject with every entry in list order would give:
// the first entry in list order that matches wins, at the match position
// the whole-subject search reports. The cost is linear: a plain text is
// looked for only in the new bytes plus its length minus one; a pattern
// resumes where a match could still begin, which PCRE2_PARTIAL_SOFT
// reports. Patterns whose result depends on where a search starts (\G,
// backtracking verbs such as (*COMMIT)) are searched in full every time;
// a multi-line ^ costs a second search when the subject ends in a newline.
//
// The patterns are borrowed: each must outlive the matcher, and after a
// match the winner's start() and end() index the subject last passed.
class ExpectMatcher {
public:
    // atEnd: a prompt's pattern, anchored at the end of the subject.
    void addPattern(pcrepp::Pcre* compiled, bool atEnd = false);
    // An empty text matches at once; leave it out when that is not wanted.
    void addText(const std::string& text);
    // A text that counts where AwaitedText says: a prompt only at the end
    // of the subject. An empty one never matches.
    void addText(const AwaitedText& text);

    // REQUIRES: subject starts with the subject of the previous call.
    // Returns the 1-based index of the first matching entry, 0 for none.
    // complete: the subject holds everything that has arrived; otherwise
    // the entries that count only at its end (prompts) are not tried yet.
    int scan(const char* subject, size_t length, bool complete = true);

    bool empty() const { return entries_.empty(); }
    size_t size() const { return entries_.size(); }
    // Position of the last match in the subject (one past for end).
    size_t matchStart() const { return matchStart_; }
    size_t matchEnd() const { return matchEnd_; }

private:
    struct Entry {
        pcrepp::Pcre* regex = nullptr;  // null for a plain text
        std::string text;
        bool atEnd = false;  // a prompt: counts only at the end of the subject
        size_t resume = 0;  // no match can start before this offset
        bool fullRescan = false;
        bool circumflexAtEnd = false;  // see mayUseMultilineCircumflex
    };

    bool scanEntry(Entry& entry, const char* subject, size_t length);

    std::vector<Entry> entries_;
    size_t matchStart_ = 0;
    size_t matchEnd_ = 0;
};
