// The XML reader: description files written here, read from memory and from
// disk; what it accepts and refuses held against xmllint, and the trees it
// builds against Python's xml.etree on the same files.
#include "bulk/kaxml.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "kamessages.h"
#include "recordsetcheck.h"
#include "support/errorscope.h"
#include "support/platformtest.h"
#include "support/u16.h"

namespace {

using katest::u16;

// UTF-8 of n UTF-16 units.
std::string text(const uint16_t* s, uint64_t n)
{
    if (s == nullptr)
        return "<null>";
    std::string out;
    for (uint64_t i = 0; i < n; ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < n)
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Element in document order as "prefix:name[a=v,b=w]{text}", children
// nested in parentheses.
std::string flatten(const KaXmlNode* node)
{
    std::string out;
    if (node->prefix != nullptr)
        out += text(node->prefix, node->prefixLength) + ":";
    out += text(node->name, node->nameLength) + "[";
    uint64_t cursor = 0;
    bool first = true;
    for (KaXmlAttribute* a = node->firstAttribute(cursor); a != nullptr; a = node->nextAttribute(cursor)) {
        out += first ? "" : ",";
        first = false;
        if (a->prefix != nullptr)
            out += text(a->prefix, a->prefixLength) + ":";
        out += text(a->name, a->nameLength) + "=" + text(a->value, a->valueLength);
    }
    out += "]";
    if (node->text != nullptr)
        out += "{" + text(node->text, node->textLength) + "}";
    if (node->children.count > 0) {
        out += "(";
        for (KaXmlNode* c = node->firstChild(cursor); c != nullptr; c = node->nextChild(cursor))
            out += flatten(c);
        out += ")";
    }
    return out;
}

struct Parsed {
    int32_t status = 1;
    std::string tree;
    std::vector<uint16_t> natives;
    std::vector<std::string> messages;
};

Parsed parse(const std::string& doc)
{
    katest::ErrorScope scope;
    Parsed p;
    KaXmlNode* root = nullptr;
    p.status = xmlParseBuffer(&root, doc.data(), doc.size());
    if (p.status == 0) {
        p.tree = flatten(root);
        xmlNodeFree(root);
    } else {
        EXPECT_EQ(root, nullptr);
    }
    for (size_t i = 0; i < scope.size(); ++i) {
        p.natives.push_back(scope.native(i));
        p.messages.push_back(scope.text(i));
    }
    return p;
}

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

class XmlReader : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
};

struct Good {
    const char* doc;
    const char* tree;
};

TEST_F(XmlReader, ReadsWellFormedDocuments)
{
    const Good cases[] = {
        {"<table name=\"t\"><column type=\"INTEGER\">\"my col\"</column></table>",
         "table[name=t](column[type=INTEGER]{my col})"},
        {"<c>  word  </c>", "c[]{word}"},
        {"<c>a  b\nc</c>", "c[]{a  b\nc}"},
        // An apostrophe is ordinary text, in element content and values.
        {"<c>owner's</c>", "c[]{owner's}"},
        {"<c v='it\"s'>`x`</c>", "c[v=it\"s]{`x`}"},
        {"<c v=\"a&amp;b&lt;&gt;&quot;&apos;\">&#65;&#x42;&amp;lt;</c>", "c[v=a&b<>\"']{AB&lt;}"},
        {"<c>\"</c>", "c[]{\"}"},
        {"<c>\"\"</c>", "c[]{}"},
        {"<x:t xmlns:x=\"u\"><x:r/></x:t>", ""},  // empty-element tags are refused
        {"<t><!-- before --><r>1</r><!-- between --><r>2</r><!-- after --></t>", "t[](r[]{1}r[]{2})"},
        {"<t\n  a = \"1\"\tb=\"2\" ></t  >", "t[a=1,b=2]"},
        {"<p:t p:a=\"1\"></p:t>", "p:t[p:a=1]"},
        {"<t>caf\xC3\xA9</t>", "t[]{caf\xC3\xA9}"},
    };
    for (const Good& c : cases) {
        SCOPED_TRACE(c.doc);
        Parsed p = parse(kDecl + c.doc + "\n<!-- trailer -->\n");
        if (*c.tree == '\0') {
            EXPECT_EQ(p.status, 1);
            continue;
        }
        ASSERT_EQ(p.status, 0) << (p.messages.empty() ? "" : p.messages[0]);
        EXPECT_EQ(p.tree, c.tree);
        EXPECT_TRUE(p.natives.empty());
    }
}

TEST_F(XmlReader, DocumentWithoutDeclarationKeepsItsElement)
{
    Parsed p = parse("<table><row>1</row><row>2</row></table>");
    ASSERT_EQ(p.status, 0);
    EXPECT_EQ(p.tree, "table[](row[]{1}row[]{2})");
}

TEST_F(XmlReader, PositionsCountFromAfterTheByteOrderMark)
{
    std::string doc = "\xEF\xBB\xBF" + kDecl + "<t><c>1</c></t>";
    KaXmlNode* root = nullptr;
    katest::ErrorScope scope;
    ASSERT_EQ(xmlParseBuffer(&root, doc.data(), doc.size()), 0);
    EXPECT_EQ(root->position, int64_t(kDecl.size()));
    uint64_t cursor = 0;
    EXPECT_EQ(root->firstChild(cursor)->position, int64_t(kDecl.size() + 3));
    EXPECT_EQ(root->parent, nullptr);
    EXPECT_EQ(root->firstChild(cursor)->parent, root);
    xmlNodeFree(root);
}

struct Bad {
    const char* doc;  // after the declaration
    uint16_t native;
    int64_t offset;  // of the first record, from the document's start; -1: not checked
    const char* shown;
};

TEST_F(XmlReader, RefusesMalformedDocumentsWithTheOffset)
{
    const size_t d = kDecl.size();
    const Bad cases[] = {
        {"<a/>", MSG_SYNTAX_ERROR_AT_IN, int64_t(d + 2), "/>"},
        {"<a>x</A>", MSG_SYNTAX_ERROR_AT_IN, int64_t(d + 6), "A>"},
        {"<a>x<b>1</b></a>", MSG_SYNTAX_ERROR_AT_IN, int64_t(d + 5), "b>1</b></a>"},
        {"<a><b>1</b>x</a>", MSG_SYNTAX_ERROR_AT_IN, int64_t(d + 11), "x</a>"},
        // An element left open at the end of the input.
        {"<a><b>1</b>", MSG_SYNTAX_ERROR_AT_IN, int64_t(d + 11), ""},
        {"<a>&nbsp;</a>", MSG_SYNTAX_ERROR_AT_IN, int64_t(d + 3), "&nbsp;</a>"},
        {"<a>a & b</a>", MSG_SYNTAX_ERROR_AT_IN, int64_t(d + 5), "& b</a>"},
        {"<a>&#0;</a>", MSG_SYNTAX_ERROR_AT_IN, int64_t(d + 3), "&#0;</a>"},
        {"<a v=\"1\" v=\"2\"></a>", MSG_SYNTAX_ERROR_AT_IN, int64_t(d + 9), "v=\"2\"></a>"},
        {"<a v=\"<\"></a>", MSG_SYNTAX_ERROR_AT_IN, int64_t(d + 6), "<\"></a>"},
        {"<a v=`1`></a>", MSG_SYNTAX_ERROR_AT_IN, int64_t(d + 5), "`1`></a>"},
        {"<a v=\"1></a>", MSG_SYNTAX_ERROR_AT_IN, -1, ""},
        {"<a v=\"1\"w=\"2\"></a>", MSG_SYNTAX_ERROR_AT_IN, -1, ""},
        {"<a></a><b></b>", MSG_SYNTAX_ERROR_AT_IN, int64_t(d + 7), "<b></b>"},
        {"<a></a>junk", MSG_SYNTAX_ERROR_AT_IN, int64_t(d + 7), "junk"},
        {"<!DOCTYPE a><a></a>", MSG_SYNTAX_ERROR_AT_IN, -1, ""},
        {"<a><![CDATA[x]]></a>", MSG_SYNTAX_ERROR_AT_IN, -1, ""},
        {"<a><?pi x?></a>", MSG_SYNTAX_ERROR_AT_IN, -1, ""},
        {"<a><!-- a -- b --></a>", MSG_SYNTAX_ERROR_AT_IN, -1, ""},
        {"<a><!-- open </a>", MSG_SYNTAX_ERROR_AT_IN, -1, ""},
        {"<a>]]></a>", MSG_SYNTAX_ERROR_AT_IN, -1, ""},
        {"<a>\xC3(</a>", MSG_SYNTAX_ERROR_AT_IN, -1, ""},
        {"<a>x", MSG_SYNTAX_ERROR_AT_IN, int64_t(d + 4), ""},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.doc);
        Parsed p = parse(kDecl + c.doc);
        ASSERT_EQ(p.status, 1);
        ASSERT_FALSE(p.natives.empty());
        EXPECT_EQ(p.natives[0], c.native);
        if (c.offset >= 0) {
            EXPECT_NE(p.messages[0].find(std::to_string(c.offset)), std::string::npos) << p.messages[0];
            EXPECT_NE(p.messages[0].find(std::string("(") + c.shown + ")"), std::string::npos) << p.messages[0];
        }
    }
}

