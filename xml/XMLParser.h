#pragma once
#include <iosfwd>
#include <string>

class XMLElement;

// XMLParser reads the narrow, line-oriented XML dialect of the settings
// file: elements with text or child elements, comments and processing
// instructions (both may span lines). There are no attributes, empty-element
// tags, entities or CDATA sections, and a tag never spans lines: the whole
// text between "<" and ">" is the element name, and an element's text is
// taken from the line of its end tag only, byte for byte.
//
// Failures throw XMLParserException. The parser owns the tree it builds
// (also a partial one after a failure) and destroys it with itself; load()
// hands the caller a deep copy.
class XMLParser {
public:
    // Deeper nesting is rejected so that printing and copying a tree, which
    // recurse, stay within the stack whatever the input.
    static constexpr unsigned maxDepth = 256;

    XMLParser() = default;
    virtual ~XMLParser();
    XMLParser(const XMLParser&) = delete;
    XMLParser& operator=(const XMLParser&) = delete;

    // Reads the file line by line (split at "\n"). Throws XMLParserException
    // when it cannot be opened or read, holds no element, leaves an element
    // open at its end (a truncated file), or breaks the dialect. The caller
    // owns the returned tree.
    XMLElement* load(const std::string& path);
    // load() on an open stream; source names it in messages.
    XMLElement* read(std::istream& in, const std::string& source);

    void parseLine(const std::string& line);
    void handleTagFound(const std::string& tag, bool opening);

    // The line load()/read() reached, counted from 1; tells an operator where
    // a rejected file went wrong without quoting its text.
    unsigned lineNumber() const { return lines; }

private:
    enum ScanState { Normal = 1, InComment = 2, InInstruction = 4 };

    void reset();
    bool skipPastEndMarker(const std::string& line, size_t& search);
    void checkComplete(const std::string& source) const;

    XMLElement* root = nullptr;
    XMLElement* current = nullptr;
    int scanState = Normal;
    unsigned depth = 0;
    unsigned lines = 0;
};
