#pragma once
#include <cstddef>
#include <vector>

class XMLElement;

// XMLElementIterator walks an element and all its descendants in document
// order (an element before its children). The order is fixed when the
// iterator is built: the tree must outlive the iterator and must not lose
// elements while it is in use.
class XMLElementIterator {
public:
    explicit XMLElementIterator(XMLElement* start);
    virtual ~XMLElementIterator() = default;

    // The element at the cursor; nullptr once the cursor is past the end.
    XMLElement* operator*() const;
    XMLElementIterator& operator++();
    XMLElementIterator operator++(int);
    explicit operator bool() const { return cursor < elements.size(); }
    // Advances and returns the element now at the cursor, or nullptr.
    XMLElement* next();

private:
    std::vector<XMLElement*> elements;
    size_t cursor = 0;
};
