#pragma once
#include <exception>
#include <string>

// XMLParserException reports a document the parser cannot read (a tag without
// its ">", an end tag that closes the wrong element, a file that cannot be
// opened). It is the base of the element-tree exceptions, so one catch of
// XMLParserException covers every failure of the xml/ library.
class XMLParserException : public std::exception {
public:
    explicit XMLParserException(const char* message);
    explicit XMLParserException(const std::string& message);

    const char* what() const noexcept override { return message.c_str(); }

private:
    std::string message;
};
