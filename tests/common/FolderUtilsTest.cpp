// Folder utilities: the engine data folder, documents and desktop folders, folder trees; fakes a temporary
// emulation root and hides shell functions.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/FolderUtils.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "platform/win32/LateBound.h"
#include "tests/support/TestRoot.h"

namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the lifetime of the object.
class CEnvVar {
   public:
    CEnvVar(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = getenv(name)) m_old = old;
        setenv(name, value.c_str(), 1);
    }
    ~CEnvVar() {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }
    CEnvVar(const CEnvVar&) = delete;
    CEnvVar& operator=(const CEnvVar&) = delete;

   private:
    const char* m_name;
    std::optional<std::string> m_old;
};

class FolderUtilsTest : public ::testing::Test {
   protected:
    void TearDown() override { zbw::ResetLateBound(); }

    CString WindowsPath(const std::string& relative) const {
        return zbw::ToWindowsPath(m_root.Path(relative));
    }

    CTestRoot m_root;
};

TEST_F(FolderUtilsTest, EngineDataFolderIsMadeUnderTheApplicationData) {
    std::string data = m_root.Path("home/.local/share/ZBEngine");
    ASSERT_FALSE(fs::exists(data));
    EXPECT_EQ(GetEngineDataFolder(), WindowsPath("home/.local/share/ZBEngine") + u"\\");
    EXPECT_TRUE(fs::is_directory(data));
    EXPECT_EQ(GetEngineDataFolder(), WindowsPath("home/.local/share/ZBEngine") + u"\\");
}

TEST_F(FolderUtilsTest, EngineDataFolderIsEmptyWithoutTheShellOrTheFolder) {
    zbw::HideLateBound("shell32!SHGetSpecialFolderPathW");
    EXPECT_EQ(GetEngineDataFolder(), CString());
    zbw::ResetLateBound();
    WriteHostFile(m_root.Path("file"), "x");
    CEnvVar data("XDG_DATA_HOME", m_root.Path("file"));  // a file where the folder should be
    EXPECT_EQ(GetEngineDataFolder(), CString());
}

TEST_F(FolderUtilsTest, DocumentsAndDesktopComeFromEitherLibrary) {
    fs::create_directories(m_root.Path("docs"));
    CEnvVar documents("XDG_DOCUMENTS_DIR", m_root.Path("docs"));
    CEnvVar desktop("XDG_DESKTOP_DIR", m_root.Path("desk"));
    EXPECT_EQ(GetDocumentsFolder(), WindowsPath("docs"));
    EXPECT_EQ(GetDesktopFolder(), WindowsPath("desk"));
    zbw::HideLateBound("shell32!SHGetFolderPathW");
    EXPECT_EQ(GetDocumentsFolder(), WindowsPath("docs"));
    zbw::HideLateBound("SHFolder");
    EXPECT_EQ(GetDocumentsFolder(), CString());
    EXPECT_EQ(GetDesktopFolder(), CString());
}

struct TreeCase {
    const char16_t* path;
    bool result;
    std::vector<std::string> madeFolders;  // under the X: folder
};

TEST_F(FolderUtilsTest, CreateDirectoryTreeMakesTheFolderOfTheLastComponent) {
    fs::create_directories(m_root.Path("x/old"));
    WriteHostFile(m_root.Path("x/f.txt"), "x");
    ASSERT_TRUE(zbw::MapDrive(u'X', m_root.Path("x")));
    const TreeCase cases[] = {
        {u"X:\\file", true, {}},
        {u"x:\\file", true, {}},
        {u"X:\\a\\b\\c.txt", true, {"a", "a/b"}},
        {u"X:\\d\\e\\", true, {"d", "d/e"}},
        {u"X:\\old\\new.txt", true, {}},
        {u"X:\\f.txt\\sub\\x", false, {}},
    };
    for (const TreeCase& c : cases) {
        auto before = std::distance(fs::recursive_directory_iterator(m_root.Path("x")), {});
        EXPECT_EQ(CreateDirectoryTree(c.path), c.result) << zbw::ToUtf8(c.path);
        auto after = std::distance(fs::recursive_directory_iterator(m_root.Path("x")), {});
        EXPECT_EQ(after - before, static_cast<long>(c.madeFolders.size())) << zbw::ToUtf8(c.path);
        for (const std::string& folder : c.madeFolders)
            EXPECT_TRUE(fs::is_directory(m_root.Path("x/" + folder))) << folder;
    }
    EXPECT_FALSE(fs::exists(m_root.Path("x/a/b/c.txt")));
}

}  // namespace
