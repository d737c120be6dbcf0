// String encryption: round trips, markers, wrong passphrase and damaged texts; fakes nothing.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "common/EncryptString.h"
#include "platform/base/TextConvert.h"

namespace {

bool IsUpperHex(const CString& text) {
    for (char16_t ch : text.GetStdString()) {
        if (!((ch >= u'0' && ch <= u'9') || (ch >= u'A' && ch <= u'F'))) return false;
    }
    return true;
}

struct RoundTripCase {
    const char* name;
    const char16_t* text;
    bool marked;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << c.name;
}

class EncryptStringRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(EncryptStringRoundTrip, DecryptsToTheSameText) {
    CString text(GetParam().text);
    CString stored = EncryptStringWithMarker(text);
    CString marker(g_szEncryptionMarker);
    ASSERT_EQ(stored.Left(10) == marker, GetParam().marked);
    CString hex = GetParam().marked ? stored.Mid(10) : stored;
    EXPECT_FALSE(hex.IsEmpty());
    EXPECT_EQ(hex.GetLength() % 2, 0);
    EXPECT_TRUE(IsUpperHex(hex));
    EXPECT_TRUE(DecryptStringWithMarker(stored) == text);
}

INSTANTIATE_TEST_SUITE_P(Texts, EncryptStringRoundTrip,
                         ::testing::Values(RoundTripCase{"Ascii", u"<html>#TITLE# page</html>\r\n", false},
                                           RoundTripCase{"AnsiAccents", u"caf\u00e9 \u20ac 5", false},
                                           RoundTripCase{"Omega", u"\u03a9 ohm", true},
                                           RoundTripCase{"QuestionMark", u"what?", true},
                                           RoundTripCase{"Surrogates", u"\U0001F600 surrogates", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EncryptString, EmptyTextStaysEmpty) {
    EXPECT_TRUE(EncryptStringWithMarker(CString()).IsEmpty());
    EXPECT_TRUE(DecryptStringWithMarker(CString()).IsEmpty());
    EXPECT_TRUE(DecryptStringWithMarker(CString(g_szEncryptionMarker)).IsEmpty());
}

TEST(EncryptString, MarkerAloneForEmptyMarkedText) {
    // An empty text never takes the marked form, but a marked empty list must read back empty.
    CString stored = CString(g_szEncryptionMarker) + EncryptString(g_szStringPassphrase, "");
    EXPECT_TRUE(DecryptStringWithMarker(stored).IsEmpty());
}

TEST(EncryptString, EncryptsTheAnsiBytes) {
    // "\xE9" is é in the ANSI code page; it must come back as one character.
    CString hex = EncryptString(g_szStringPassphrase, "caf\xE9");
    EXPECT_TRUE(DecryptString(hex) == CString(u"caf\u00e9"));
}

TEST(EncryptString, WrongPassphraseGivesEmptyText) {
    CString hex = EncryptString("0000000000000000000000000000", "secret page");
    ASSERT_FALSE(hex.IsEmpty());
    EXPECT_TRUE(DecryptString(hex).IsEmpty());
}

TEST(EncryptString, DamagedTextGivesEmptyText) {
    CString hex = EncryptString(g_szStringPassphrase, "secret page");
    CString damaged = hex;
    int middle = damaged.GetLength() / 2;
    damaged.SetAt(middle, damaged[middle] == u'0' ? u'1' : u'0');
    const CString cases[] = {damaged, hex.Left(hex.GetLength() - 2), CString(u"not hex at all"),
                             CString(u"00"), CString(g_szEncryptionMarker) + damaged};
    for (const CString& text : cases)
        EXPECT_TRUE(DecryptStringWithMarker(text).IsEmpty()) << zbw::ToUtf8(text);
}

TEST(EncryptString, NonDigitsBetweenTheDigitsAreSkipped) {
    CString hex = EncryptString(g_szStringPassphrase, "spaced");
    CString spaced;
    for (int i = 0; i < hex.GetLength(); ++i) {
        spaced += hex[i];
        if (i % 2) spaced += u"\r\n";
    }
    EXPECT_TRUE(DecryptString(spaced) == CString(u"spaced"));
}

TEST(EncryptString, CodeUnitListIsCutAt50000Units) {
    CString text(u'\u03a9', 50010);
    CString back = DecryptStringWithMarker(EncryptStringWithMarker(text));
    EXPECT_EQ(back.GetLength(), 50000);
    EXPECT_TRUE(back == CString(u'\u03a9', 50000));
}

}  // namespace
