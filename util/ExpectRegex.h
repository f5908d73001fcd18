#pragma once
#include <iosfwd>
#include <string>

// ExpectRegex is one pattern the engine waits for: a PCRE pattern and its
// flag letters (i m s x g). It is written either as "/pattern/flags" or as a
// bare pattern; a bare text is still a regular expression (nothing is
// escaped). Parsing an empty text throws std::out_of_range.
class ExpectRegex {
public:
    ExpectRegex(const char* text);                                      // parses; implicit on purpose
    ExpectRegex(const std::string& text);                               // parses; implicit on purpose
    ExpectRegex(const std::string& pattern, const std::string& flags);  // taken as given
    ExpectRegex(const ExpectRegex&) = default;
    ExpectRegex& operator=(const ExpectRegex&) = default;
    ExpectRegex(ExpectRegex&&) = default;
    ExpectRegex& operator=(ExpectRegex&&) = default;
    virtual ~ExpectRegex();

    // "/p/f" gives pattern p and flags f (everything after the last slash);
    // any other text is the whole pattern with no flags.
    void parseString(const std::string& text);

    std::string pattern;
    std::string flags;
    // A prompt's pattern (AwaitedText::promptPattern): anchored at the end
    // of the output, so it counts only once everything that arrived has
    // been searched.
    bool atEnd = false;
};

// Writes "/", the pattern, "/" and the flags.
std::ostream& operator<<(std::ostream& out, const ExpectRegex& regex);
