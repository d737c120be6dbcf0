// The profile description text, section by section; fakes a temporary emulation root.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dovrane/model/ProfileDescription.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "tests/support/TestRoot.h"

namespace {

using Builder = void (*)(const CSettings&, CString&);

// Settings loaded from a small ANSI profile written by the test; entries never write back here.
class ProfileDescriptionTest : public ::testing::Test {
   protected:
    void SetUp() override { CRegEntry::SetWriteBack(false); }
    void TearDown() override { CRegEntry::SetWriteBack(true); }

    // keys: the lines of the "Settings" section; more: further sections.
    std::string Describe(Builder build, const std::string& keys, const std::string& more = "") {
        std::string text = "[Zebrodyne Profile - File Version 4.0.0]\r\n[Settings]\r\n" + keys + more;
        EXPECT_TRUE(WriteHostFile(root.Path("p.fsf"), text));
        CSettings settings;
        settings.InitEntries();
        CString error;
        EXPECT_TRUE(settings.Load(zbw::ToWindowsPath(root.Path("p.fsf")), false, error));
        CString out = u"stale";
        build(settings, out);
        return zbw::ToUtf8(out);
    }

    struct Case {
        std::string keys;
        std::string more;
        std::string expected;
    };
    void CheckCases(Builder build, const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.keys + c.more);
            EXPECT_EQ(Describe(build, c.keys, c.more), c.expected);
        }
    }

    CTestRoot root;
};

TEST_F(ProfileDescriptionTest, Folders) {
    CheckCases(
        BuildProfileDescription,
        {{"Source Folder=C:\\s\r\nTarget Folder=D:\\t\r\nInclude Subfolders Flags=1\r\n", "",
          "Source: \"C:\\s\" <br>- Target: \"D:\\t\" <br>- Include Subfolders: Yes"},
         {"Source Folder=C:\\s\r\nTarget Folder=D:\\t\r\nInclude Subfolders Flags=\r\n", "",
          "Source: \"C:\\s\" <br>- Target: \"D:\\t\" <br>- Include Subfolders: No"},
         {"Source Folder=C:\\a|C:\\b\r\nTarget Folder=D:\\t\r\nInclude Subfolders Flags=0|0\r\n", "",
          "\"C:\\a\" &lt;to&gt; \"D:\\t\""},
         {"Source Folder=C:\\a\r\nTarget Folder=D:\\t|E:\\u\r\nInclude Subfolders Flags=0|1\r\n"
          "Continue even if sources/targets do not exist=1\r\n",
          "", "Source: \"C:\\a\" <br>- Target: \"D:\\t|E:\\u\" <br>- Include Subfolders: No"},
         {"Source Folder=C:\\a|C:\\b\r\nTarget Folder=D:\\t|E:\\u|F:\\v\r\nInclude Subfolders Flags=0|1\r\n"
          "Continue even if sources/targets do not exist=1\r\nLock Source=1\r\nComEnc String=000100\r\n",
          "",
          "Sources: (Locked)<br>- Targets: (Encrypted)<br>- \"C:\\a\" &lt;to&gt; \"D:\\t\"<br>- "
          "\"C:\\b\" &lt;to&gt; \"E:\\u\" (Include Subfolders)<br>-  &lt;to&gt; \"F:\\v\"<br>- "
          "Continue even if some source/target folders are inaccessible"},
         {"Source Folder=C:\\s\r\nTarget Folder=D:\\t\r\nComEnc String=110000\r\nLock Target=1\r\n"
          "Target Archive Folder=E:\\arc\r\n",
          "",
          "Source: \"C:\\s\"  (Compressed) (Encrypted)<br>- Target: \"D:\\t\"  (Locked) (Archived)<br>- "
          "Include Subfolders: Yes"},
         {"Source Folder=C:\\s\r\nTarget Folder=D:\\t\r\nComEnc String=11000\r\n", "",
          "Source: \"C:\\s\" <br>- Target: \"D:\\t\" <br>- Include Subfolders: Yes"},
         {"Source Folder=C:\\R&D <new>\r\nTarget Folder=D:\\t\r\n", "",
          "Source: \"C:\\R&amp;D &lt;new&gt;\" <br>- Target: \"D:\\t\" <br>- Include Subfolders: Yes"},
         {"Connect to network with default user credentials=1\r\nConnect to network with credentials=1\r\n"
          "Connect network path=\\\\srv\\share\r\nConnect user=bob\r\nDisconnect from network when done=1\r\n"
          "Create sources/targets that do not exist=1\r\n",
          "",
          "Create sources/targets that do not exist<br>- Network: connect using default "
          "user's credentials<br>- Network: connect to \"\\\\srv\\share\" with user \"bob\" and disconnect "
          "when "
          "done"}});
}

