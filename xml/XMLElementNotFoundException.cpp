#include "xml/XMLElementNotFoundException.h"

XMLElementNotFoundException::XMLElementNotFoundException(const char* text) : XMLElementException(text) {}
XMLElementNotFoundException::XMLElementNotFoundException(const std::string& text) : XMLElementException(text) {}
