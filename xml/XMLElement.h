#pragma once
#include <cstdarg>
#include <iosfwd>
#include <string>
#include <vector>

#include "xml/XMLElementIterator.h"

// XMLElement is one element of a document: its name, its text content and
// its child elements in document order. An element owns its children and
// destroys them with itself; the parent link is a plain back pointer.
// Lookups by name are exact (case-sensitive, same length) and throw
// XMLElementNotFoundException when nothing matches, so a caller can tell
// "missing" from "ambiguous" (XMLElementException).
class XMLElement {
public:
    // The parser stores only PLAIN; CDATA content is printed as a CDATA
    // section.
    enum EContentType { PLAIN = 0, CDATA = 1 };

    XMLElement();
    explicit XMLElement(const std::string& name);
    virtual ~XMLElement();
    XMLElement(const XMLElement&) = delete;
    XMLElement& operator=(const XMLElement&) = delete;

    const std::string& getName() const { return name; }
    void setName(const std::string& newName) { name = newName; }

    const std::string& getContent() const { return content; }
    EContentType getContentType() const { return contentType; }
    bool hasContent() const { return !content.empty(); }
    void setContent(const std::string& text, EContentType type);
    // Throws XMLElementException when type differs from the current type.
    void appendContent(const std::string& text, EContentType type);

    XMLElement* getParent() const { return parent; }
    void setParent(XMLElement* newParent) { parent = newParent; }

    // Takes ownership of child; the child's parent link is left to the caller.
    void addChild(XMLElement* child);
    // Gives up ownership of the first entry equal to child without destroying it.
    void removeChild(XMLElement* child);
    void removeAllChildren();

    bool isLeaf() const { return children.empty(); }
    XMLElement* getFirstChild() const;
    std::vector<XMLElement*> getChildren() const { return children; }
    std::vector<XMLElement*> getChildren(const char* childName) const;
    std::vector<XMLElement*> getChildren(const std::string& childName) const;

    // Exactly one child of that name, or XMLElementNotFoundException (none)
    // / XMLElementException (several).
    XMLElement* getChild(const char* childName) const;
    XMLElement* getChild(const std::string& childName) const;
    // getChild along the names up to a terminating nullptr.
    XMLElement* getChildv(const char* childName, ...);
    bool hasChildv(const char* childName, ...);
    // path is cut at every "."; each piece names a child of the previous
    // element, starting below this one. "" is this element itself.
    XMLElement* getChildp(const std::string& path);
    bool hasChildp(const std::string& path);

    // The caller owns the returned elements.
    XMLElement* copyWithoutChildren() const;
    XMLElement* copy() const;

    XMLElementIterator begin();

    void print(std::ostream& os) const { print(os, ""); }
    void print(std::ostream& os, const std::string& indent) const;
    std::string toString() const;
    static void printCDATAContent(std::ostream& os, const std::string& text);

private:
    XMLElement* getChildList(const char* first, va_list names);

    std::string name;
    std::string content;
    EContentType contentType = PLAIN;
    XMLElement* parent = nullptr;
    std::vector<XMLElement*> children;
};

std::ostream& operator<<(std::ostream& os, const XMLElement& element);