TEST_F(XmlReader, EmptyInputFailsAtOffsetZero)
{
    Parsed p = parse("");
    ASSERT_EQ(p.status, 1);
    ASSERT_EQ(p.natives.size(), 1u);
    EXPECT_EQ(p.natives[0], MSG_SYNTAX_ERROR_AT_IN);
    EXPECT_NE(p.messages[0].find("0 ()"), std::string::npos) << p.messages[0];
}

TEST_F(XmlReader, LongInputIsShownCutAtSixteenBytesOnACharacterBoundary)
{
    Parsed p = parse(kDecl + "<a>x</b>" + "1234567890123\xC3\xA9tail");
    ASSERT_EQ(p.status, 1);
    EXPECT_NE(p.messages[0].find("(b>1234567890123)"), std::string::npos) << p.messages[0];
}

TEST_F(XmlReader, FailureInAGrandchildLeavesOneRecordPerLevel)
{
    Parsed p = parse(kDecl + "<t><r><c>1</d></r></t>");
    ASSERT_EQ(p.status, 1);
    ASSERT_EQ(p.natives.size(), 3u);
    for (uint16_t n : p.natives)
        EXPECT_EQ(n, MSG_SYNTAX_ERROR_AT_IN);
    EXPECT_NE(p.messages[0].find("(d></r></t>)"), std::string::npos) << p.messages[0];
}