TEST_F(ProfileDescriptionTest, Filters) {
    const std::string pair = "Source Folder=C:\\s\r\nTarget Folder=D:\\t\r\nInclude Subfolders Flags=0\r\n";
    const std::string head = "Source: \"C:\\s\" <br>- Target: \"D:\\t\" <br>- Include Subfolders: No<br>- ";
    CheckCases(
        BuildProfileDescription,
        {{pair,
          "[Filters]\r\nNum. of Filters=4\r\nFilter 0=Include\r\nFilter 1=*.doc\r\nFilter 2=X\r\nFilter "
          "3=Include\r\n"
          "Exclude Hidden Files=1\r\nExclude Read-Only Files=1\r\n"
          "[FiltersDirs]\r\nNum. of Filters=3\r\nFilter 0=include\r\nFilter 1=tmp\r\nFilter 2=x\r\n"
          "[Subfolder Filters]\r\nExclude Empty Subfolders=1\r\nExclude Read-Only Subfolders=1\r\n",
          head +
              "Include files: \"*.doc\" (case sensitive)<br>- Exclude hidden files<br>- Exclude read-only "
              "files<br>- Exclude subfolders: \"tmp\"<br>- Exclude empty subfolders<br>- Exclude read-only "
              "subfolders"},
         {pair, "[Filters]\r\nExclude After Date=not a date\r\nExclude Days Ago=-3\r\n",
          head.substr(0, head.size() - 6)}});
}

TEST_F(ProfileDescriptionTest, DatesNumbersAndSizesFollowTheLocale) {
    struct LocaleCase {
        const char* locale;
        std::string after, before;
        std::string expected;
    };
    const std::vector<LocaleCase> cases = {
        {"en-US", "5/7/2024", "12/24/2023 18:30",
         "Exclude files created or modified after 5/7/2024<br>- Exclude files created or modified before "
         "12/24/2023<br>- Exclude files created or modified more than 1,500 day(s) ago<br>- Exclude files "
         "greater "
         "than 1.50KB<br>- Exclude files smaller than 1,000B"},
        {"de-DE", "07.05.2024", "24.12.2023 18:30",
         "Exclude files created or modified after 07.05.2024<br>- Exclude files created or modified before "
         "24.12.2023<br>- Exclude files created or modified more than 1.500 day(s) ago<br>- Exclude files "
         "greater "
         "than 1,50KB<br>- Exclude files smaller than 1.000B"},
    };
    for (const LocaleCase& c : cases) {
        SCOPED_TRACE(c.locale);
        root.UseLocale(c.locale);
        std::string out =
            Describe(BuildProfileDescription, "",
                     "[Filters]\r\nExclude After Date=" + c.after + "\r\nExclude Before Date=" + c.before +
                         "\r\nExclude Days Ago=1500\r\nExclude Greater than bytes=1536\r\n"
                         "Exclude Smaller than bytes=1000\r\n");
        EXPECT_EQ(out, c.expected);
    }
}

TEST_F(ProfileDescriptionTest, Comparison) {
    CheckCases(
        BuildComparisonDescription,
        {{"Comparison Type=1\r\nCRC Chunk Size in Bytes=0\r\nIgnore Timestamp=1\r\n", "",
          "Comparison Type: CRC   (CRC calculated on entire file)"},
         {"", "", "Comparison Type: Size and Timestamp"},
         {"Comparison Type=2\r\nCRC Chunk Size in Bytes=4096\r\nIgnore 2 seconds difference=1\r\n"
          "Ignore File Size=1\r\nIgnore Timestamp=1\r\nSource-Target Offset=60\r\n",
          "",
          "Comparison Type: Both   (CRC calculated on initial 4096 bytes of file)<br>- Ignore 2 seconds "
          "difference<br>- Ignore Timestamp<br>- Ignore Size<br>- Time difference between Source and Target "
          "(minutes): 60"},
         {"Comparison Type=7\r\nSource-Target Offset=-5\r\n", "", "Comparison Type: Size and Timestamp"}});
}

