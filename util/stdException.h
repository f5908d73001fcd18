#pragma once
#include <string>

// stdException is a small exception value: a message and a sub-code.
class stdException {
public:
    stdException();
    explicit stdException(const std::string& message, int subCode = 0);

    const char* show() const { return message.c_str(); }
    int showSub() const { return subCode; }
    stdException& setSub(int code);
    stdException& add(const std::string& text);
    stdException& add(const char* text);

private:
    std::string message;
    int subCode;
};
