// SafeReplaceFile on real files, with and without the bound replace call; fakes a temporary emulation root
// and hides the bound function.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/SafeReplaceFile.h"
#include "platform/host/PathMap.h"
#include "platform/win32/LateBound.h"
#include "tests/support/TestRoot.h"

namespace {

namespace fs = std::filesystem;

// Each case runs with ReplaceFileW present and with it hidden, so the fallback is covered too.
class SafeReplaceFileTest : public ::testing::TestWithParam<bool> {
   protected:
    void SetUp() override {
        if (GetParam()) zbw::HideLateBound("KERNEL32!ReplaceFileW");
    }
    void TearDown() override { zbw::ResetLateBound(); }

    CString Windows(const char* name) const { return zbw::ToWindowsPath(m_root.Path(name)); }

    CTestRoot m_root;
};

TEST_P(SafeReplaceFileTest, ReplacementTakesTheName) {
    WriteHostFile(m_root.Path("log"), "old");
    WriteHostFile(m_root.Path("new"), "new");
    EXPECT_TRUE(SafeReplaceFile(Windows("log"), Windows("new")));
    EXPECT_EQ(ReadHostFile(m_root.Path("log")), "new");
    EXPECT_FALSE(fs::exists(m_root.Path("new")));
}

TEST_P(SafeReplaceFileTest, MissingReplacementKeepsTheOldFile) {
    WriteHostFile(m_root.Path("log"), "old");
    EXPECT_FALSE(SafeReplaceFile(Windows("log"), Windows("missing")));
    EXPECT_EQ(ReadHostFile(m_root.Path("log")), "old");
}

TEST_P(SafeReplaceFileTest, MissingTargetIsMade) {
    WriteHostFile(m_root.Path("new"), "new");
    EXPECT_TRUE(SafeReplaceFile(Windows("log"), Windows("new")));
    EXPECT_EQ(ReadHostFile(m_root.Path("log")), "new");
}

TEST_P(SafeReplaceFileTest, FolderInTheWayFailsAndKeepsBoth) {
    fs::create_directories(m_root.Path("log"));
    WriteHostFile(m_root.Path("new"), "new");
    EXPECT_FALSE(SafeReplaceFile(Windows("log"), Windows("new")));
    EXPECT_TRUE(fs::is_directory(m_root.Path("log")));
    EXPECT_EQ(ReadHostFile(m_root.Path("new")), "new");
}

INSTANTIATE_TEST_SUITE_P(ReplaceFileW, SafeReplaceFileTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Hidden" : "Present"; });

}  // namespace
