#pragma once
#include <string>

#include "xml/XMLParserException.h"

// XMLElementException reports a misuse of the element tree: a lookup that
// finds several elements where one was asked for, getFirstChild() on a leaf,
// or appending content of another type.
class XMLElementException : public XMLParserException {
public:
    explicit XMLElementException(const char* message);
    explicit XMLElementException(const std::string& message);
};
