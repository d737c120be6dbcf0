// The page folder: request paths that would leave it, the cache keyed on the file's last
// write, and the encrypted forms.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>

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

    // Sets the file's last write to a fixed time plus seconds.
    static void SetWriteTime(const std::string& path, int seconds) {
        const timespec times[2] = {{kBaseTime, 0}, {kBaseTime + seconds, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    static constexpr time_t kBaseTime = 1600000000;

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

// Either key alone marks the file changed. Times are set, so no case waits for the clock.
TEST_F(PageFilesTest, ChangedFileIsReadAgainUnchangedComesFromTheCache) {
    struct CASE {
        const char* name;
        const char* text;
        int laterSeconds;
    };
    const CASE cases[] = {
        {"later write, same size", "status v2", 10},
        {"same write time, other size", "status v2, longer", 0},
    };
    const std::string path = m_root.Path("html/status.htm");
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteHostFile(path, "status v1"));
        SetWriteTime(path, 0);
        std::string bytes;
        bool cached = true;
        ASSERT_TRUE(m_pages.Load("/status.htm", bytes, &cached));
        EXPECT_FALSE(cached);
        ASSERT_TRUE(m_pages.Load("/status.htm", bytes, &cached));
        EXPECT_TRUE(cached);
        ASSERT_TRUE(WriteHostFile(path, c.text));
        SetWriteTime(path, c.laterSeconds);
        ASSERT_TRUE(m_pages.Load("/status.htm", bytes, &cached));
        EXPECT_FALSE(cached);
        EXPECT_EQ(bytes, c.text);
    }
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
