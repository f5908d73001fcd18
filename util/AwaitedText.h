#pragma once
#include <cstddef>
#include <string>

#include "util/ExpectRegex.h"

// AwaitedText is one text a device dialogue waits for, and where it counts.
// A prompt counts only where the device stops after it: at the end of what
// has arrived, followed by nothing but blanks (spaces and tabs). So a ">" or
// "*" inside a line of output (a refusal "Access denied -> ...", a banner
// "*** authorised access only ***") neither ends a read early nor passes for
// the prompt that follows it. Any other text (a question, "transfer ok")
// counts wherever it occurs. The Telnet read, the terminal's expect engine
// and the judging of every reply share this one rule.
class AwaitedText {
public:
    AwaitedText() = default;
    AwaitedText(std::string text, bool prompt) : text_(std::move(text)), prompt_(prompt) {}

    const std::string& text() const { return text_; }
    bool isPrompt() const { return prompt_; }
    bool empty() const { return text_.empty(); }

    // Where the text counts in subject: the offset it starts at, or npos.
    // An empty text never counts. Occurrences that start before from are
    // not looked for (a caller that searched them before); a prompt is
    // looked for only at the end.
    size_t findIn(const char* subject, size_t length, size_t from = 0) const;
    bool foundIn(const std::string& reply) const { return findIn(reply.data(), reply.size()) != std::string::npos; }

    // The pattern (a "/p/flags" string or a bare pattern) as a prompt of the
    // terminal dialogue: it matches only where it ends the output, blanks
    // after it allowed. A line end at the end of what it matched does not
    // count as a blank.
    static ExpectRegex promptPattern(const std::string& patternString);

private:
    std::string text_;
    bool prompt_ = false;
};
