// The synchronisation program's exit codes and their texts; fakes a temporary emulation root.
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
        {2, "Execution not completed."},
        {SYNC_COPY_DELETE_ERRORS, "Execution completed with file copy/delete errors."},
        {SYNC_CANCELED, "Execution canceled by user."},
        {5,
         "Execution completed with conflicts. Some files were in conflict. These files need to be reconciled "
         "manually."},
        {6, "Error opening the profile file. The profile file is invalid."},
        {7, "Profile contains incorrect settings."},
        {8, "Unable to open log file. It may be inaccessible or in use by another Zebrodyne process."},
        {9,
         "Unable to open tracking database. It may be inaccessible or in use by another Zebrodyne process."},
        {SYNC_NEWER_IN_TARGET,
         "Backup completed with warning. Some files are present both in source and in target but are newer "
         "in "
         "target. If you want to overwrite these files, use the profile option 'Replace newer target files "
         "with older source files'"},
        {11, "Source and Target are different."},
        {12, "Error saving snapshot file."},
        {13, "Source folder not found."},
        {14, "Target folder not found."},
        {15, "Archive folder not found."},
        {16, "Profile file (.fsf) not found."},
        {17, "Execution method not specified in this profile."},
        {18, "Errors on command line."},
        {SYNC_SETTINGS_CHANGED,
         "Profile settings have changed since the last time the tracking database was saved. Synchronization "
         "tracking database in the profile settings needs to be reset."},
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
