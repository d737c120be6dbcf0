// SHA-1 digests and the digest text against known vectors; fakes nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/SHA1.h"
#include "common/SHA1Text.h"
#include "platform/base/TextConvert.h"

namespace {

std::string DigestHex(const SHA1& sha) {
    DWORD h[5];
    sha.GetDigest(h);
    char text[45];
    std::snprintf(text, sizeof(text), "%08X %08X %08X %08X %08X", h[0], h[1], h[2], h[3], h[4]);
    return text;
}

std::string HashBytes(const std::string& bytes, size_t piece) {
    SHA1 sha;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        size_t length = std::min(piece, bytes.size() - at);
        sha.Update(reinterpret_cast<const BYTE*>(bytes.data() + at), static_cast<UINT>(length));
    }
    sha.Finish();
    return DigestHex(sha);
}

const char* const kZeroDigest = "00000000 00000000 00000000 00000000 00000000";

}  // namespace

TEST(SHA1Test, StandardVectorsInOneAndManyPieces) {
    const struct {
        std::string bytes;
        const char* digest;
    } cases[] = {
        {"", "DA39A3EE 5E6B4B0D 3255BFEF 95601890 AFD80709"},
        {"abc", "A9993E36 4706816A BA3E2571 7850C26C 9CD0D89D"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983E44 1C3BD26E BAAE4AA1 F95129E5 E54670F1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmno"
         "p"
         "qrstnopqrstu",
         "A49B2446 A02C645B F419F995 B6709125 3A04A259"},
        // Padding edges: the length still fits (55), just does not (56), a whole block (64).
        {std::string(55, 'a'), "C1C8BBDC 22796E28 C0E15163 D20899B6 5621D65A"},
        {std::string(56, 'a'), "C2DB330F 6083854C 99D4B5BF B6E8F29F 201BE699"},
        {std::string(64, 'a'), "0098BA82 4B5C1642 7BD7A112 2A5A442A 25EC644D"},
        {std::string(1000000, 'a'), "34AA973C D4C4DAA4 F61EEB2B DBAD2731 6534016F"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 20) + " (" + std::to_string(c.bytes.size()) + " bytes)");
        EXPECT_EQ(HashBytes(c.bytes, c.bytes.size() + 1), c.digest);
        EXPECT_EQ(HashBytes(c.bytes, 7), c.digest);
    }
}

TEST(SHA1Test, UpdateAfterFinishCorruptsUntilReset) {
    SHA1 sha;
    const BYTE abc[] = {'a', 'b', 'c'};
    sha.Update(abc, 3);
    sha.Finish();
    sha.Update(abc, 0);  // a length of 0 does nothing
    EXPECT_FALSE(sha.IsCorrupted());
    EXPECT_EQ(DigestHex(sha), "A9993E36 4706816A BA3E2571 7850C26C 9CD0D89D");

    sha.Update(abc, 3);
    EXPECT_TRUE(sha.IsCorrupted());
    DWORD h[5];
    EXPECT_FALSE(sha.GetDigest(h));
    EXPECT_EQ(DigestHex(sha), kZeroDigest);

    sha.Reset();
    sha.Finish();
    EXPECT_EQ(DigestHex(sha), "DA39A3EE 5E6B4B0D 3255BFEF 95601890 AFD80709");
}

TEST(SHA1Test, UnfinishedDigestIsZero) {
    SHA1 sha;
    EXPECT_EQ(DigestHex(sha), kZeroDigest);
}

TEST(SHA1TextTest, HashesTheUtf16LittleEndianUnits) {
    // Expected values are SHA-1 of the UTF-16LE bytes ("abc" = 61 00 62 00 63 00).
    const struct {
        CString text;
        CString digest;
    } cases[] = {
        {u"", u"DA39A3EE 5E6B4B0D 3255BFEF 95601890 AFD80709"},
        {u"abc", u"9F04F41A 84851416 2050E3D6 8C1A7ABB 441DC2B5"},
        {u"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         u"51D7D876 9AC72C40 9C5B0E3F 69C60ADC 9A039014"},
        {CString(u'a', 28), u"BB0624F6 D8B3C038 A2219F77 9B18367A FA3C7FCB"},  // 56 bytes
        {CString(u'a', 32), u"C7AEB199 50FF2952 A37870CA 37914C90 DE3994F4"},  // 64 bytes
        {u"\u20AC\u00E4\U0001F600", u"1667B70B A18767BF A2936D5D DFAFA2D9 20CE5FE8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.GetLength());
        EXPECT_EQ(SHA1HashText(c.text), c.digest);
    }
}

TEST(SHA1TextTest, AppendThenVerifyStripsTheDigest) {
    CString text = u"hello|";
    AppendSHA1Digest(text);
    EXPECT_EQ(text, CString(u"hello|9F2E3417 93C15815 37B1016F D21C1307 F031CA24"));
    EXPECT_TRUE(VerifySHA1Digest(text));
    EXPECT_EQ(text, CString(u"hello|"));
}

TEST(SHA1TextTest, VerifyRejectsWithoutChangingTheText) {
    const CString emptyDigest = u"DA39A3EE 5E6B4B0D 3255BFEF 95601890 AFD80709";
    const struct {
        CString text;
        bool verifies;
        CString after;
    } cases[] = {
        {emptyDigest, true, u""},
        {u"x" + emptyDigest, false, u"x" + emptyDigest},
        {u"da39a3ee 5e6b4b0d 3255bfef 95601890 afd80709", false,
         u"da39a3ee 5e6b4b0d 3255bfef 95601890 afd80709"},
        {emptyDigest.Mid(1), false, emptyDigest.Mid(1)},  // 43 characters
        {u"", false, u""},
        {u"hello|9F2E3417 93C15815 37B1016F D21C1307 F031CA25", false,
         u"hello|9F2E3417 93C15815 37B1016F D21C1307 F031CA25"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.text));
        CString text = c.text;
        EXPECT_EQ(VerifySHA1Digest(text), c.verifies);
        EXPECT_EQ(text, c.after);
    }
}
