// The class library's arrays, lists and string arrays; fakes nothing.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/classlib/Array.h"
#include "platform/classlib/List.h"
#include "platform/classlib/StringArray.h"

namespace {

// Adds count elements one by one and returns the sizes at which the buffer moved.
std::vector<int> SizesWhereBufferMoved(CArray<int, int>& array, int count) {
    std::vector<int> moves;
    for (int i = 0; i < count; ++i) {
        const int* before = array.GetData();
        array.Add(i);
        if (array.GetData() != before) moves.push_back(static_cast<int>(array.GetSize()));
    }
    return moves;
}

std::vector<int> Elements(const CArray<int, int>& array) {
    return std::vector<int>(array.GetData(), array.GetData() + array.GetSize());
}

}  // namespace

TEST(ArrayTest, DefaultGrowthIsAnEighthOfTheCountBetweenFourAnd1024) {
    CArray<int, int> array;
    // First buffer exactly 1, then steps of 4 until count / 8 exceeds 4 (at 41 elements).
    EXPECT_EQ(SizesWhereBufferMoved(array, 50),
              (std::vector<int>{1, 2, 6, 10, 14, 18, 22, 26, 30, 34, 38, 42, 47}));
}

TEST(ArrayTest, GrowthStepIsCappedAt1024) {
    CArray<int, int> array;
    array.SetSize(16384);  // count / 8 = 2048
    const int* data = array.GetData();
    array.Add(0);
    EXPECT_NE(array.GetData(), data);
    data = array.GetData();
    while (array.GetSize() < 16384 + 1024) array.Add(0);
    EXPECT_EQ(array.GetData(), data);
    array.Add(0);
    EXPECT_NE(array.GetData(), data);
}

TEST(ArrayTest, ExplicitGrowthStepAndFreeExtra) {
    CArray<int, int> array;
    array.SetSize(0, 10);
    EXPECT_EQ(SizesWhereBufferMoved(array, 25), (std::vector<int>{1, 11, 21}));
    array.FreeExtra();
    const int* data = array.GetData();
    array.Add(0);
    EXPECT_NE(array.GetData(), data);
}

TEST(ArrayTest, SetSizeZeroFillsAndShrinkKeepsElements) {
    CArray<int, int> array;
    array.Add(7);
    array.SetSize(3);
    EXPECT_EQ(Elements(array), (std::vector<int>{7, 0, 0}));
    array.SetSize(1);
    EXPECT_EQ(Elements(array), (std::vector<int>{7}));
    EXPECT_EQ(array.GetUpperBound(), 0);
    array.RemoveAll();
    EXPECT_TRUE(array.IsEmpty());
    EXPECT_EQ(array.GetUpperBound(), -1);
}

TEST(ArrayTest, InsertAtPastTheEndFillsTheGap) {
    CArray<int, int> array;
    array.Add(1);
    array.InsertAt(3, 7);
    EXPECT_EQ(Elements(array), (std::vector<int>{1, 0, 0, 7}));
    array.InsertAt(1, 9, 2);
    EXPECT_EQ(Elements(array), (std::vector<int>{1, 9, 9, 0, 0, 7}));
    array.RemoveAt(1, 3);
    EXPECT_EQ(Elements(array), (std::vector<int>{1, 0, 7}));
}

TEST(ArrayTest, AppendAndCopy) {
    CArray<int, int> a, b;
    a.Add(1);
    b.Add(2);
    b.Add(3);
    EXPECT_EQ(a.Append(b), 1);
    EXPECT_EQ(Elements(a), (std::vector<int>{1, 2, 3}));
    b.Copy(a);
    EXPECT_EQ(Elements(b), (std::vector<int>{1, 2, 3}));
    EXPECT_THROW(a.Append(a), CInvalidArgException);
}

TEST(ArrayTest, AnElementOfTheSameArrayCanBeAddedWhileItGrows) {
    CStringArray array;
    array.Add(u"first");
    for (int i = 0; i < 40; ++i) array.Add(array[0]);
    array.InsertAt(0, array[array.GetUpperBound()], 3);
    array.InsertAt(60, array[1]);
    EXPECT_EQ(array.GetSize(), 61);
    EXPECT_EQ(array[40], u"first");
    EXPECT_EQ(array[50], u"");
    EXPECT_EQ(array[60], u"first");
}

