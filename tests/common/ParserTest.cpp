// The folder-list and quoted-string parsers; fakes nothing.
#include <gtest/gtest.h>

#include <vector>

#include "common/MultiFoldersParser.h"
#include "common/QStringParser.h"
#include "platform/base/TextConvert.h"

namespace {

const CString kOutOfRange = u"ERROR: Array index out of range.";

std::vector<CString> Tokens(const CQStringParser& parser) {
    std::vector<CString> tokens;
    for (int i = 1; i <= parser.GetCount(); ++i) tokens.push_back(parser.GetAt(i));
    return tokens;
}

std::vector<CString> Items(const CStringArray& items) {
    return std::vector<CString>(items.GetData(), items.GetData() + items.GetSize());
}

}  // namespace

TEST(QStringParserTest, SplitsAtTheSeparatorOutsideQuotes) {
    const struct {
        CString text;
        WCHAR separator;
        WCHAR quote;
        std::vector<CString> tokens;
    } cases[] = {
        {u"", u' ', u'"', {u""}},
        {u"a  b", u' ', u'"', {u"a", u"", u"b"}},
        {u"a b ", u' ', u'"', {u"a", u"b", u""}},
        {u" a", u' ', u'"', {u"", u"a"}},
        {u"RUN \"my profile\"", u' ', u'"', {u"RUN", u"\"my profile\""}},
        {u"RUN \"my profile", u' ', u'"', {u"RUN", u"\"my profile"}},
        {u"\"a b\" c", u' ', u'"', {u"\"a b\"", u"c"}},
        {u"\"a b\"x\" y", u' ', u'"', {u"\"a b\"x\"", u"y"}},  // a later quote opens nothing
        {u"k=\"v w\"", u' ', u'"', {u"k=\"v", u"w\""}},        // quotes count only at a token start
        {u"x \"a b\"", u' ', 0, {u"x", u"\"a", u"b\""}},
        {u"a b", 0, u'"', {u"a b"}},
        {u"a=1&b=\"x&y\"", u'&', u'"', {u"a=1", u"b=\"x", u"y\""}},
        {u"\"x&y\"&b", u'&', u'"', {u"\"x&y\"", u"b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.text));
        CQStringParser parser(c.text, c.separator, c.quote);
        EXPECT_EQ(parser.GetCount(), static_cast<int>(c.tokens.size()));
        EXPECT_EQ(Tokens(parser), c.tokens);
        EXPECT_EQ(parser.GetAt(0), c.text);
    }
}

TEST(QStringParserTest, GetAtBoundsAndQuoteRemoval) {
    CQStringParser parser(u"RUN \"my profile\"", u' ', u'"');
    EXPECT_EQ(parser.GetAt(2), CString(u"\"my profile\""));
    EXPECT_EQ(parser.GetAt(2, true), CString(u"my profile"));
    EXPECT_EQ(parser.GetAt(0, true), CString(u"RUN my profile"));
    EXPECT_EQ(parser.GetAt(3), kOutOfRange);
    EXPECT_EQ(parser.GetAt(-1), kOutOfRange);
    EXPECT_EQ(parser.GetAt(-1000), kOutOfRange);
}

TEST(MultiFoldersParserTest, SplitsAndTrimsItems) {
    const struct {
        CString text;
        CString separators;
        std::vector<CString> items;
    } cases[] = {
        {u"C:\\a|D:\\b", u"|", {u"C:\\a", u"D:\\b"}},
        {u" a \t|\r\n b\n", u"|", {u"a", u"b"}},
        {u"a||b", u"|", {u"a", u"", u"b"}},
        {u"a|", u"|", {u"a"}},
        {u"|a", u"|", {u"", u"a"}},
        {u"", u"|", {}},
        {u"  ", u"|", {u""}},
        {u"a;b|c", u";|", {u"a", u"b", u"c"}},
        {u"a|b", u"", {u"a|b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.text));
        CMultiFoldersParser parser;
        parser.SetText(c.text, c.separators);
        parser.ParseAll();
        EXPECT_EQ(Items(parser.GetItems()), c.items);
    }
}

TEST(MultiFoldersParserTest, GetNextWalksAndParseAllRestarts) {
    CMultiFoldersParser parser;
    parser.SetText(u"x|y", u"|");
    CString item;
    ASSERT_TRUE(parser.GetNext(item));
    EXPECT_EQ(item, CString(u"x"));
    parser.ParseAll();
    parser.ParseAll();
    EXPECT_EQ(Items(parser.GetItems()), (std::vector<CString>{u"x", u"y"}));
    EXPECT_FALSE(parser.GetNext(item));
}
