// The element tree: lookups by name and dotted path, content, ownership,
// copies, printing and the document-order iterator.
#include "xml/XMLElement.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "xml/XMLElementException.h"
#include "xml/XMLElementIterator.h"
#include "xml/XMLElementNotFoundException.h"

namespace {

// Adds a child with its parent link, as the parser does.
XMLElement* add(XMLElement& parent, const std::string& name, const std::string& content = "") {
    XMLElement* child = new XMLElement(name);
    if (!content.empty()) child->setContent(content, XMLElement::PLAIN);
    parent.addChild(child);
    child->setParent(&parent);
    return child;
}

// config { x=1, twin=a, twin=b, "" { deep=d }, sub { leaf=l } }
std::unique_ptr<XMLElement> sampleTree() {
    auto root = std::make_unique<XMLElement>("config");
    add(*root, "x", "1");
    add(*root, "twin", "a");
    add(*root, "twin", "b");
    add(*add(*root, ""), "deep", "d");
    add(*add(*root, "sub"), "leaf", "l");
    return root;
}

template <typename Fn>
std::string thrownMessage(Fn fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(XMLElement, LookupByNameIsExactAndTellsMissingFromAmbiguous) {
    auto root = sampleTree();
    EXPECT_EQ(root->getChild("x")->getContent(), "1");
    EXPECT_EQ(root->getChild(std::string("x")), root->getChild("x"));
    EXPECT_THROW(root->getChild("X"), XMLElementNotFoundException) << "names are case-sensitive";
    EXPECT_THROW(root->getChild("x "), XMLElementNotFoundException);
    EXPECT_EQ(thrownMessage([&] { root->getChild("nope"); }), "Element with name nope does't exists!");

    // Two children of one name: getChild refuses, getChildren returns both in order.
    try {
        root->getChild("twin");
        ADD_FAILURE() << "no exception for an ambiguous name";
    } catch (const XMLElementNotFoundException&) {
        ADD_FAILURE() << "ambiguous must not look like missing";
    } catch (const XMLElementException& e) {
        EXPECT_STREQ(e.what(), "Expected one Element but found multiple for name: twin");
    }
    auto twins = root->getChildren("twin");
    ASSERT_EQ(twins.size(), 2u);
    EXPECT_EQ(twins[0]->getContent(), "a");
    EXPECT_EQ(twins[1]->getContent(), "b");
    EXPECT_EQ(root->getChildren(std::string("none")).size(), 0u);
    EXPECT_EQ(root->getChildren().size(), 5u);
}

TEST(XMLElement, DottedPathsStartBelowTheElement) {
    auto root = sampleTree();
    EXPECT_EQ(root->getChildp("x")->getContent(), "1");
    EXPECT_EQ(root->getChildp("sub.leaf")->getContent(), "l");
    EXPECT_EQ(root->getChildp(""), root.get());
    EXPECT_THROW(root->getChildp("config.x"), XMLElementNotFoundException) << "the element itself is not named";
    // Empty pieces name a child with an empty name.
    EXPECT_EQ(root->getChildp(".deep")->getContent(), "d");
    EXPECT_THROW(root->getChildp("sub..leaf"), XMLElementNotFoundException);
    EXPECT_THROW(root->getChildp("sub.leaf."), XMLElementNotFoundException);

    EXPECT_TRUE(root->hasChildp("sub.leaf"));
    EXPECT_FALSE(root->hasChildp("sub.other"));
    EXPECT_FALSE(root->hasChildp("x.y"));
    EXPECT_THROW(root->hasChildp("twin"), XMLElementException) << "only a missing element is false";

    EXPECT_EQ(root->getChildv("sub", "leaf", nullptr)->getContent(), "l");
    EXPECT_EQ(root->getChildv(nullptr), root.get());
    EXPECT_TRUE(root->hasChildv("sub", "leaf", nullptr));
    EXPECT_FALSE(root->hasChildv("sub", "nope", nullptr));
    EXPECT_THROW(root->getChildv("sub", "nope", nullptr), XMLElementNotFoundException);
    EXPECT_THROW(root->hasChildv("twin", nullptr), XMLElementException);
}

TEST(XMLElement, ContentAndItsType) {
    XMLElement e("n");
    EXPECT_EQ(e.getName(), "n");
    EXPECT_FALSE(e.hasContent());
    EXPECT_EQ(e.getContentType(), XMLElement::PLAIN);
    e.appendContent("ab", XMLElement::PLAIN);
    e.appendContent("cd", XMLElement::PLAIN);
    EXPECT_EQ(e.getContent(), "abcd");
    EXPECT_EQ(thrownMessage([&] { e.appendContent("x", XMLElement::CDATA); }),
              "Cannot append content if Contenttypes are different!");
    EXPECT_THROW(e.appendContent("x", XMLElement::CDATA), XMLElementException);
    EXPECT_EQ(e.getContent(), "abcd");
    e.setContent("new", XMLElement::CDATA);
    EXPECT_EQ(e.getContentType(), XMLElement::CDATA);
    e.appendContent("er", XMLElement::CDATA);
    EXPECT_EQ(e.getContent(), "newer");
    std::string renamed = "m";
    e.setName(renamed);
    EXPECT_EQ(e.getName(), "m");

    EXPECT_TRUE(e.isLeaf());
    EXPECT_EQ(thrownMessage([&] { e.getFirstChild(); }), "Can not call getFirstChild() on an leaf!");
    EXPECT_THROW(e.getFirstChild(), XMLElementException);
}

TEST(XMLElement, OwnershipRemovalAndCopies) {
    auto root = sampleTree();
    XMLElement* sub = root->getChild("sub");
    root->removeChild(sub);
    EXPECT_FALSE(root->hasChildp("sub"));
    EXPECT_EQ(sub->getChild("leaf")->getContent(), "l") << "removed, not destroyed";
    root->removeChild(sub);  // no longer a child: nothing happens
    EXPECT_EQ(root->getChildren().size(), 4u);
    delete sub;

    // Removing one of two equal pointers takes only the first entry out.
    XMLElement holder("h");
    XMLElement* shared = new XMLElement("s");
    holder.addChild(shared);
    holder.addChild(shared);
    holder.removeChild(shared);
    EXPECT_EQ(holder.getChildren().size(), 1u);

    auto twin = std::unique_ptr<XMLElement>(root->copy());
    EXPECT_EQ(twin->toString(), root->toString());
    EXPECT_EQ(twin->getParent(), nullptr);
    for (XMLElement* child : twin->getChildren()) EXPECT_EQ(child->getParent(), twin.get());
    XMLElement* deepCopy = twin->getChildp(".deep");
    EXPECT_NE(deepCopy, root->getChildp(".deep"));
    EXPECT_EQ(deepCopy->getParent()->getParent(), twin.get());
    root.reset();
    EXPECT_EQ(twin->getChild("x")->getContent(), "1") << "the copy does not share elements";

    XMLElement cdata("c");
    cdata.setContent("v", XMLElement::CDATA);
    add(cdata, "kid");
    auto bare = std::unique_ptr<XMLElement>(cdata.copyWithoutChildren());
    EXPECT_TRUE(bare->isLeaf());
    EXPECT_EQ(bare->getContent(), "v");
    EXPECT_EQ(bare->getContentType(), XMLElement::CDATA);

    twin->removeAllChildren();
    EXPECT_TRUE(twin->isLeaf());
}

TEST(XMLElement, PrintingIndentsChildrenAndClosesEmptyLeaves) {
    XMLElement root("config");
    add(root, "x", "1");
    add(root, "y");
    EXPECT_EQ(root.toString(), "<config>\n  <x>1</x>\n  <y/>\n</config>\n");
    std::ostringstream viaOperator, viaPrint;
    viaOperator << root;
    root.print(viaPrint);
    EXPECT_EQ(viaOperator.str(), root.toString());
    EXPECT_EQ(viaPrint.str(), root.toString());
    std::ostringstream indented;
    root.getChild("x")->print(indented, "    ");
    EXPECT_EQ(indented.str(), "    <x>1</x>\n");

    XMLElement raw("r");
    raw.setContent("a<b&c", XMLElement::PLAIN);
    EXPECT_EQ(raw.toString(), "<r>a<b&c</r>\n") << "plain content is written as stored";

    std::ostringstream section;
    XMLElement::printCDATAContent(section, "x]]>y]]>");
    EXPECT_EQ(section.str(), "<![CDATA[x]]]]><![CDATA[>y]]]]><![CDATA[>]]>");
    XMLElement cdata("c");
    cdata.setContent("1]]>2", XMLElement::CDATA);
    EXPECT_EQ(cdata.toString(), "<c><![CDATA[1]]]]><![CDATA[>2]]></c>\n");
}

TEST(XMLElement, IteratorWalksInDocumentOrder) {
    auto root = sampleTree();
    std::vector<std::string> seen;
    for (XMLElementIterator it = root->begin(); it; ++it) seen.push_back((*it)->getName());
    EXPECT_EQ(seen, (std::vector<std::string>{"config", "x", "twin", "twin", "", "deep", "sub", "leaf"}));

    XMLElementIterator it(root->getChild("sub"));
    XMLElementIterator before = it++;
    EXPECT_EQ((*before)->getName(), "sub");
    EXPECT_EQ((*it)->getName(), "leaf");
    EXPECT_TRUE(static_cast<bool>(it));
    EXPECT_EQ(it.next(), nullptr);
    EXPECT_FALSE(static_cast<bool>(it));
    EXPECT_EQ(*it, nullptr);
    EXPECT_EQ(it.next(), nullptr) << "stays past the end";

    XMLElementIterator single(root->getChild("x"));
    EXPECT_EQ((*single)->getContent(), "1");
    EXPECT_EQ(single.next(), nullptr);
    XMLElementIterator none(nullptr);
    EXPECT_FALSE(static_cast<bool>(none));
}
