#pragma once
#include <string>

#include "xml/XMLElementException.h"

// XMLElementNotFoundException: a lookup by name or path found no element.
// The has... lookups turn exactly this exception (not its bases) into false.
class XMLElementNotFoundException : public XMLElementException {
public:
    explicit XMLElementNotFoundException(const char* message);
    explicit XMLElementNotFoundException(const std::string& message);
};
