#include "xml/XMLParserException.h"

XMLParserException::XMLParserException(const char* text) : message(text ? text : "") {}
XMLParserException::XMLParserException(const std::string& text) : message(text) {}
