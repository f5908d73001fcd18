#pragma once
#include <string>

// ExpectException is the one exception the expect engine raises: a fixed
// message naming what went wrong (a write to an ended child, the end of the
// child's output, a failed wait). The connections that drive the engine
// catch it at their edge; it never travels further.
class ExpectException {
public:
    explicit ExpectException(const char* text);
    explicit ExpectException(const std::string& text);
    virtual ~ExpectException();

    virtual const char* what() const;

    std::string message;
};
