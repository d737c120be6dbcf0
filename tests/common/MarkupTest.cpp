// CMarkup, the XML reader and writer: parsing, navigation, names, escaping; fakes nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Markup.h"
#include "platform/base/TextConvert.h"
#include "platform/classlib/InvalidArgException.h"

namespace {

const CString kDeclaration = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n";

// Every element's text in document order, as "name=text" lines; shows the whole index.
void Walk(CMarkup& xml, const CString& indent, std::vector<CString>& out) {
    while (xml.FindElement()) {
        out.push_back(indent + xml.GetElementText());
        xml.IntoElement();
        Walk(xml, indent + u" ", out);
        xml.OutOfElement();
    }
}

std::vector<CString> Walk(CMarkup& xml) {
    std::vector<CString> out;
    Walk(xml, CString(), out);
    return out;
}

CString Repeat(const CString& text, int count) {
    CString out;
    for (int i = 0; i < count; ++i) out += text;
    return out;
}

// A settings document written by appending, then edited in the middle at three depths and in an
// empty element, the ways the settings writers use the markup.
CMarkup EditedDocument() {
    CMarkup xml;
    xml.SetDocument(kDeclaration);
    xml.AddElement(u"SETTINGS");
    xml.IntoElement();
    xml.AddElement(u"TCPIP");
    xml.IntoElement();
    xml.AddElement(u"PORT", u"2001");
    xml.OutOfElement();
    for (int n = 0; n < 3; ++n) {
        xml.AddElement(u"ITEM");
        xml.IntoElement();
        xml.AddElement(u"PROFILE", CString(u"p") + CString(u'0' + n, 1));
        xml.AddElement(u"EVERYDAY");
        xml.AddElement(u"DESCRIPTION", u"a < b & c");
        xml.OutOfElement();
    }
    CMarkup edited;
    edited.SetDocument(xml.GetDoc());
    edited.FindElement(u"SETTINGS");
    edited.IntoElement();
    edited.FindElement(u"TCPIP");
    edited.AddElement(u"CHECKNEW");
    edited.FindElement(u"ITEM");
    edited.IntoElement();
    edited.FindElement(u"PROFILE");
    edited.AddElement(u"CATEGORY", u"c");
    edited.FindElement(u"EVERYDAY");
    edited.IntoElement();
    edited.AddElement(u"X", u"1");
    edited.OutOfElement();
    edited.OutOfElement();
    edited.FindElement(u"ITEM");
    edited.IntoElement();
    edited.FindElement(u"DESCRIPTION");
    edited.AddElement(u"STARTUP");
    edited.OutOfElement();
    return edited;
}

}  // namespace

