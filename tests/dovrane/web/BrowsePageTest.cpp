// The browse page: the listing of a folder with its links, the remembered folder, the empty-folder
// texts, the escaping of names and the refusal for clients on other computers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "common/RegUtils.h"
#include "dovrane/web/BrowsePage.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "tests/support/TestRoot.h"

namespace {

constexpr LPCWSTR kTags =
    u"[#BROWSE_CURRENT_FOLDER#][#BROWSE_FOLDERS#][#BROWSE_PROFILES#][#BROWSE_LOCATIONS#][#BROWSE_DRIVES#]";

class BrowsePageTest : public testing::Test {
   protected:
    BrowsePageTest() {
        m_desktop = m_root.Path("desk");
        mkdir(m_desktop.c_str(), 0755);
        setenv("XDG_DESKTOP_DIR", m_desktop.c_str(), 1);  // the root puts it back
        setenv("XDG_DOCUMENTS_DIR", m_root.Path("docs").c_str(), 1);
        mkdir(m_root.Path("docs").c_str(), 0755);
    }
    void Folder(const std::string& name) { mkdir((m_desktop + "/" + name).c_str(), 0755); }
    void File(const std::string& name) { ASSERT_TRUE(WriteHostFile(m_desktop + "/" + name, "x")); }
    static std::string Build(const char* folder, bool local = true) {
        CString page(kTags);
        BuildBrowsePage(page, zbw::FromUtf8(folder), local);
        return zbw::ToUtf8(page);
    }
    static std::string Remembered() {
        CString folder;
        ReadRegStringCU(u"software\\ZBEngine\\ZBEngine\\Settings", u"lfbrowse", folder);
        return zbw::ToUtf8(folder);
    }

    CTestRoot m_root;
    std::string m_desktop;
};

TEST_F(BrowsePageTest, DesktopListsItsFoldersAndProfilesAndIsRemembered) {
    Folder("sub");
    Folder("Zebrodyne Pro");
    File("a.fsf");
    File("notes.txt");

    std::string page = Build("<desktop>");

    EXPECT_EQ(Remembered(), "<desktop>");
    EXPECT_NE(page.find("desk]"), std::string::npos) << "current folder: " << page;
    EXPECT_NE(
        page.find("%5csub><img src=\"img/fld.gif\" width=\"16\" height=\"16\" align=\"texttop\">sub</a><br>"),
        std::string::npos)
        << page;
    EXPECT_NE(page.find("<img src=\"img/fup.gif\" width=\"16\" height=\"16\" align=\"texttop\">..</a><br>"),
              std::string::npos);
    EXPECT_NE(page.find("<strong>Zebrodyne Pro</strong>"), std::string::npos);
    EXPECT_NE(page.find("%5ca%2efsf'); return false;\"><img src=\"img/fsf.gif\" width=\"16\" height=\"16\" "
                        "align=\"texttop\">a.fsf</a><br>"),
              std::string::npos);
    EXPECT_EQ(page.find("notes.txt"), std::string::npos);
    EXPECT_NE(
        page.find(
            "[<a href='?CURRFOLDER=<desktop>'>Desktop</a>&nbsp;&nbsp;<a href='?CURRFOLDER=<documents>'>My "
            "Documents</a>]"),
        std::string::npos);
    EXPECT_NE(page.find("<a href='?CURRFOLDER=C%3a%5c'>C:\\</a>&nbsp;&nbsp;"), std::string::npos);
}

TEST_F(BrowsePageTest, WithoutAFolderTheRememberedOneIsShownThenTheDocuments) {
    EXPECT_NE(Build("").find("docs]"), std::string::npos);
    EXPECT_EQ(Remembered(), "<documents>");
    Build("<desktop>");
    EXPECT_NE(Build("").find("desk]"), std::string::npos);
}

TEST_F(BrowsePageTest, EmptyAndUnreadableFoldersGiveTheirTexts) {
    std::string empty = Build("<desktop>");
    EXPECT_NE(empty.find("<em>No profiles found in this folder</em>"), std::string::npos);

    std::string missing = Build(zbw::ToUtf8(zbw::ToWindowsPath(m_root.Path("gone"))).c_str());
    EXPECT_NE(missing.find("<em>No folders found</em>"), std::string::npos);
    EXPECT_NE(missing.find("<em>No profiles found in this folder</em>"), std::string::npos);
}

TEST_F(BrowsePageTest, NamesAreEscapedOnThePage) {
    Folder("a&b");
    File("<i>x.fsf");
    std::string page = Build("<desktop>");
    EXPECT_NE(page.find(">a&amp;b</a>"), std::string::npos) << page;
    EXPECT_NE(page.find(">&lt;i&gt;x.fsf</a>"), std::string::npos);
    EXPECT_EQ(page.find("<i>"), std::string::npos);
}

TEST_F(BrowsePageTest, ClientsOnOtherComputersAreRefusedAndNothingIsStored) {
    Folder("secret");
    std::string page = Build("<desktop>", false);
    EXPECT_EQ(page.find("secret"), std::string::npos);
    EXPECT_NE(page.find(zbw::ToUtf8(CString(kBrowseRefused))), std::string::npos);
    EXPECT_EQ(Remembered(), "");
}

}  // namespace
