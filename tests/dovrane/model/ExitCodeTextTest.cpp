#include <gtest/gtest.h>

#include "dovrane/model/SyncExitCode.h"
#include "platform/base/TextConvert.h"
#include "tests/support/TestRoot.h"

namespace {

class ExitCodeTextTest : public ::testing::Test {
   protected:
    CTestRoot root;
};

TEST_F(ExitCodeTextTest, CodesGiveTheirTexts) {
    struct {
        DWORD code;
        const char* text;
    } const cases[] = {
        {SYNC_OK, "OK."},
        {1, "Execution not completed: unspecified error."},
        {SYNC_COPY_DELETE_ERRORS, "Execution completed with file copy/delete errors."},
        {SYNC_CANCELED, "Execution canceled by user."},
        {11, "Source and Target are different."},
        {16, "Profile file (.fsf) not found."},
        {18, "Errors on command line."},
        {20, "Unspecified"},
        {0xFFFFFFFFu, "Unspecified"},
        {0x80000000u, "Unspecified"},
    };
    for (const auto& c : cases) EXPECT_EQ(zbw::ToUtf8(GetExitCodeText(c.code)), c.text) << c.code;
}

TEST_F(ExitCodeTextTest, EveryCodeUpTo19HasItsOwnText) {
    for (DWORD code = 0; code <= SYNC_SETTINGS_CHANGED; ++code) {
        EXPECT_NE(zbw::ToUtf8(GetExitCodeText(code)), "Unspecified") << code;
        if (code > 0) {
            EXPECT_NE(GetExitCodeText(code), GetExitCodeText(code - 1)) << code;
        }
    }
    const std::string warning = zbw::ToUtf8(GetExitCodeText(SYNC_NEWER_IN_TARGET));
    EXPECT_EQ(warning.back(), '\'');
    EXPECT_EQ(zbw::ToUtf8(GetExitCodeText(19)).substr(0, 23), "Profile settings have c");
}

}  // namespace
