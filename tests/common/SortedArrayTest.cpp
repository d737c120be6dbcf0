// The sorted array templates: order, insertion, the insertion-sorted runs; fakes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "common/SortedArray.h"
#include "platform/base/CString.h"

namespace {

// An element that counts the comparisons the sort makes.
struct COUNTEDKEY {
    int value = 0;
    static inline int comparisons = 0;
    bool operator<(const COUNTEDKEY& other) const {
        ++comparisons;
        return value < other.value;
    }
    bool operator==(const COUNTEDKEY& other) const { return value == other.value; }
};

// Ordered by key only, so equal keys can be told apart by tag.
struct TAGGEDKEY {
    int key = 0;
    int tag = 0;
    bool operator<(const TAGGEDKEY& other) const { return key < other.key; }
    bool operator==(const TAGGEDKEY& other) const { return key == other.key && tag == other.tag; }
};

struct NAMEDRECORD {
    CString name;
    int size = 0;
};

int CompareSize(const void* element, const void* key) {
    return static_cast<const NAMEDRECORD*>(element)->size - *static_cast<const int*>(key);
}

std::vector<CString> Texts(const CSortedArray<CString, CString>& array) {
    return std::vector<CString>(array.GetData(), array.GetData() + array.GetSize());
}

int CountComparisonsOfSort(const std::vector<int>& values) {
    CSortedArray<COUNTEDKEY, COUNTEDKEY> array;
    for (int v : values) array.Add(COUNTEDKEY{v});
    COUNTEDKEY::comparisons = 0;
    array.Sort();
    return COUNTEDKEY::comparisons;
}

std::vector<int> Ascending(int n) {
    std::vector<int> values(n);
    for (int i = 0; i < n; ++i) values[i] = i;
    return values;
}

}  // namespace

TEST(SortedArrayTest, EmptyArray) {
    CSortedArray<CString, CString> array;
    EXPECT_EQ(array.Find(u"a"), -1);
    EXPECT_EQ(array.LowerBound(u"a"), 0);
    EXPECT_EQ(array.FindLinear(CString(u"a"), [](const CString*, const CString*) { return 0; }), -1);
    array.Sort();
    EXPECT_EQ(array.GetCurrentIndex(), -1);
    EXPECT_EQ(array.GetInsertionSortThreshold(), 64);
}

TEST(SortedArrayTest, TextsOrderByUtf16Unit) {
    CSortedArray<CString, CString> array;
    for (LPCWSTR text : {u"abc", u"a", u"B", u"ab", u"\u00E4", u""}) array.InsertSorted(text);
    EXPECT_EQ(Texts(array), (std::vector<CString>{u"", u"B", u"a", u"ab", u"abc", u"\u00E4"}));
    EXPECT_EQ(array.Find(u"ab"), 3);
    EXPECT_EQ(array.Find(u"A"), -1);
    EXPECT_EQ(array.LowerBound(u"A"), 1);
    // A key above every element.
    EXPECT_EQ(array.LowerBound(u"\uFFFF"), 6);
    EXPECT_EQ(array.Find(u"\uFFFF"), -1);
}

TEST(SortedArrayTest, InsertSortedGoesBeforeEqualElements) {
    CSortedArray<TAGGEDKEY, TAGGEDKEY> array;
    EXPECT_EQ(array.InsertSorted({5, 1}), 0);
    EXPECT_EQ(array.InsertSorted({1, 1}), 0);
    EXPECT_EQ(array.InsertSorted({5, 2}), 1);
    EXPECT_EQ(array.InsertSorted({9, 1}), 3);
    EXPECT_EQ(array[1].tag, 2);
    EXPECT_EQ(array[2].tag, 1);
    EXPECT_EQ(array.Find({5, 2}), 1);
    EXPECT_EQ(array.Find({5, 1}), -1);  // the lower bound holds the other equal key
}

