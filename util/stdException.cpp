#include "util/stdException.h"

stdException::stdException() : message("Undefined error occured."), subCode(0) {}
stdException::stdException(const std::string& text, int code) : message(text), subCode(code) {}

stdException& stdException::setSub(int code) {
    subCode = code;
    return *this;
}

stdException& stdException::add(const std::string& text) {
    message += text;
    return *this;
}

stdException& stdException::add(const char* text) {
    if (text) message += text;
    return *this;
}
