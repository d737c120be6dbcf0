// Access tokens: user, refused requests, SID texts; fakes a temporary emulation root.
#include <gtest/gtest.h>

#include <vector>

#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/Accounts.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Thread.h"
#include "platform/win32/Token.h"
#include "tests/support/TestRoot.h"

namespace {

class TokenTest : public ::testing::Test {
   protected:
    CTestRoot m_root;
};

TEST_F(TokenTest, ThreadHasNoTokenSoTheProcessTokenNamesTheUser) {
    HANDLE token = reinterpret_cast<HANDLE>(1);
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
    EXPECT_EQ(GetLastError(), ERROR_NO_TOKEN);
    EXPECT_EQ(token, nullptr);

    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD size = 0;
    EXPECT_FALSE(GetTokenInformation(token, TokenUser, nullptr, 0, &size));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_GT(size, sizeof(TOKEN_USER));
    std::vector<BYTE> info(size);
    DWORD small = 0;
    EXPECT_FALSE(GetTokenInformation(token, TokenUser, info.data(), size - 1, &small));
    EXPECT_EQ(small, size);
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, info.data(), size, &size));
    PSID sid = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
    ASSERT_TRUE(IsValidSid(sid));
    EXPECT_EQ(zbw::SidToText(sid), zbw::CurrentUserSidText());

    const DWORD length = GetLengthSid(sid);
    EXPECT_EQ(length, 8u + 4u * 5u);  // S-1-5-21-0-0-0-<uid>: five sub-authorities
    std::vector<BYTE> copy(length);
    EXPECT_FALSE(CopySid(length - 1, copy.data(), sid));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_TRUE(CopySid(length, copy.data(), sid));
    EXPECT_EQ(zbw::SidToText(copy.data()), zbw::CurrentUserSidText());
    EXPECT_TRUE(CloseHandle(token));
}

TEST_F(TokenTest, RefusedRequests) {
    HANDLE token = nullptr;
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(OpenProcessToken(event, TOKEN_QUERY, &token));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(OpenThreadToken(reinterpret_cast<HANDLE>(0x7777), TOKEN_QUERY, TRUE, &token));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    DWORD size = 0;
    BYTE buffer[256];
    EXPECT_FALSE(GetTokenInformation(event, TokenUser, buffer, sizeof buffer, &size));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(event);

    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    EXPECT_FALSE(GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(token);

    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), MAXIMUM_ALLOWED, &token));
    EXPECT_FALSE(
        GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(2), buffer, sizeof buffer, &size));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
    CloseHandle(token);
}

TEST_F(TokenTest, SidTextRoundTrip) {
    const char16_t* const good[] = {u"S-1-5-18", u"S-1-5-21-0-0-0-1000", u"S-1-0",
                                    u"S-1-281474976710655-4294967295",
                                    u"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15"};
    for (const char16_t* text : good) {
        std::vector<BYTE> sid;
        ASSERT_TRUE(zbw::SidFromText(text, &sid)) << zbw::ToUtf8(text);
        EXPECT_EQ(GetLengthSid(sid.data()), sid.size());
        EXPECT_EQ(zbw::SidToText(sid.data()), CString(text));
    }
    const char16_t* const bad[] = {u"",
                                   u"S-2-5-18",
                                   u"S-1-",
                                   u"S-1-5-",
                                   u"S-1-5--1",
                                   u"S-1-5-x",
                                   u"s-1-5-18",
                                   u"S-1-281474976710656",
                                   u"S-1-5-4294967296",
                                   u"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"};
    for (const char16_t* text : bad) {
        std::vector<BYTE> sid = {9};
        EXPECT_FALSE(zbw::SidFromText(text, &sid)) << zbw::ToUtf8(text);
        EXPECT_EQ(sid, std::vector<BYTE>{9});
    }
    const BYTE badRevision[8] = {2, 0, 0, 0, 0, 0, 0, 5};
    EXPECT_FALSE(IsValidSid(const_cast<BYTE*>(badRevision)));
    EXPECT_EQ(GetLengthSid(const_cast<BYTE*>(badRevision)), 0u);
    EXPECT_FALSE(IsValidSid(nullptr));
    EXPECT_EQ(zbw::SidToText(nullptr), CString());
}

}  // namespace
