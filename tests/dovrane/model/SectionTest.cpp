// The section list in memory: sections, keys, key types, programming errors; fakes nothing.
#include <gtest/gtest.h>

#include "dovrane/model/SectionList.h"
#include "platform/classlib/InvalidArgException.h"

namespace {

// A list with the sections "Settings" (key "Speed" = "100") and "Filters".
class SectionTest : public ::testing::Test {
   protected:
    void SetUp() override {
        ASSERT_TRUE(AddSection(list, u"Settings"));
        ASSERT_TRUE(AddSection(list, u"Filters"));
        ASSERT_TRUE(WriteKey(list, u"Settings", u"Speed", u"100", u";c"));
    }
    CSection& At(int index) { return list.Section(index); }

    CSectionList list;
};

TEST_F(SectionTest, AddSectionAppendsOnlyNewNames) {
    INT_PTR index = -1;
    EXPECT_TRUE(AddSection(list, u"Archive", &index));
    EXPECT_EQ(index, 2);
    EXPECT_EQ(At(2).m_nState, SECTION_STATE_ADDED);
    EXPECT_TRUE(At(2).m_strComment.IsEmpty());
    EXPECT_EQ(At(2).m_Keys.GetSize(), 0);

    index = -1;
    EXPECT_FALSE(AddSection(list, u"Settings", &index));
    EXPECT_EQ(index, -1);
    EXPECT_EQ(list.GetSize(), 3);
    EXPECT_TRUE(AddSection(list, u"settings")) << "names are case-sensitive";
}

TEST_F(SectionTest, FindIsExactAndTakesTheFirst) {
    list.Add(new CSection(u"Settings", u"", SECTION_STATE_READ));
    EXPECT_EQ(FindSection(list, u"Settings"), 0);
    EXPECT_EQ(FindSection(list, u"settings"), -1);
    EXPECT_EQ(FindSection(list, u"Setting"), -1);
    EXPECT_EQ(FindKey(At(0), u"Speed"), 0);
    EXPECT_EQ(FindKey(At(0), u"speed"), -1);
}

TEST_F(SectionTest, WriteKeyAddsOnlyToExistingSectionsAndNewKeys) {
    INT_PTR index = -1;
    EXPECT_FALSE(WriteKey(list, u"Missing", u"K", u"v", nullptr, &index));
    EXPECT_EQ(index, -1);

    EXPECT_FALSE(WriteKey(list, u"Settings", u"Speed", u"5")) << "an existing key keeps its value";
    CString value;
    ASSERT_TRUE(ReadKey(list, u"Settings", u"Speed", &value));
    EXPECT_EQ(value, u"100");

    At(1).m_nState = SECTION_STATE_READ;
    EXPECT_TRUE(WriteKey(list, u"Filters", u"Num. of Filters", u"0", nullptr, &index));
    EXPECT_EQ(index, 0);
    const KEY_STRUCT& key = At(1).m_Keys[0];
    EXPECT_EQ(key.nState, SECTION_STATE_ADDED);
    EXPECT_TRUE(key.strComment.IsEmpty());
    EXPECT_EQ(At(1).m_nState, SECTION_STATE_ADDED);
}

TEST_F(SectionTest, ReadKeyCopiesWhatIsAskedAndNothingWhenMissing) {
    CString value = u"untouched";
    CString comment = u"untouched";
    EXPECT_FALSE(ReadKey(list, u"Settings", u"Nope", &value, &comment));
    EXPECT_FALSE(ReadKey(list, u"Nope", u"Speed", &value, &comment));
    EXPECT_EQ(value, u"untouched");
    EXPECT_EQ(comment, u"untouched");
    EXPECT_TRUE(ReadKey(list, u"Settings", u"Speed", nullptr, nullptr));
    EXPECT_TRUE(ReadKey(list, u"Settings", u"Speed", &value, &comment));
    EXPECT_EQ(value, u"100");
    EXPECT_EQ(comment, u";c");
}

TEST_F(SectionTest, KeyTypeRecordsWrittenKeysOnlyWhenPresent) {
    EXPECT_FALSE(SetKeyType(list, u"Settings", u"Speed"));
    EXPECT_EQ(FindSection(list, u"KeyType"), -1);

    ASSERT_TRUE(AddSection(list, u"KeyType"));
    EXPECT_TRUE(WriteKey(list, u"Settings", u"Copy Buffer", u"32768"));
    const CSection& keyType = At(FindSection(list, u"KeyType"));
    ASSERT_EQ(keyType.m_Keys.GetSize(), 1);
    EXPECT_EQ(keyType.m_Keys[0].strKey, u"Settings{Copy Buffer}");
    EXPECT_TRUE(keyType.m_Keys[0].strValue.IsEmpty());
    EXPECT_EQ(keyType.m_Keys[0].nState, SECTION_STATE_ADDED);
}

TEST_F(SectionTest, NullNamesAndBadIndexesAreProgrammingErrors) {
    EXPECT_THROW(FindSection(list, nullptr), CInvalidArgException);
    EXPECT_THROW(FindKey(At(0), nullptr), CInvalidArgException);
    EXPECT_THROW(ReadKey(list, u"Settings", nullptr, nullptr), CInvalidArgException);
    EXPECT_THROW(list.Section(5), CInvalidArgException);
    EXPECT_THROW(At(0).m_Keys[3], CInvalidArgException);
}

TEST_F(SectionTest, FreeSectionsEmptiesTheList) {
    FreeSections(list);
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_TRUE(AddSection(list, u"Settings"));
}

}  // namespace