TEST(ArrayTest, BadIndicesThrow) {
    CArray<int, int> array;
    array.SetSize(2);
    const CArray<int, int>& constArray = array;
    const std::vector<std::function<void()>> calls = {
        [&] { array.GetAt(-1); },
        [&] { array.GetAt(2); },
        [&] { constArray.GetAt(2); },
        [&] { array.ElementAt(-1); },
        [&] { array[2]; },
        [&] { constArray[-1]; },
        [&] { array.SetAt(2, 0); },
        [&] { array.SetAtGrow(-1, 0); },
        [&] { array.InsertAt(-1, 0); },
        [&] { array.InsertAt(0, 0, 0); },
        [&] { array.RemoveAt(2); },
        [&] { array.RemoveAt(-1); },
        [&] { array.RemoveAt(1, 2); },
        [&] { array.SetSize(-1); },
    };
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_THROW(calls[i](), CInvalidArgException);
    }
    EXPECT_EQ(array.GetSize(), 2);
}

namespace {

class CCounted : public CObject {
   public:
    explicit CCounted(int& destroyed) : m_destroyed(destroyed) {}
    ~CCounted() override { ++m_destroyed; }

   private:
    int& m_destroyed;
};

std::vector<int> Forward(const CList<int, int>& list) {
    std::vector<int> values;
    for (POSITION pos = list.GetHeadPosition(); pos;) values.push_back(list.GetNext(pos));
    return values;
}

std::vector<int> Backward(const CList<int, int>& list) {
    std::vector<int> values;
    for (POSITION pos = list.GetTailPosition(); pos;) values.push_back(list.GetPrev(pos));
    return values;
}

}  // namespace

TEST(ObArrayTest, HoldsObjectsItDoesNotOwn) {
    int destroyed = 0;
    CObArray array;
    array.Add(new CCounted(destroyed));
    array.Add(new CCounted(destroyed));
    CObArray copy;
    copy.Copy(array);
    array.RemoveAll();
    EXPECT_EQ(destroyed, 0);
    for (INT_PTR i = 0; i < copy.GetSize(); ++i) delete copy[i];  // through the base
    EXPECT_EQ(destroyed, 2);
}

TEST(ListTest, HeadAndTailInsertAndRemove) {
    CList<int, int> list;
    EXPECT_TRUE(list.IsEmpty());
    list.AddTail(2);
    list.AddHead(1);
    POSITION three = list.AddTail(3);
    list.AddTail(4);
    EXPECT_EQ(list.GetCount(), 4);
    EXPECT_EQ(Forward(list), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(Backward(list), (std::vector<int>{4, 3, 2, 1}));
    EXPECT_EQ(list.GetAt(three), 3);
    list.RemoveAt(three);
    EXPECT_EQ(list.RemoveTail(), 4);
    EXPECT_EQ(list.RemoveHead(), 1);
    EXPECT_EQ(list.GetHead(), 2);
    EXPECT_EQ(list.GetTail(), 2);
    list.RemoveTail();
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.GetHeadPosition(), nullptr);
}

TEST(ListTest, CopiesAreIndependent) {
    CList<int, int> list;
    list.AddTail(1);
    list.AddTail(2);
    CList<int, int> copy(list);
    copy.RemoveHead();
    list = copy;
    list.AddHead(0);
    EXPECT_EQ(Forward(copy), (std::vector<int>{2}));
    EXPECT_EQ(Forward(list), (std::vector<int>{0, 2}));
}

TEST(ListTest, EmptyListAndNullPositionThrow) {
    CList<int, int> list;
    const std::vector<std::function<void()>> calls = {
        [&] { list.GetHead(); },    [&] { list.GetTail(); },         [&] { list.RemoveHead(); },
        [&] { list.RemoveTail(); }, [&] { list.RemoveAt(nullptr); }, [&] { list.GetAt(nullptr); },
    };
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_THROW(calls[i](), CInvalidArgException);
    }
}
