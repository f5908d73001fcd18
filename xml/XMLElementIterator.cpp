#include "xml/XMLElementIterator.h"

#include "xml/XMLElement.h"

XMLElementIterator::XMLElementIterator(XMLElement* start) {
    // Pre-order with an explicit stack: children are pushed in reverse so
    // the first child is visited first.
    std::vector<XMLElement*> stack;
    if (start) stack.push_back(start);
    while (!stack.empty()) {
        XMLElement* element = stack.back();
        stack.pop_back();
        elements.push_back(element);
        std::vector<XMLElement*> children = element->getChildren();
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
}

XMLElement* XMLElementIterator::operator*() const {
    return cursor < elements.size() ? elements[cursor] : nullptr;
}

XMLElementIterator& XMLElementIterator::operator++() {
    if (cursor < elements.size()) ++cursor;
    return *this;
}

XMLElementIterator XMLElementIterator::operator++(int) {
    XMLElementIterator before = *this;
    ++*this;
    return before;
}

XMLElement* XMLElementIterator::next() {
    ++*this;
    return **this;
}
