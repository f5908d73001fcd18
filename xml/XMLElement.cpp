#include "xml/XMLElement.h"

#include <algorithm>
#include <ostream>
#include <sstream>

#include "xml/XMLElementException.h"
#include "xml/XMLElementNotFoundException.h"

XMLElement::XMLElement() = default;

XMLElement::XMLElement(const std::string& elementName) : name(elementName) {}

// Children are destroyed through a work list rather than by recursion, so a
// deeply nested tree cannot exhaust the stack on its way out.
XMLElement::~XMLElement() {
    std::vector<XMLElement*> pending;
    pending.swap(children);
    while (!pending.empty()) {
        XMLElement* element = pending.back();
        pending.pop_back();
        pending.insert(pending.end(), element->children.begin(), element->children.end());
        element->children.clear();
        delete element;
    }
}

void XMLElement::setContent(const std::string& text, EContentType type) {
    content = text;
    contentType = type;
}

void XMLElement::appendContent(const std::string& text, EContentType type) {
    if (type != contentType) throw XMLElementException("Cannot append content if Contenttypes are different!");
    content += text;
}

void XMLElement::addChild(XMLElement* child) {
    children.push_back(child);
}

void XMLElement::removeChild(XMLElement* child) {
    auto it = std::find(children.begin(), children.end(), child);
    if (it != children.end()) children.erase(it);
}

void XMLElement::removeAllChildren() {
    std::vector<XMLElement*> old;
    old.swap(children);
    for (XMLElement* child : old) delete child;
}

XMLElement* XMLElement::getFirstChild() const {
    if (children.empty()) throw XMLElementException("Can not call getFirstChild() on an leaf!");
    return children.front();
}

std::vector<XMLElement*> XMLElement::getChildren(const std::string& childName) const {
    std::vector<XMLElement*> found;
    for (XMLElement* child : children)
        if (child->name == childName) found.push_back(child);
    return found;
}

std::vector<XMLElement*> XMLElement::getChildren(const char* childName) const {
    return getChildren(std::string(childName ? childName : ""));
}

XMLElement* XMLElement::getChild(const std::string& childName) const {
    XMLElement* found = nullptr;
    for (XMLElement* child : children) {
        if (child->name != childName) continue;
        if (found) throw XMLElementException("Expected one Element but found multiple for name: " + childName);
        found = child;
    }
    if (!found) throw XMLElementNotFoundException("Element with name " + childName + " does't exists!");
    return found;
}

XMLElement* XMLElement::getChild(const char* childName) const {
    return getChild(std::string(childName ? childName : ""));
}

XMLElement* XMLElement::getChildList(const char* first, va_list names) {
    XMLElement* element = this;
    for (const char* childName = first; childName; childName = va_arg(names, const char*))
        element = element->getChild(childName);
    return element;
}

XMLElement* XMLElement::getChildv(const char* childName, ...) {
    va_list names;
    va_start(names, childName);
    try {
        XMLElement* found = getChildList(childName, names);
        va_end(names);
        return found;
    } catch (...) {
        va_end(names);
        throw;
    }
}

bool XMLElement::hasChildv(const char* childName, ...) {
    va_list names;
    va_start(names, childName);
    try {
        getChildList(childName, names);
        va_end(names);
        return true;
    } catch (const XMLElementNotFoundException&) {
        va_end(names);
        return false;
    } catch (...) {
        va_end(names);
        throw;
    }
}

XMLElement* XMLElement::getChildp(const std::string& path) {
    XMLElement* element = this;
    if (path.empty()) return element;
    size_t pieceStart = 0;
    while (true) {
        size_t dot = path.find('.', pieceStart);
        element = element->getChild(path.substr(pieceStart, dot == std::string::npos ? dot : dot - pieceStart));
        if (dot == std::string::npos) return element;
        pieceStart = dot + 1;
    }
}

bool XMLElement::hasChildp(const std::string& path) {
    try {
        getChildp(path);
        return true;
    } catch (const XMLElementNotFoundException&) {
        return false;
    }
}

XMLElement* XMLElement::copyWithoutChildren() const {
    XMLElement* twin = new XMLElement(name);
    if (!content.empty()) twin->setContent(content, contentType);
    return twin;
}

XMLElement* XMLElement::copy() const {
    XMLElement* twin = new XMLElement(name);
    twin->setContent(content, contentType);
    try {
        for (const XMLElement* child : children) {
            XMLElement* childCopy = child->copy();
            twin->addChild(childCopy);
            childCopy->setParent(twin);
        }
    } catch (...) {
        delete twin;  // a failed allocation must not leak the half-built copy
        throw;
    }
    return twin;
}

XMLElementIterator XMLElement::begin() {
    return XMLElementIterator(this);
}

void XMLElement::print(std::ostream& os, const std::string& indent) const {
    os << indent << '<' << name;
    if (!children.empty()) {
        os << ">\n";
        const std::string inner = indent + "  ";
        for (const XMLElement* child : children) child->print(os, inner);
        os << indent << "</" << name << ">\n";
    } else if (content.empty()) {
        os << "/>\n";
    } else {
        os << '>';
        if (contentType == CDATA)
            printCDATAContent(os, content);
        else
            os << content;
        os << "</" << name << ">\n";
    }
}

std::string XMLElement::toString() const {
    std::ostringstream out;
    print(out);
    return out.str();
}

void XMLElement::printCDATAContent(std::ostream& os, const std::string& text) {
    // "]]>" would end the section early: it is split across two sections.
    os << "<![CDATA[";
    size_t from = 0;
    for (size_t hit; (hit = text.find("]]>", from)) != std::string::npos; from = hit + 3)
        os << text.substr(from, hit - from) << "]]]]><![CDATA[>";
    os << text.substr(from) << "]]>";
}

std::ostream& operator<<(std::ostream& os, const XMLElement& element) {
    element.print(os);
    return os;
}