TEST(SortedArrayTest, SortGivesTheNaturalOrderForEverySizeAndShape) {
    std::mt19937 random(7);
    const std::vector<int> sizes = {1, 2, 3, 63, 64, 65, 66, 129, 1000};
    for (int n : sizes) {
        std::vector<std::vector<int>> shapes;
        shapes.push_back(Ascending(n));
        shapes.emplace_back(shapes[0].rbegin(), shapes[0].rend());
        shapes.emplace_back(n, 3);
        std::vector<int> shuffled = Ascending(n);
        std::shuffle(shuffled.begin(), shuffled.end(), random);
        shapes.push_back(shuffled);
        std::vector<int> fewValues(n);
        for (int& v : fewValues) v = static_cast<int>(random() % 4);
        shapes.push_back(fewValues);
        for (size_t shape = 0; shape < shapes.size(); ++shape) {
            SCOPED_TRACE(testing::Message() << n << " elements, shape " << shape);
            // CString is not trivially copyable: the sort must move it properly.
            CSortedArray<CString, CString> array;
            std::vector<CString> expected;
            for (int v : shapes[shape]) {
                CString text;
                text.Format(u"item %05d with a tail long enough to live on the heap", v);
                array.Add(text);
                expected.push_back(text);
            }
            std::sort(expected.begin(), expected.end());
            array.Sort();
            EXPECT_EQ(Texts(array), expected);
        }
    }
}

TEST(SortedArrayTest, SixtyFourElementsAreOnlyInsertionSorted) {
    EXPECT_EQ(CountComparisonsOfSort(Ascending(64)), 63);
    std::vector<int> descending = Ascending(64);
    std::reverse(descending.begin(), descending.end());
    EXPECT_EQ(CountComparisonsOfSort(descending), 64 * 63 / 2);
    // 65 sorted elements: 3 for the median, 32 + 32 scanning, 31 + 31 for the two halves.
    EXPECT_EQ(CountComparisonsOfSort(Ascending(65)), 129);
}

TEST(SortedArrayTest, PointersOrderByAddress) {
    int cells[5];
    CSortedArray<int*, int*> array;
    for (int i : {3, 0, 4, 1, 2}) array.Add(&cells[i]);
    array.Sort();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(array[i], &cells[i]);
    EXPECT_EQ(array.Find(&cells[4]), 4);
    int other;
    EXPECT_EQ(array.Find(&other), -1);
}

TEST(SortedArrayTest, ComparisonFunctionOperations) {
    CSortedArray<NAMEDRECORD, const NAMEDRECORD&> array;
    for (int size : {30, 10, 20, 10}) array.Add({CString(u"n"), size});
    EXPECT_EQ(array.FindLinear(10, CompareSize), 1);
    EXPECT_EQ(array.FindLinear(15, CompareSize), -1);

    array.SortWith([](const NAMEDRECORD* a, const NAMEDRECORD* b) { return a->size - b->size; });
    std::vector<int> sizes;
    for (INT_PTR i = 0; i < array.GetSize(); ++i) sizes.push_back(array[i].size);
    EXPECT_EQ(sizes, (std::vector<int>{10, 10, 20, 30}));
    EXPECT_EQ(array.LowerBoundWith(20, CompareSize), 2);
    EXPECT_EQ(array.LowerBoundWith(99, CompareSize), 4);
    EXPECT_EQ(array.FindWith(10, CompareSize), 0);
    EXPECT_EQ(array.FindWith(25, CompareSize), -1);
}

TEST(SortedArrayTest, GetAtRejectsNegativeIndices) {
    CSortedArray<CString, CString> array;
    array.Add(u"a");
    EXPECT_THROW(array.GetAt(-1), CInvalidArgException);
    EXPECT_THROW(array.GetAt(1), CInvalidArgException);
    EXPECT_EQ(array.GetAt(0), u"a");
}

TEST(SortedArrayTest, CopyTakesElementsAndCurrentIndex) {
    CSortedArray<CString, CString> array;
    array.Add(u"a");
    array.Add(u"b");
    array.SetCurrentIndex(1);
    CSortedArray<CString, CString> copy(array);
    EXPECT_EQ(copy.GetCurrentIndex(), 1);
    EXPECT_EQ(copy.GetInsertionSortThreshold(), 64);
    EXPECT_EQ(Texts(copy), Texts(array));
}
