// The one folder-list rule that the folder check and the folder monitor share: pairs of path and
// flag, trimmed paths with a separator, empty paths skipped, a last path without flag taken as set.
#include <gtest/gtest.h>

#include <vector>

#include "dovrane/threads/FolderList.h"
#include "platform/base/TextConvert.h"

namespace {

struct LISTCASE {
    const char16_t* list;
    std::vector<FOLDERLISTITEM> items;
};

TEST(FolderListTest, PairsOfPathAndFlag) {
    const LISTCASE cases[] = {
        {u"C:\\a|1|D:\\b|0|", {{u"C:\\a\\", true}, {u"D:\\b\\", false}}},
        {u"C:\\a|1|D:\\b|0", {{u"C:\\a\\", true}, {u"D:\\b\\", false}}},
        {u"  C:/a/ |0|", {{u"C:/a/", false}}},
        {u"C:\\a\\|2|", {{u"C:\\a\\", true}}},
        {u"C:\\a|0|D:\\b", {{u"C:\\a\\", false}, {u"D:\\b\\", true}}},
        {u"C:\\a", {{u"C:\\a\\", true}}},
        {u"|1| |0|C:\\a|0|", {{u"C:\\a\\", false}}},
        {u"C:\\a||", {{u"C:\\a\\", false}}},
        {u"", {}},
        {u"|", {}},
    };
    for (const LISTCASE& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.list));
        const std::vector<FOLDERLISTITEM> items = ParseFolderList(c.list);
        ASSERT_EQ(items.size(), c.items.size());
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].strPath, c.items[i].strPath) << i;
            EXPECT_EQ(items[i].bFlag, c.items[i].bFlag) << i;
        }
    }
}

TEST(FolderListTest, AppendedItemsReadBack) {
    CString list;
    AppendFolderListItem(list, u"C:\\a\\", true);
    AppendFolderListItem(list, u"\\\\srv\\share", false);
    EXPECT_EQ(list, CString(u"C:\\a\\|1|\\\\srv\\share|0|"));
    const std::vector<FOLDERLISTITEM> items = ParseFolderList(list);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].strPath, CString(u"\\\\srv\\share\\"));
    EXPECT_FALSE(items[1].bFlag);
}

}  // namespace
