#include "xml/XMLParser.h"

#include <fstream>
#include <istream>

#include "xml/XMLElement.h"
#include "xml/XMLParserException.h"

XMLParser::~XMLParser() {
    delete root;
}

void XMLParser::reset() {
    delete root;
    root = current = nullptr;
    scanState = Normal;
    depth = 0;
    lines = 0;
}

XMLElement* XMLParser::load(const std::string& path) {
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in.is_open()) {
        reset();
        throw XMLParserException("Could not open file: " + path);
    }
    return read(in, path);
}

XMLElement* XMLParser::read(std::istream& in, const std::string& source) {
    reset();
    std::string line;
    while (std::getline(in, line)) {
        ++lines;
        parseLine(line);
    }
    // A directory opens like a file but cannot be read.
    if (in.bad()) throw XMLParserException("Could not read file: " + source);
    checkComplete(source);
    return root->copy();
}

void XMLParser::checkComplete(const std::string& source) const {
    if (!root) throw XMLParserException("No element found in " + source);
    // An element still open at the end means the file was cut short: its
    // last values may be missing or empty, so the tree cannot be trusted.
    if (current) {
        std::string message = "Unexpected end of " + source + ": element '" + current->getName() + "' is not closed";
        if (scanState == InComment) message += " (a comment is still open)";
        if (scanState == InInstruction) message += " (a processing instruction is still open)";
        throw XMLParserException(message);
    }
}

// Inside a comment or processing instruction (possibly opened on an earlier
// line) everything up to its end marker is skipped. Finds the marker at or
// after search and moves search just past it; false when the line ends first.
bool XMLParser::skipPastEndMarker(const std::string& line, size_t& search) {
    const char* marker = scanState == InComment ? "-->" : "?>";
    size_t hit = line.find(marker, search);
    if (hit == std::string::npos) return false;
    search = hit + (scanState == InComment ? 3 : 2);
    scanState = Normal;
    return true;
}

void XMLParser::parseLine(const std::string& line) {
    size_t search = 0;
    size_t textStart = 0;
    while (true) {
        if (scanState != Normal) {
            if (!skipPastEndMarker(line, search)) return;
            textStart = search;
            continue;
        }
        size_t open = line.find('<', search);
        if (open == std::string::npos) return;
        if (line.compare(open + 1, 3, "!--") == 0) {
            scanState = InComment;
            search = open + 3;
            continue;
        }
        char kind = open + 1 < line.size() ? line[open + 1] : '\0';
        if (kind == '?') {
            scanState = InInstruction;
            search = open + 2;
            continue;
        }
        size_t close = line.find('>', open + 1);
        if (close == std::string::npos) throw XMLParserException("End of tag missing near line: " + line);
        try {
            if (kind == '/') {
                if (current && current->isLeaf())
                    current->setContent(line.substr(textStart, open - textStart), XMLElement::PLAIN);
                handleTagFound(line.substr(open + 2, close - open - 2), false);
            } else {
                handleTagFound(line.substr(open + 1, close - open - 1), true);
            }
        } catch (const XMLParserException& e) {
            throw XMLParserException("Error '" + std::string(e.what()) + "' near line:" + line);
        }
        search = textStart = close + 1;
    }
}

void XMLParser::handleTagFound(const std::string& tag, bool opening) {
    if (!opening) {
        if (!current) throw XMLParserException("End tag '" + tag + "' found but no element is open");
        if (tag != current->getName())
            throw XMLParserException("Expect end tag: '" + current->getName() + "' but found: '" + tag + "'");
        current = current->getParent();
        --depth;
        return;
    }
    if (depth >= maxDepth)
        throw XMLParserException("Elements nested deeper than " + std::to_string(maxDepth) + " levels");
    XMLElement* element = new XMLElement(tag);
    if (!current) {
        // A second top-level element replaces the first document.
        delete root;
        root = element;
    } else {
        current->addChild(element);
        element->setParent(current);
    }
    current = element;
    ++depth;
}
