// Registry utilities over the emulated registry; fakes a temporary emulation root and a read-only machine
// hive.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "common/RegUtils.h"
#include "platform/base/WinError.h"
#include "platform/win32/Registry.h"
#include "tests/support/TestRoot.h"

namespace {

const LPCWSTR kKey = u"software\\ZBEngine\\ZBEngine";

// Stores raw bytes as a REG_SZ value, as another program might.
void SetRawString(HKEY root, LPCWSTR value, const std::u16string& units, DWORD extraBytes = 0) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              static_cast<LONG>(ERROR_SUCCESS));
    std::string bytes(reinterpret_cast<const char*>(units.data()), units.size() * 2);
    bytes.append(extraBytes, 'x');
    ASSERT_EQ(RegSetValueExW(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              static_cast<LONG>(ERROR_SUCCESS));
    RegCloseKey(key);
}

class RegUtilsTest : public ::testing::Test {
   protected:
    CTestRoot m_root;
};

TEST_F(RegUtilsTest, WriteThenReadUnderBothRoots) {
    EXPECT_TRUE(WriteRegStringLM(kKey, u"path", u"C:\\Program Files\\sync.exe"));
    EXPECT_TRUE(WriteRegStringCU(kKey, u"path", u"per user"));
    CString machine, user;
    EXPECT_TRUE(ReadRegStringLM(kKey, u"path", machine));
    EXPECT_TRUE(ReadRegStringCU(kKey, u"path", user));
    EXPECT_EQ(machine, CString(u"C:\\Program Files\\sync.exe"));
    EXPECT_EQ(user, CString(u"per user"));
}

TEST_F(RegUtilsTest, WriteStoresTheTerminatingZero) {
    ASSERT_TRUE(WriteRegStringCU(kKey, u"v", u"abc"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), static_cast<LONG>(ERROR_SUCCESS));
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"v", nullptr, &type, nullptr, &size), static_cast<LONG>(ERROR_SUCCESS));
    RegCloseKey(key);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 8u);
}

TEST_F(RegUtilsTest, MissingKeyOrValueLeavesTheTextUnchanged) {
    CString text(u"before");
    EXPECT_FALSE(ReadRegStringLM(u"software\\nowhere", u"path", text));
    ASSERT_TRUE(WriteRegStringLM(kKey, u"other", u"x"));
    EXPECT_FALSE(ReadRegStringLM(kKey, u"path", text));
    EXPECT_EQ(text, CString(u"before"));
}

TEST_F(RegUtilsTest, ValuesUpTo2047BytesAreReadLongerOnesNot) {
    struct Case {
        size_t units;
        DWORD extraBytes;
        bool readable;
    };
    const Case cases[] = {
        {1022, 0, true}, {1023, 0, true}, {1023, 1, true}, {1024, 0, false}, {5000, 0, false}};
    for (const Case& c : cases) {
        SetRawString(HKEY_CURRENT_USER, u"big", std::u16string(c.units - 1, u'a') + u'\0', c.extraBytes);
        CString text(u"before");
        EXPECT_EQ(ReadRegStringCU(kKey, u"big", text), c.readable) << c.units << " units";
        EXPECT_EQ(text, c.readable ? CString(std::u16string(c.units - 1, u'a')) : CString(u"before"));
    }
}

TEST_F(RegUtilsTest, DataWithoutItsZeroEndsAtItsEnd) {
    SetRawString(HKEY_LOCAL_MACHINE, u"raw", u"abc");
    SetRawString(HKEY_LOCAL_MACHINE, u"inner", std::u16string(u"ab\0cd", 5));
    CString raw, inner;
    EXPECT_TRUE(ReadRegStringLM(kKey, u"raw", raw));
    EXPECT_TRUE(ReadRegStringLM(kKey, u"inner", inner));
    EXPECT_EQ(raw, CString(u"abc"));
    EXPECT_EQ(inner, CString(u"ab"));
}

TEST_F(RegUtilsTest, WriteFailsWithoutMachineRights) {
    setenv("ZBW_HKLM_READONLY", "1", 1);
    bool written = WriteRegStringLM(kKey, u"path", u"x");
    unsetenv("ZBW_HKLM_READONLY");
    EXPECT_FALSE(written);
    EXPECT_TRUE(WriteRegStringCU(kKey, u"path", u"x"));
}

}  // namespace