TEST_F(XmlReader, EncodingMustBeUtf8WhateverItsQuotes)
{
    struct Case {
        const char* decl;
        bool ok;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?>", true},
        {"<?xml version='1.0' encoding='UTF-8' standalone='yes'?>", true},
        {"<?xml version=\"1.0\"?>", true},
        {" <?xml version=\"1.0\"?>", false},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", false},
        {"<?xml version=\"1.0\" encoding='latin1'?>", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.decl);
        Parsed p = parse(std::string(c.decl) + "<a>1</a>");
        EXPECT_EQ(p.status, c.ok ? 0 : 1);
        if (!c.ok && *c.decl != ' ') {
            ASSERT_EQ(p.natives.size(), 1u);
            EXPECT_EQ(p.natives[0], MSG_XML_ENCODING_NOT_UTF8);
        }
    }
    Parsed p = parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>");
    EXPECT_NE(p.messages[0].find("ISO-8859-1"), std::string::npos);
}

TEST_F(XmlReader, NestingDepthIsBounded)
{
    auto nested = [](uint32_t depth) {
        std::string doc;
        for (uint32_t i = 0; i < depth; ++i)
            doc += "<e>";
        doc += "<e>x</e>";
        for (uint32_t i = 0; i < depth; ++i)
            doc += "</e>";
        return doc;
    };
    EXPECT_EQ(parse(nested(KA_XML_MAX_DEPTH - 2)).status, 0);
    Parsed p = parse(nested(100000));
    ASSERT_EQ(p.status, 1);
    EXPECT_EQ(p.natives[0], MSG_XML_NESTING_TOO_DEEP);
}

