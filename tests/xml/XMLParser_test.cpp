// The XML dialect of the settings file: tree building, text, comments and
// processing instructions, errors, and files that must be refused.
#include "xml/XMLParser.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "tests/support/TestSupport.h"
#include "xml/XMLElement.h"
#include "xml/XMLElementException.h"
#include "xml/XMLParserException.h"

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::unique_ptr<XMLElement> parse(const std::string& text) {
    XMLParser parser;
    std::istringstream in(text);
    return std::unique_ptr<XMLElement>(parser.read(in, "test"));
}

// The message of the XMLParserException that parsing text throws, "" when
// none is thrown; other exception types fail the test.
std::string parseError(const std::string& text) {
    try {
        parse(text);
    } catch (const XMLElementException& e) {
        ADD_FAILURE() << "element exception instead of a parser exception: " << e.what();
    } catch (const XMLParserException& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(XMLParser, NestingAndContentOnOneLine) {
    auto root = parse("<config><x>1</x></config>");
    EXPECT_EQ(root->getName(), "config");
    EXPECT_EQ(root->getParent(), nullptr);
    ASSERT_EQ(root->getChildren().size(), 1u);
    XMLElement* x = root->getFirstChild();
    EXPECT_EQ(x->getName(), "x");
    EXPECT_EQ(x->getContent(), "1");
    EXPECT_EQ(x->getContentType(), XMLElement::PLAIN);
    EXPECT_EQ(x->getParent(), root.get());
    EXPECT_FALSE(root->hasContent()) << "an element with children keeps no text";

    auto deep = parse("<a>\n  <b>\n    <c>v</c>\n    <d>w</d>\n  </b>\n  <e>z</e>\n</a>\n");
    EXPECT_EQ(deep->toString(), "<a>\n  <b>\n    <c>v</c>\n    <d>w</d>\n  </b>\n  <e>z</e>\n</a>\n");
    EXPECT_EQ(deep->getChildp("b.d")->getParent()->getParent(), deep.get());
}

TEST(XMLParser, TextIsTakenFromTheEndTagLineByteForByte) {
    auto root = parse(
        "<r>\n"
        "<blanks>  padded value </blanks>\n"
        "<raw>a &amp; b &lt;c&gt; ]]&gt;</raw>\n"
        "<empty></empty>\n"
        "<later>\n"
        "</later>\n"
        "<multi>first line\n"
        "second line</multi>\n"
        "<crlf>v</crlf>\r\n"
        "<parent>ignored<kid>k</kid>also ignored</parent>\n"
        "</r>");
    EXPECT_EQ(root->getChild("blanks")->getContent(), "  padded value ");
    EXPECT_EQ(root->getChild("raw")->getContent(), "a &amp; b &lt;c&gt; ]]&gt;") << "no entity decoding";
    EXPECT_EQ(root->getChild("empty")->getContent(), "");
    EXPECT_EQ(root->getChild("later")->getContent(), "") << "end tag at the start of its line";
    EXPECT_EQ(root->getChild("multi")->getContent(), "second line") << "only the end tag's line counts";
    EXPECT_EQ(root->getChild("crlf")->getContent(), "v");
    EXPECT_FALSE(root->getChild("parent")->hasContent());
    EXPECT_EQ(root->getChildp("parent.kid")->getContent(), "k");
}

TEST(XMLParser, CommentsAndProcessingInstructionsAddNothing) {
    auto root = parse(
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
        "<!-- header comment -->\n"
        "<r>\n"
        "  <!-- <ghost>1</ghost> -->\n"
        "  <a><!-- c -->after</a>\n"
        "  <b><? pi ?>x</b><!-- trailing -->\n"
        "  <!-- spans\n"
        "       a line without any tag\n"
        "       <ghost2>2</ghost2>\n"
        "  -->\n"
        "  <c>3</c>\n"
        "  <?multi-line\n"
        "     instruction <ghost3>\n"
        "  ?><d>4</d>\n"
        "  <!-- ends before a tag on its last line\n"
        "  --><e>5</e>\n"
        "</r>\n"
        "<!-- after the document -->\n");
    std::vector<std::string> names;
    for (XMLElement* child : root->getChildren()) names.push_back(child->getName());
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(root->getChild("a")->getContent(), "after") << "text starts right after the comment";
    EXPECT_EQ(root->getChild("b")->getContent(), "x");
    EXPECT_EQ(root->getChild("d")->getContent(), "4");
    EXPECT_EQ(root->getChild("e")->getContent(), "5");
}

TEST(XMLParser, DialectErrorsWithTheirMessages) {
    EXPECT_EQ(parseError("<config>\n<x>1</x\n</config>"), "End of tag missing near line: <x>1</x");
    EXPECT_EQ(parseError("<config"), "End of tag missing near line: <config");
    EXPECT_EQ(parseError("<a><b></a></b>"), "Error 'Expect end tag: 'b' but found: 'a'' near line:<a><b></a></b>");
    // The whole tag text is the name, so an attribute makes the end tag a mismatch.
    EXPECT_EQ(parseError("<r>\n<x id=\"1\">v</x>\n</r>"),
              "Error 'Expect end tag: 'x id=\"1\"' but found: 'x'' near line:<x id=\"1\">v</x>");
    EXPECT_EQ(parseError("<X>v</x>"), "Error 'Expect end tag: 'X' but found: 'x'' near line:<X>v</x>");
    EXPECT_NE(parseError("<r><a/></r>"), "") << "no empty-element tags";
    // An end tag with nothing open, before the first element or after the root.
    EXPECT_NE(parseError("</r>"), "");
    EXPECT_NE(parseError("<r></r>\n</r>"), "");
    EXPECT_NE(parseError("</>"), "");
}

TEST(XMLParser, SecondRootReplacesTheFirst) {
    auto root = parse("<first><a>1</a></first>\n<second><b>2</b></second>\n");
    EXPECT_EQ(root->getName(), "second");
    EXPECT_EQ(root->getChild("b")->getContent(), "2");
    EXPECT_FALSE(root->hasChildp("a"));
}

TEST(XMLParser, DocumentsWithoutACompleteTreeAreRefused) {
    EXPECT_NE(parseError(""), "");
    EXPECT_NE(parseError("just text\nno tags at all\n"), "");
    EXPECT_NE(parseError("<?xml version=\"1.0\"?>\n<!-- only a comment -->\n"), "");
    // A file cut short leaves elements open; their last values could be lost.
    EXPECT_NE(parseError("<r>\n<config>\n<a>1</a>\n"), "");
    EXPECT_NE(parseError("<r>\n<a>1</a>\n<b>12"), "");
    EXPECT_NE(parseError("<r>\n<a>1</a>\n<!-- never closed\n</r>\n"), "");
    // An unclosed comment after the complete document loses nothing.
    EXPECT_EQ(parse("<r><a>1</a></r>\n<!-- unfinished\n")->getChild("a")->getContent(), "1");
}

TEST(XMLParser, NestingDepthIsBounded) {
    auto nested = [](unsigned levels) {
        std::string text;
        for (unsigned i = 0; i < levels; ++i) text += "<e>";
        text += "v";
        for (unsigned i = 0; i < levels; ++i) text += "</e>";
        return text;
    };
    auto root = parse(nested(XMLParser::maxDepth));
    std::string path = "e";
    for (unsigned i = 2; i < XMLParser::maxDepth; ++i) path += ".e";
    EXPECT_EQ(root->getChildp(path)->getContent(), "v");
    EXPECT_NE(parseError(nested(XMLParser::maxDepth + 1)), "");
    // 10 MB of start tags: refused at the limit, not by exhausting the stack.
    std::string flood;
    while (flood.size() < 10 * 1024 * 1024) flood += "<e>";
    EXPECT_EQ(parseError(flood).find("Error 'Elements nested deeper than 256 levels' near line:"), 0u);
}

TEST(XMLParser, LoadReadsFilesAndRefusesWhatItCannotRead) {
    TempDir dir;
    writeFile(dir.file("ok.xml"), "<r>\n  <a>1</a>\n</r>\n");
    XMLParser parser;
    std::unique_ptr<XMLElement> tree(parser.load(dir.file("ok.xml")));
    EXPECT_EQ(parser.lineNumber(), 3u);
    EXPECT_EQ(tree->getChild("a")->getContent(), "1");
    EXPECT_EQ(tree->getChild("a")->getParent(), tree.get()) << "the copy links to its own elements";

    // The caller's tree is a copy: it outlives the parser and a second load.
    std::unique_ptr<XMLElement> kept;
    {
        XMLParser shortLived;
        kept.reset(shortLived.load(dir.file("ok.xml")));
        std::unique_ptr<XMLElement> again(shortLived.load(dir.file("ok.xml")));
    }
    EXPECT_EQ(kept->toString(), tree->toString());

    writeFile(dir.file("empty.xml"), "");
    writeFile(dir.file("bad.xml"), "<r>\n<a>1</b>\n</r>\n");
    testsupport::makeDirs(dir.file("directory.xml"));
    for (const char* name : {"missing.xml", "empty.xml", "bad.xml", "directory.xml"}) {
        XMLParser p;
        EXPECT_THROW(p.load(dir.file(name)), XMLParserException) << name;
    }
    XMLParser failing;
    EXPECT_THROW(failing.load(dir.file("bad.xml")), XMLParserException);
    EXPECT_EQ(failing.lineNumber(), 2u) << "the line that broke the dialect";
}

TEST(XMLParser, BinaryGarbageNeverCrashes) {
    // Byte patterns rich in the scanner's markers; every outcome is either a
    // tree or an XMLParserException.
    const std::string alphabet = std::string("<>/!-?x\n\0\xff ", 12);
    uint32_t state = 12345;
    for (int round = 0; round < 200; ++round) {
        std::string text;
        size_t length = 1 + round * 37 % 2000;
        for (size_t i = 0; i < length; ++i) {
            state = state * 1103515245u + 12345u;
            text += alphabet[(state >> 16) % alphabet.size()];
        }
        try {
            auto root = parse(text);
            EXPECT_NE(root, nullptr);
            root->toString();
        } catch (const XMLParserException&) {
        }
    }
}
