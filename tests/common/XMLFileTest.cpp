// CXMLFile: saving and loading each encoding, failures, saves killed half-way in forked children; fakes a
// temporary emulation root.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <string>

#include "common/XMLFile.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestRoot.h"

namespace {

const CString kDeclaration = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n";

std::string Utf16Le(const CString& text) {
    std::string bytes;
    for (char16_t ch : text.GetStdString()) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    return bytes;
}

// Every file below a folder with its contents, so a test sees anything a call left behind.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        files[entry.path().string()] =
            entry.is_regular_file() ? ReadHostFile(entry.path().string()) : "<dir>";
    return files;
}

// Files live in the folder "d" of the test root.
class XMLFileTest : public ::testing::Test {
   protected:
    void SetUp() override { std::filesystem::create_directories(Host("folder.xml")); }
    std::string Host(const std::string& name) const { return m_root.Path("d/" + name); }
    CString WinPath(const std::string& name) const { return zbw::ToWindowsPath(Host(name)); }

    CTestRoot m_root;
    CXMLFile m_file;
};

}  // namespace

TEST_F(XMLFileTest, SavesUtf16WithMarkAndLoadsItBack) {
    const CString text =
        kDeclaration + u"<SETTINGS>\r\n<NAME>Gr\u00FC\u00DFe \u20AC &amp;</NAME>\r\n</SETTINGS>\r\n";
    ASSERT_TRUE(m_file.Save(WinPath("a.xml"), text)) << zbw::ToUtf8(m_file.GetError());
    EXPECT_EQ(ReadHostFile(Host("a.xml")), "\xFF\xFE" + Utf16Le(text));

    ASSERT_TRUE(m_file.Load(WinPath("a.xml"))) << zbw::ToUtf8(m_file.GetError());
    EXPECT_EQ(m_file.GetError(), CString());
    CMarkup& xml = m_file.GetMarkup();
    EXPECT_EQ(xml.GetDoc(), text);
    ASSERT_TRUE(xml.FindChildElement(u"NAME"));
    EXPECT_EQ(xml.GetChildElementText(), CString(u"Gr\u00FC\u00DFe \u20AC &"));
}

TEST_F(XMLFileTest, SaveReplacesAnExistingFileAndLeavesNothingElse) {
    ASSERT_TRUE(WriteHostFile(Host("a.xml"), "old"));
    ASSERT_EQ(chmod(Host("a.xml").c_str(), 0640), 0);
    ASSERT_TRUE(m_file.Save(WinPath("a.xml"), u"<a/>"));
    EXPECT_EQ(Snapshot(Host("")),
              (std::map<std::string, std::string>{{Host("a.xml"), "\xFF\xFE" + Utf16Le(u"<a/>")},
                                                  {Host("folder.xml"), "<dir>"}}));
    struct stat st {};
    ASSERT_EQ(stat(Host("a.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(XMLFileTest, LoadsEachEncoding) {
    const struct {
        const char* what;
        std::string bytes;
        CString doc;
    } cases[] = {
        {"UTF-16 with mark", "\xFF\xFE" + Utf16Le(u"<a>\u00E9</a>"), u"<a>\u00E9</a>"},
        {"UTF-16 without mark keeps its first character", Utf16Le(u"<a>\u00E9</a>"), u"<a>\u00E9</a>"},
        {"ANSI", "<a>\xE9</a>", u"<a>\u00E9</a>"},
        {"ANSI beyond Latin-1", "<a>\x80\x9C</a>", u"<a>\u20AC\u0153</a>"},
        {"text ends at the first zero", std::string("<a>x</a>\0<b>", 12), u"<a>x</a>"},
        {"UTF-16 ends at the first zero", "\xFF\xFE" + Utf16Le(u"<a/>") + std::string("\0\0x\0", 4), u"<a/>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteHostFile(Host("in.xml"), c.bytes));
        ASSERT_TRUE(m_file.Load(WinPath("in.xml"))) << zbw::ToUtf8(m_file.GetError());
        EXPECT_EQ(m_file.GetMarkup().GetDoc(), c.doc);
        EXPECT_TRUE(m_file.GetMarkup().FindElement(u"a"));
    }
}

TEST_F(XMLFileTest, LoadFailures) {
    EXPECT_FALSE(m_file.Load(WinPath("missing.xml")));
    EXPECT_EQ(m_file.GetError(), CString(u"Unable to open XML file for parsing"));

    ASSERT_TRUE(WriteHostFile(Host("bad.xml"), "\xFF\xFE" + Utf16Le(u"<a></b>")));
    EXPECT_FALSE(m_file.Load(WinPath("bad.xml")));
    EXPECT_EQ(m_file.GetError(), CString(u"End tag does not correspond to a"));
    EXPECT_FALSE(m_file.GetMarkup().FindElement());
}

// A save that fails at any step leaves every file as it was and no temporary file behind.
TEST_F(XMLFileTest, FailedSaveLeavesTheOldFile) {
    ASSERT_TRUE(WriteHostFile(Host("settings.xml"), "\xFF\xFE" + Utf16Le(u"<old/>")));
    ASSERT_TRUE(WriteHostFile(Host("folder.xml/inside"), "kept"));
    const CString big = kDeclaration + u"<SETTINGS>" + CString(u'x', 4000) + u"</SETTINGS>";
    const struct {
        const char* what;
        std::string target;
        bool limitFileSize;
        CString error;
    } cases[] = {
        {"the write fails", "settings.xml", true, u"Unable to save XML file"},
        {"the target cannot be replaced", "folder.xml", false, u"Unable to save XML file"},
        {"the folder is missing", "missing/settings.xml", false,
         u"Unable to open XML file for saving settings"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = Snapshot(Host(""));
        bool saved;
        if (c.limitFileSize) {
            CFileSizeLimit limit(64);
            saved = m_file.Save(WinPath(c.target), big);
        } else {
            saved = m_file.Save(WinPath(c.target), big);
        }
        EXPECT_FALSE(saved);
        EXPECT_EQ(m_file.GetError(), c.error);
        EXPECT_EQ(Snapshot(Host("")), before);
    }
    ASSERT_TRUE(m_file.Load(WinPath("settings.xml")));
    EXPECT_TRUE(m_file.GetMarkup().FindElement(u"old"));
}

// Saves killed in the middle (here by the file-size signal) leave one temporary file at most,
// and the next save takes it over.
TEST_F(XMLFileTest, KilledSavesLeaveNothingBehindTheNextSave) {
    const CString big = kDeclaration + u"<SETTINGS>" + CString(u'x', 4000) + u"</SETTINGS>";
    for (int killed = 0; killed < 2; ++killed) {
        pid_t pid = fork();
        if (pid == 0) {
            rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            std::signal(SIGXFSZ, SIG_DFL);
            rlimit small{64, 64};
            setrlimit(RLIMIT_FSIZE, &small);
            CXMLFile file;
            file.Save(WinPath("settings.xml"), big);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
    }
    EXPECT_EQ(Snapshot(Host("")).size(), 2u) << "one temporary file beside the folder";
    ASSERT_TRUE(m_file.Save(WinPath("settings.xml"), u"<a/>"));
    EXPECT_EQ(Snapshot(Host("")),
              (std::map<std::string, std::string>{{Host("settings.xml"), "\xFF\xFE" + Utf16Le(u"<a/>")},
                                                  {Host("folder.xml"), "<dir>"}}));
}
