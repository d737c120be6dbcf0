// The page folder: request paths that would leave it, the cache keyed on the file's last
// write, and the encrypted forms.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "common/EncryptString.h"
#include "dovrane/web/PageFiles.h"
#include "platform/base/TextConvert.h"
#include "tests/support/TestRoot.h"

namespace {

class PageFilesTest : public ::testing::Test {
   protected:
    void SetUp() override {
        std::filesystem::create_directories(m_root.Path("html/img"));
        std::filesystem::create_directories(m_root.Path("html/sub"));
        WriteHostFile(m_root.Path("secret.log"), "secret");
        WriteHostFile(m_root.Path("html/status.htm"), "status v1");
        WriteHostFile(m_root.Path("html/img/tick.gif"), "GIF89a");
        m_pages.Configure(zbw::FromUtf8(m_root.Path("html")), false);
    }

    CTestRoot m_root;
    CPageFiles m_pages;
};

TEST_F(PageFilesTest, PathsNeverLeaveTheFolder) {
    const char* const kRefused[] = {
        "/../secret.log",
        "/sub/../../secret.log",
        "/%2e%2e/secret.log",
        "/%2E%2E/secret.log",
        "/..%2fsecret.log",
        "/..\\secret.log",
        "/%5c..%5csecret.log",
        "/C:/secret.log",
        "secret.log",
        "",
        "/./status.htm",
        "/sub/%00/x",
        "/..",
    };
    std::string bytes;
    CString name;
    for (const char* path : kRefused) {
        EXPECT_FALSE(m_pages.MapPath(path, name)) << path;
        EXPECT_FALSE(m_pages.Load(path, bytes)) << path;
    }
    EXPECT_TRUE(m_pages.Load("/status.htm", bytes));
    EXPECT_EQ(bytes, "status v1");
    EXPECT_TRUE(m_pages.Load("/img/tick.gif", bytes));
    EXPECT_FALSE(m_pages.Load("/sub", bytes)) << "a folder is not a page";
    EXPECT_FALSE(m_pages.Load("/missing.htm", bytes));
}

TEST_F(PageFilesTest, ChangedFileIsReadAgainUnchangedComesFromTheCache) {
    std::string bytes;
    bool cached = true;
    ASSERT_TRUE(m_pages.Load("/status.htm", bytes, &cached));
    EXPECT_FALSE(cached);
    ASSERT_TRUE(m_pages.Load("/status.htm", bytes, &cached));
    EXPECT_TRUE(cached);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    WriteHostFile(m_root.Path("html/status.htm"), "status v2, longer");
    ASSERT_TRUE(m_pages.Load("/status.htm", bytes, &cached));
    EXPECT_FALSE(cached);
    EXPECT_EQ(bytes, "status v2, longer");
}

TEST_F(PageFilesTest, EncryptedPagesAreDecryptedGifsStayPlain) {
    CString page = u"<p>Status? \u00e9t\u00e9 \u2713</p>";
    WriteHostFile(m_root.Path("html/status.htm.zbengine"),
                  zbw::ToAnsi(EncryptStringWithMarker(page).GetStdString()));
    WriteHostFile(m_root.Path("html/plain.htm.zbengine"), "not encrypted at all");
    m_pages.Configure(zbw::FromUtf8(m_root.Path("html")), true);
    std::string bytes;
    ASSERT_TRUE(m_pages.Load("/status.htm", bytes));
    EXPECT_EQ(zbw::FromUtf8(bytes), page);
    ASSERT_TRUE(m_pages.Load("/plain.htm", bytes));
    EXPECT_EQ(bytes, "not encrypted at all");
    ASSERT_TRUE(m_pages.Load("/img/tick.gif", bytes));
    EXPECT_EQ(bytes, "GIF89a");
}

}  // namespace
