#include "util/ExpectException.h"

ExpectException::ExpectException(const char* text) : message(text ? text : "") {}

ExpectException::ExpectException(const std::string& text) : message(text) {}

ExpectException::~ExpectException() = default;

const char* ExpectException::what() const {
    return message.c_str();
}
