#include "util/ExpectMatcher.h"

#include <algorithm>
#include <cstring>

#include "util/Pcre.h"

namespace {
// \G asserts the start offset of the search, and backtracking verbs such as
// (*COMMIT) or (*SKIP) can end a search before later start positions are
// tried; with them a resumed search could find what a search from the
// beginning never would. The test is textual and errs on the safe side.
bool dependsOnSearchStart(const std::string& pattern) {
    return pattern.find("\\G") != std::string::npos || pattern.find("(*") != std::string::npos;
}

// A multi-line ^ does not match after a newline that ends the subject, and
// PCRE2 does not count that failure as a partial match, although the next
// byte would let it match. Also textual, and also erring on the safe side.
bool mayUseMultilineCircumflex(const pcrepp::Pcre& regex) {
    const std::string& pattern = regex.pattern();
    if (pattern.find('^') == std::string::npos) return false;
    return regex.flags().find('m') != std::string::npos || pattern.find("(?") != std::string::npos;
}
}  // namespace

void ExpectMatcher::addPattern(pcrepp::Pcre* compiled, bool atEnd) {
    Entry entry;
    entry.regex = compiled;
    entry.atEnd = atEnd;
    entry.fullRescan = dependsOnSearchStart(compiled->pattern());
    entry.circumflexAtEnd = mayUseMultilineCircumflex(*compiled);
    entries_.push_back(entry);
}

void ExpectMatcher::addText(const std::string& text) {
    Entry entry;
    entry.text = text;
    entries_.push_back(entry);
}

void ExpectMatcher::addText(const AwaitedText& text) {
    Entry entry;
    entry.text = text.text();
    entry.atEnd = text.isPrompt();
    // An empty text that may count anywhere would match at once.
    if (text.empty()) entry.atEnd = true;
    entries_.push_back(entry);
}

int ExpectMatcher::scan(const char* subject, size_t length, bool complete) {
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (!complete && entries_[i].atEnd) continue;
        if (scanEntry(entries_[i], subject, length)) return static_cast<int>(i + 1);
    }
    return 0;
}

bool ExpectMatcher::scanEntry(Entry& entry, const char* subject, size_t length) {
    if (!entry.regex && entry.atEnd) {
        // Only the end of the subject is looked at, so this stays linear.
        size_t at = AwaitedText(entry.text, true).findIn(subject, length);
        if (at == std::string::npos) return false;
        matchStart_ = at;
        matchEnd_ = at + entry.text.size();
        return true;
    }
    if (!entry.regex) {
        const std::string& text = entry.text;
        size_t from = entry.resume;
        const void* hit = memmem(subject + from, length - from, text.data(), text.size());
        if (hit) {
            matchStart_ = static_cast<const char*>(hit) - subject;
            matchEnd_ = matchStart_ + text.size();
            return true;
        }
        // The next search overlaps the tail by all but one byte of the text.
        if (length + 1 > text.size()) entry.resume = length + 1 - text.size();
        return false;
    }

    pcrepp::Pcre& regex = *entry.regex;
    // Soft partial matching still prefers a complete match; it also switches
    // off PCRE2's minimum-length hint, which in PCRE2 10.42 refuses some
    // real matches of patterns that begin with a lookahead.
    bool found = regex.searchInPlace(subject, length, entry.fullRescan ? 0 : entry.resume, PCRE2_PARTIAL_SOFT);
    if (found) {
        matchStart_ = regex.start(0);
        matchEnd_ = regex.end(0);
        return true;
    }
    // Every start before the earliest partial match failed without reaching
    // the end of the subject, so more output cannot change those attempts.
    // The search always sees the whole subject, so lookbehinds still reach
    // text before the resume offset and nothing has to be kept back for them.
    if (entry.fullRescan) return false;
    size_t resume = regex.partial() ? regex.start(0) : length;
    if (entry.circumflexAtEnd && length > entry.resume && subject[length - 1] == '\n') {
        // Without the newlines that end the subject, an attempt that failed on
        // a ^ among them needs more bytes instead, which partial matching
        // reports; an attempt starting among them is covered by the shorter
        // length itself.
        size_t shorter = length;
        while (shorter > 0 && subject[shorter - 1] == '\n') --shorter;
        // (A complete match there says little: \K may have moved its start
        // past where the attempt began, so the offset stays where it was.)
        size_t from = std::min(entry.resume, shorter);
        regex.searchInPlace(subject, shorter, from, PCRE2_PARTIAL_SOFT);
        resume = std::min(resume, regex.matched() ? from : regex.partial() ? regex.start(0) : shorter);
    }
    entry.resume = resume;
    return false;
}