class XmlFile : public XmlReader {
protected:
    katest::TempDir dir{"kaxml"};
    std::string write(const std::string& name, const std::string& content)
    {
        std::string path = dir.path() + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
};

TEST_F(XmlFile, ReadsADescriptionFileByWideAndNarrowName)
{
    std::string path = write("t.xml", "\xEF\xBB\xBF" + kDecl + "<table><column>\"a b\"</column></table>\n");
    katest::ErrorScope scope;
    KaXmlNode* root = nullptr;
    ASSERT_EQ(xmlParseFile(&root, katest::W(katest::widen(path).c_str())), 0);
    EXPECT_EQ(flatten(root), "table[](column[]{a b})");
    xmlNodeFree(root);
    root = nullptr;
    ASSERT_EQ(xmlParseFileA(&root, path.c_str(), 106), 0);
    EXPECT_EQ(flatten(root), "table[](column[]{a b})");
    xmlNodeFree(root);
    EXPECT_EQ(scope.size(), 0u);
}

TEST_F(XmlFile, MissingAndOversizedFilesFailWithADiagnostic)
{
    katest::ErrorScope scope;
    KaXmlNode* root = nullptr;
    EXPECT_EQ(xmlParseFileA(&root, (dir.path() + "/none.xml").c_str(), 106), 1);
    EXPECT_GE(scope.size(), 1u);
    std::string big = kDecl + "<a>" + std::string(KA_XML_MAX_FILE_SIZE, 'x') + "</a>";
    std::string path = write("big.xml", big);
    size_t before = scope.size();
    EXPECT_EQ(xmlParseFileA(&root, path.c_str(), 106), 1);
    ASSERT_EQ(scope.size(), before + 1);
    EXPECT_EQ(scope.native(before), MSG_XML_FILE_TOO_LARGE);
    EXPECT_EQ(root, nullptr);
}

// Python's view of a well-formed file, in the same flattened form.
const char* const kFlatten = R"PY(
import sys, xml.etree.ElementTree as ET
def flat(e):
    s = e.tag + "[" + ",".join(k + "=" + v for k, v in e.attrib.items()) + "]"
    t = (e.text or "").strip(" \t\r\n")
    if len(e):
        s += "(" + "".join(flat(c) for c in e) + ")"
    elif t:
        s += "{" + t + "}"
    return s
sys.stdout.write(flat(ET.parse(sys.argv[1]).getroot()))
)PY";

TEST_F(XmlFile, AgreesWithXmllintAndPython)
{
    const char* docs[] = {
        "<table name=\"t\"><column type=\"INTEGER\">id</column><column>name</column></table>",
        "<c v='it\"s' w=\"a&amp;b&lt;&#x41;\">owner's &amp; co</c>",
        "<t><!-- c --><r>1</r><!-- c --></t>",
        "<t\n a = \"1\"\tb=\"2\" ></t >",
        "<t>caf\xC3\xA9 &#233;</t>",
        "<t a=\"x\ty\r\nz&#9;\">l1\r\nl2\rl3</t>",
        "<a>x</A>",
        "<a>&nbsp;</a>",
        "<a v=\"1\" v=\"2\"></a>",
        "<a v=\"<\"></a>",
        "<a><b>1</b>",
        "<a></a>junk",
        "<a><!-- a -- b --></a>",
        "<a>]]></a>",
        "<a>\xC3(</a>",
        "<a>&#0;</a>",
    };
    std::string script = write("flat.py", kFlatten);
    int n = 0;
    for (const char* body : docs) {
        std::string doc = kDecl + body;
        SCOPED_TRACE(doc);
        std::string path = write("d" + std::to_string(n++) + ".xml", doc);
        bool lintOk = katest::run("xmllint --noout '" + path + "' 2>&1").empty();
        Parsed p = parse(doc);
        ASSERT_EQ(p.status == 0, lintOk);
        if (lintOk) {
            EXPECT_EQ(p.tree, katest::run("/usr/bin/python3 '" + script + "' '" + path + "'"));
        }
    }
}

}  // namespace