TEST(MarkupTest, ParseErrorsEmptyTheIndexAndKeepTheText) {
    const struct {
        CString text;
        CString error;
    } cases[] = {
        {u"just text", u"Element tag not found"},
        {kDeclaration, u"Element tag not found"},
        {u"<", u"Abrupt end within tag"},
        {u"<  \r\n", u"Abrupt end within tag"},
        {u"<\"a\">", u"Tag starts with quote"},
        {u"<?xml version", u"Invalid node"},
        {u"<!-- open", u"Invalid node"},
        {u"<![CDATA[x", u"Invalid node"},
        {u"<!DOCTYPE d [ <!ENTITY e 'v'> > <a/>", u"Invalid node"},
        {u"<a", u"End of tag not found"},
        {u"<a>", u"End tag of a element not found"},
        {u"<a><b>x", u"End tag of b element not found"},
        {u"<a><!-- c -->", u"End tag of a element not found"},
        {u"<a></b>", u"End tag does not correspond to a"},
        {u"<a><b></a>", u"End tag does not correspond to b"},
        {u"<a></ab>", u"End tag does not correspond to a"},
        {u"<a></", u"End tag not completed for element a"},
        {u"<a></a", u"End tag not completed for element a"},
        {u"<a></a x", u"End tag not completed for element a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.text));
        CMarkup xml;
        EXPECT_FALSE(xml.SetDocument(c.text));
        EXPECT_EQ(xml.GetError(), c.error);
        EXPECT_EQ(xml.GetDoc(), c.text);
        EXPECT_FALSE(xml.FindElement());
    }
}

TEST(MarkupTest, EmptyTextFailsWithoutError) {
    CMarkup xml;
    EXPECT_FALSE(xml.SetDocument(u""));
    EXPECT_FALSE(xml.SetDocument(nullptr));
    EXPECT_EQ(xml.GetError(), CString());
}

TEST(MarkupTest, ElementText) {
    const struct {
        CString text;
        CString data;
    } cases[] = {
        {u"<a>x</a>", u"x"},
        {u"<a> x \r\n</a>", u" x \r\n"},
        {u"<a id=\"1\" b='2'>v</a>", u"v"},
        {u"<a>&lt;&amp;&gt;&apos;&quot;</a>", u"<&>'\""},
        {u"<a>&foo; &amp;lt; & &lt</a>", u"&foo; &lt; & &lt"},
        {u"<a> \r\n<![CDATA[<b>&lt;</b>]]></a>", u"<b>&lt;</b>"},
        {u"<a><![CDATA[]]></a>", u""},
        {u"<a><![CDATA[x]]>tail</a>", u"x"},
        {u"<a>x<!-- c --></a>", u"x<!-- c -->"},
        {u"<a></a>", u""},
        {u"<a/>", u""},
        {u"<a />", u""},
        {u"<a><b/></a>", u""},
        {u"<A>x</a >", u"x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.text));
        CMarkup xml;
        ASSERT_TRUE(xml.SetDocument(c.text)) << zbw::ToUtf8(xml.GetError());
        EXPECT_EQ(xml.GetElementText(), CString());  // no current element yet
        ASSERT_TRUE(xml.FindElement());
        EXPECT_EQ(xml.GetElementText(), c.data);
    }
}

TEST(MarkupTest, WalksChildrenAndSkipsNodes) {
    const CString text = kDeclaration +
                         u"<!DOCTYPE a [<!ENTITY e \"v>\">]>\r\n<!-- a comment -->\r\n"
                         u"<a>\r\n<b>x</b>\r\n<?pi ?><c/>\r\n</a>\r\n<ignored/>";
    CMarkup xml;
    ASSERT_TRUE(xml.SetDocument(text)) << zbw::ToUtf8(xml.GetError());
    ASSERT_TRUE(xml.FindChildElement(u"b"));  // finds a first
    EXPECT_EQ(xml.GetChildElementText(), CString(u"x"));
    ASSERT_TRUE(xml.FindChildElement());
    EXPECT_EQ(xml.GetChildElementText(), CString());
    EXPECT_FALSE(xml.FindChildElement());
    EXPECT_FALSE(xml.FindElement(u"ignored"));  // only the first top-level element is indexed

    ASSERT_TRUE(xml.IntoElement());  // c, the child position, becomes current
    EXPECT_FALSE(xml.FindElement());
    ASSERT_TRUE(xml.OutOfElement());
    EXPECT_EQ(xml.GetChildElementText(), CString());
    EXPECT_FALSE(xml.OutOfElement());

    ASSERT_TRUE(xml.SetDocument(text));
    EXPECT_EQ(Walk(xml), (std::vector<CString>{u"", u" x", u" "}));
}

TEST(MarkupTest, NamesMatchCaseInsensitivelyOverTheWholeName) {
    const struct {
        CString text;
        CString name;
        bool found;
    } cases[] = {
        {u"<item/>", u"ITEM", true},   {u"<ITEM/>", u"item", true},    {u"<ITEM/>", u"IT", false},
        {u"<item/>", u"ITEMS", false}, {u"<item/>", u"item x", true},  {u"<item/>", u"item=", true},
        {u"<item/>", u"item/", true},  {u"<item/>", u"item[2]", true}, {u"<item/>", u"item.x", false},
        {u"<item/>", u"", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.text + u" " + c.name));
        CMarkup xml;
        ASSERT_TRUE(xml.SetDocument(c.text));
        EXPECT_EQ(xml.FindElement(c.name), c.found);
    }
}

TEST(MarkupTest, FindElementMovesOnlyOnSuccess) {
    CMarkup xml;
    ASSERT_TRUE(xml.SetDocument(u"<r><a>1</a><b>2</b><a>3</a></r>"));
    ASSERT_TRUE(xml.FindElement(u"r"));
    ASSERT_TRUE(xml.IntoElement());
    ASSERT_TRUE(xml.FindElement(u"a"));
    ASSERT_TRUE(xml.FindElement(u"a"));
    EXPECT_EQ(xml.GetElementText(), CString(u"3"));
    EXPECT_FALSE(xml.FindElement(u"b"));
    EXPECT_EQ(xml.GetElementText(), CString(u"3"));
}

TEST(MarkupTest, PositionsOutsideTheIndexThrow) {
    CMarkup xml;
    ASSERT_TRUE(xml.SetDocument(u"<a><b/></a>"));
    EXPECT_EQ(xml.GetElementText(2), CString());
    EXPECT_THROW(xml.GetElementText(3), CInvalidArgException);
    EXPECT_THROW(xml.GetElementText(-1), CInvalidArgException);
}

TEST(MarkupTest, DeepNestingParses) {
    const int depth = 20000;
    CMarkup xml;
    ASSERT_TRUE(xml.SetDocument(Repeat(u"<a>", depth) + u"x" + Repeat(u"</a>", depth)));
    for (int i = 0; i < depth; ++i) {
        ASSERT_TRUE(xml.FindElement(u"a"));
        xml.IntoElement();
    }
    xml.OutOfElement();
    EXPECT_EQ(xml.GetElementText(), CString(u"x"));
    EXPECT_FALSE(xml.SetDocument(Repeat(u"<a>", depth)));
    EXPECT_EQ(xml.GetError(), CString(u"End tag of a element not found"));
}

TEST(MarkupTest, AddElementPlacesAndEscapes) {
    const struct {
        const char* what;
        CString text;
        CString into;   // element to step into first, or empty for the document level
        CString after;  // element to make current under it, or empty
        CString name;
        const char16_t* data;
        CString result;
    } cases[] = {
        {"new root", u"", u"", u"", u"r", nullptr, u"<r/>\r\n"},
        {"root after a failed parse keeps the text", kDeclaration, u"", u"", u"SETTINGS", u"",
         kDeclaration + u"<SETTINGS/>\r\n"},
        {"empty parent is opened", u"<r/>", u"r", u"", u"x", u"<", u"<r>\r\n<x>&lt;</x>\r\n</r>"},
        {"empty parent with a blank", u"<r />", u"r", u"", u"x", nullptr, u"<r >\r\n<x/>\r\n</r>"},
        {"bare parent gets a line break", u"<r></r>", u"r", u"", u"x", u"1", u"<r>\r\n<x>1</x>\r\n</r>"},
        {"after the last child", u"<r>\r\n<a/>\r\n</r>", u"r", u"", u"x", nullptr,
         u"<r>\r\n<a/>\r\n<x/>\r\n</r>"},
        {"after the current one", u"<r>\r\n<a/>\r\n<c/>\r\n</r>", u"r", u"a", u"b", u"2",
         u"<r>\r\n<a/>\r\n<b>2</b>\r\n<c/>\r\n</r>"},
        {"only three characters escaped", u"<r/>", u"r", u"", u"x", u"a&b>c\"'",
         u"<r>\r\n<x>a&amp;b&gt;c\"'</x>\r\n</r>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CMarkup xml;
        xml.SetDocument(c.text);
        if (!c.into.IsEmpty()) {
            ASSERT_TRUE(xml.FindElement(c.into));
            ASSERT_TRUE(xml.IntoElement());
        }
        if (!c.after.IsEmpty()) {
            ASSERT_TRUE(xml.FindElement(c.after));
        }
        ASSERT_TRUE(xml.AddElement(c.name, c.data));
        EXPECT_EQ(xml.GetDoc(), c.result);
        EXPECT_EQ(xml.GetElementText(), CString(c.data ? c.data : u""));
    }
}

TEST(MarkupTest, SecondRootIsRefused) {
    CMarkup xml;
    ASSERT_TRUE(xml.AddElement(u"a"));
    EXPECT_FALSE(xml.AddElement(u"b"));
    ASSERT_TRUE(xml.SetDocument(u"<a/>"));
    EXPECT_FALSE(xml.AddElement(u"b"));
    EXPECT_EQ(xml.GetDoc(), CString(u"<a/>"));
}

// The index that AddElement keeps up must agree with the text: searched by name after an
// insertion in the middle, and against a fresh parse.
TEST(MarkupTest, AddedElementsKeepTheIndexInStep) {
    CMarkup xml;
    xml.SetDocument(kDeclaration);
    ASSERT_TRUE(xml.AddElement(u"SETTINGS"));
    ASSERT_TRUE(xml.IntoElement());
    ASSERT_TRUE(xml.AddElement(u"ITEM"));
    ASSERT_TRUE(xml.IntoElement());
    ASSERT_TRUE(xml.AddElement(u"NAME", u"one"));
    ASSERT_TRUE(xml.AddElement(u"STARTUP"));
    ASSERT_TRUE(xml.OutOfElement());
    ASSERT_TRUE(xml.AddElement(u"TCPIP"));
    ASSERT_TRUE(xml.IntoElement());
    ASSERT_TRUE(xml.AddElement(u"PORT", u"5"));
    ASSERT_TRUE(xml.AddElement(u"PWD", u"<&>"));
    ASSERT_TRUE(xml.OutOfElement());
    ASSERT_TRUE(xml.OutOfElement());

    CMarkup edited;
    ASSERT_TRUE(edited.SetDocument(xml.GetDoc())) << zbw::ToUtf8(edited.GetError());
    EXPECT_EQ(Walk(edited), (std::vector<CString>{u"", u" ", u"  one", u"  ", u" ", u"  5", u"  <&>"}));
    ASSERT_TRUE(edited.SetDocument(xml.GetDoc()));
    ASSERT_TRUE(edited.FindElement(u"SETTINGS") && edited.IntoElement());
    ASSERT_TRUE(edited.FindElement(u"ITEM") && edited.IntoElement());
    ASSERT_TRUE(edited.FindElement(u"NAME"));
    ASSERT_TRUE(edited.AddElement(u"CATEGORY", u"c"));
    ASSERT_TRUE(edited.FindElement(u"STARTUP"));
    ASSERT_TRUE(edited.OutOfElement() && edited.OutOfElement());
    ASSERT_TRUE(edited.FindChildElement(u"TCPIP"));
    ASSERT_TRUE(edited.IntoElement() && edited.IntoElement());
    ASSERT_TRUE(edited.FindElement(u"PWD"));
    EXPECT_EQ(edited.GetElementText(), CString(u"<&>"));

    CMarkup reparsed;
    ASSERT_TRUE(reparsed.SetDocument(edited.GetDoc())) << zbw::ToUtf8(reparsed.GetError());
    EXPECT_EQ(Walk(reparsed),
              (std::vector<CString>{u"", u" ", u"  one", u"  c", u"  ", u" ", u"  5", u"  <&>"}));
    EXPECT_NE(edited.GetDoc().Find(u"<NAME>one</NAME>\r\n<CATEGORY>c</CATEGORY>\r\n<STARTUP/>"), -1);
}

// The text is the one the writer has always produced, and the index it keeps through edits in
// the middle still finds every later element with its text.
TEST(MarkupTest, EditedDocumentKeepsItsTextAndIndex) {
    CMarkup edited = EditedDocument();
    const CString expected =
        u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
        u"<SETTINGS>\r\n"
        u"<TCPIP>\r\n"
        u"<PORT>2001</PORT>\r\n"
        u"</TCPIP>\r\n"
        u"<CHECKNEW/>\r\n"
        u"<ITEM>\r\n"
        u"<PROFILE>p0</PROFILE>\r\n"
        u"<CATEGORY>c</CATEGORY>\r\n"
        u"<EVERYDAY>\r\n"
        u"<X>1</X>\r\n"
        u"</EVERYDAY>\r\n"
        u"<DESCRIPTION>a &lt; b &amp; c</DESCRIPTION>\r\n"
        u"</ITEM>\r\n"
        u"<ITEM>\r\n"
        u"<PROFILE>p1</PROFILE>\r\n"
        u"<EVERYDAY/>\r\n"
        u"<DESCRIPTION>a &lt; b &amp; c</DESCRIPTION>\r\n"
        u"<STARTUP/>\r\n"
        u"</ITEM>\r\n"
        u"<ITEM>\r\n"
        u"<PROFILE>p2</PROFILE>\r\n"
        u"<EVERYDAY/>\r\n"
        u"<DESCRIPTION>a &lt; b &amp; c</DESCRIPTION>\r\n"
        u"</ITEM>\r\n"
        u"</SETTINGS>\r\n";
    EXPECT_EQ(edited.GetDoc(), expected);
    ASSERT_TRUE(edited.FindElement(u"ITEM") && edited.IntoElement());
    ASSERT_TRUE(edited.FindElement(u"PROFILE"));
    EXPECT_EQ(edited.GetElementText(), CString(u"p2"));
    ASSERT_TRUE(edited.FindElement(u"DESCRIPTION"));
    EXPECT_EQ(edited.GetElementText(), CString(u"a < b & c"));
    ASSERT_TRUE(edited.AddElement(u"LAST", u"z"));
    EXPECT_EQ(edited.GetElementText(), CString(u"z"));
    EXPECT_NE(edited.GetDoc().Find(u"c</DESCRIPTION>\r\n<LAST>z</LAST>\r\n</ITEM>\r\n</SETTINGS>"), -1);
}
