#include "xml/XMLElementException.h"

XMLElementException::XMLElementException(const char* text) : XMLParserException(text) {}
XMLElementException::XMLElementException(const std::string& text) : XMLParserException(text) {}