TEST_F(ProfileDescriptionTest, Execution) {
    const std::string noArchive =
        "No archive for deleted/replaced source files<br>- No archive for deleted/replaced target files";
    CheckCases(
        BuildExecutionDescription,
        {{"", "", "Method: None<br>- " + noArchive},
         {"Execution Method=3\r\nPriority Class=1\r\n", "",
          "Method: Replication (Augment Target)<br>- " + noArchive},
         {"Priority Class=4\r\nUnatSync=1\r\n", "",
          "Method: None<br>- No overwrite / read-only / error confirmations<br>- " + noArchive +
              "<br>- Process Priority: Normal"},
         {"Monitor Conflicts=1\r\nSync Tracking Database=C:\\db\r\nSync Conflicts=1\r\nLog File=C:\\l.log\r\n"
          "Log File Size=100\r\nEmpty Log=1\r\nLog Only Summary and Exceptions=1\r\n",
          "",
          "Method: None<br>- Tracking Database: \"C:\\db\" (synchronize/backup/replicate conflicts)<br>- Log "
          "File: "
          "\"C:\\l.log\" (max 100 KB) (empty log file each run)<br>- Log only summary and errors<br>- " +
              noArchive},
         // A deliberate change: the size is computed in 64 bits, where 32 bits would wrap 5000 MB to
         // 904 MB.
         {"Limit Bandwidth=1\r\nBandwidth Value=5000\r\nBandwidth Unit=1\r\n", "",
          "Method: None<br>- " + noArchive + "<br>- Limit Bandwidth to: 4.88GB/Sec"},
         {"Limit Bandwidth=1\r\nBandwidth Value=3\r\nBandwidth Unit=0\r\nSpeed=50\r\nFlush Buffer=1\r\n", "",
          "Method: None<br>- " + noArchive +
              "<br>- Limit Bandwidth to: 3.00KB/Sec<br>- Speed: 50 Buffer Size: 32768 (flush the buffer "
              "every "
              "write)"},
         {"SCT=1\r\nTry Copy In Use Files=1\r\nUse Volume Shadow Copy=1\r\nUse Volume Shadow Copy For=2\r\n"
          "Copy File Permissions=1\r\nCopy File/Folder Owner=1\r\nAlways Verify CRC=1\r\nScripts After=1\r\n",
          "",
          "Method: None<br>- " + noArchive +
              "<br>- Copy files even if timestamp changes after initial comparison<br>- Try to copy files "
              "that are "
              "in use by other applications<br>- Use 'Volume Shadow Copy' to copy open files for both source "
              "and "
              "target<br>- Copy file/folder permissions<br>- Copy file/folder owner<br>- Verify successful "
              "file "
              "copy by checking file CRC<br>- Run custom scripts after execution"}});
}

TEST_F(ProfileDescriptionTest, Archive) {
    CheckCases(
        BuildArchiveDescription,
        {{"", "",
          "No archive for deleted/replaced source files\r\nNo archive for deleted/replaced target files\r\n"},
         {"Source Archive Folder=E:\\a<1>\r\nComEnc String=000011\r\nSmart Archive=1\r\nNum. Copies=1200\r\n"
          "Append Path=1\r\nMax Archive Size=2048\r\n",
          "[ArchiveFilters]\r\nNum. of Filters=3\r\nFilter 0=Include\r\nFilter 1=*.bak\r\nFilter 2=\r\n",
          "Archive deleted/replaced source files to: \"E:\\a<1>\"  (Compressed) (Encrypted)\r\n"
          "No archive for deleted/replaced target files\r\nSmart archive\r\nArchive max. 1,200 copies per "
          "file\r\nAppend Source/Target path to archive folder(s)\r\nArchive include: \"*.bak\"\r\n"
          "Do not keep archive copies of files whose size is greater than 2.00KB\r\n"}});
}

}  // namespace
