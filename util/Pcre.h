#pragma once
#include <cstddef>
#include <string>

#ifndef PCRE2_CODE_UNIT_WIDTH
#define PCRE2_CODE_UNIT_WIDTH 8
#endif
#include <pcre2.h>

namespace pcrepp {

// Pcre is one compiled PCRE2 pattern plus the state of its last search.
// Patterns and subjects are byte strings (no UTF). Flag letters:
//   i caseless, m multi-line, s dot matches line ends, x extended syntax,
//   g global (only affects replace: every match instead of the first).
// Unknown flag letters are ignored. A pattern that does not compile leaves
// the object invalid(); error() then holds the library's message and every
// search fails. Nothing here throws.
class Pcre {
public:
    static constexpr size_t npos = std::string::npos;

    Pcre();
    Pcre(const std::string& pattern, const std::string& flags = "");
    Pcre(const Pcre& other);
    Pcre& operator=(const Pcre& other);
    Pcre(Pcre&& other) noexcept;
    Pcre& operator=(Pcre&& other) noexcept;
    ~Pcre();

    bool valid() const { return code_ != nullptr; }
    const std::string& error() const { return error_; }
    const std::string& pattern() const { return pattern_; }
    const std::string& flags() const { return flags_; }
    bool global() const { return global_; }

    // Searches subject from byte offset on. extraOptions are PCRE2 match
    // options (for example PCRE2_PARTIAL_SOFT); with a partial option,
    // partial() tells whether the result was a partial match, and start(0)
    // is then where that partial match begins.
    bool search(const std::string& subject, size_t offset = 0, uint32_t extraOptions = 0);
    bool searchRange(const char* subject, size_t length, size_t offset, uint32_t extraOptions = 0);
    // Like searchRange, but keeps no copy of the subject, so a search costs
    // nothing beyond the match itself: start() and end() index the caller's
    // subject, and group() gives empty texts until the next copying search.
    bool searchInPlace(const char* subject, size_t length, size_t offset, uint32_t extraOptions = 0);

    bool matched() const { return matched_; }
    bool partial() const { return partial_; }
    // Number of captured groups of the pattern (whole match not counted).
    int matches() const;
    // Group n of the last match: 0 is the whole match, 1.. the captured
    // groups. A group that did not take part gives "" and start npos.
    std::string group(int n = 0) const;
    size_t start(int n = 0) const;
    size_t end(int n = 0) const;  // one past the last byte

    // Replaces the first match (every match with flag g). In with, "$1",
    // "${1}" and "$$" refer to groups and a dollar sign. An invalid pattern
    // or replacement returns subject unchanged.
    std::string replace(const std::string& subject, const std::string& with) const;
    // Same, but with is inserted byte for byte: "$1" and "\\" stay as they are.
    std::string replaceLiteral(const std::string& subject, const std::string& with) const;

    // Largest lookbehind of the pattern in bytes (0 when invalid).
    size_t maxLookbehind() const;

private:
    void compile();
    void release();

    std::string pattern_;
    std::string flags_;
    std::string error_;
    bool global_ = false;
    pcre2_code* code_ = nullptr;
    pcre2_match_data* matchData_ = nullptr;
    bool matched_ = false;
    bool partial_ = false;
    std::string subjectCopy_;  // groups are read from the searched subject
};

}  // namespace pcrepp
