// CSortedArray: a CArray that keeps its elements ordered and finds them by binary search.
//
// Natural order comes from CSortedArrayOrder<TYPE>: operator< and operator== of the element by
// default (CString: ordinal by unsigned UTF-16 unit, so "B" < "a" and "ab" < "abc"), pointer
// values as unsigned addresses for pointer elements. Record types define operator< and
// operator== (or specialise the order). The "With" operations take a comparison called as
// compare(const TYPE* element, const KEY* key) -> negative, 0 or positive; a plain function
// over (const void*, const void*) fits too.
//
// Sort is a quicksort with median-of-three pivots that insertion-sorts runs of at most the
// threshold (64) elements; it moves elements with their own copy and move operations, so any
// element type sorts correctly. SortWith uses a stable merge sort for the same reason.
// Searches expect the array sorted in the order they search by and do not check it.
// The current index is a cursor for users; no operation here reads or changes it. Copies take
// the elements, the threshold and the current index. Not thread-safe: the owner serialises
// access. A bad index throws CInvalidArgException (CArray), negative ones included.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>

#include "common/ArrayEx.h"

template <class TYPE>
struct CSortedArrayOrder {
    static bool Less(const TYPE& a, const TYPE& b) { return a < b; }
    static bool Equal(const TYPE& a, const TYPE& b) { return a == b; }
};

template <class TYPE>
struct CSortedArrayOrder<TYPE*> {
    static bool Less(const TYPE* a, const TYPE* b) {
        return reinterpret_cast<uintptr_t>(a) < reinterpret_cast<uintptr_t>(b);
    }
    static bool Equal(const TYPE* a, const TYPE* b) { return a == b; }
};

template <class TYPE, class ARG_TYPE = const TYPE&>
class CSortedArray : public CArrayEx<TYPE, ARG_TYPE> {
   public:
    static const int kInsertionSortThreshold = 64;

    int GetCurrentIndex() const { return m_currentIndex; }
    void SetCurrentIndex(int index) { m_currentIndex = index; }
    int GetInsertionSortThreshold() const { return m_threshold; }

    // Inserts before any equal elements; returns the index the value now has.
    int InsertSorted(ARG_TYPE value) {
        int index = LowerBound(value);
        if (index < Count()) {
            this->InsertAt(index, value);
        } else {
            this->Add(value);
        }
        return index;
    }

    template <class COMPARE>
    void SortWith(COMPARE compare) {
        std::stable_sort(Begin(), Begin() + Count(),
                         [&compare](const TYPE& a, const TYPE& b) { return compare(&a, &b) < 0; });
    }
    void Sort() {
        if (Count() > 1) QuickSort(0, Count() - 1);
    }

    template <class KEY, class COMPARE>
    int FindWith(const KEY& key, COMPARE compare) const {
        int index = LowerBoundWith(key, compare);
        return index < Count() && compare(&this->GetAt(index), &key) == 0 ? index : -1;
    }
    int Find(ARG_TYPE key) const {
        int index = LowerBound(key);
        return index < Count() && Order::Equal(this->GetAt(index), key) ? index : -1;
    }
    // First index whose element is not less than key; the count when there is none.
    template <class KEY, class COMPARE>
    int LowerBoundWith(const KEY& key, COMPARE compare) const {
        return LowerBoundBy([&](const TYPE& element) { return compare(&element, &key) < 0; });
    }
    int LowerBound(ARG_TYPE key) const {
        return LowerBoundBy([&](const TYPE& element) { return Order::Less(element, key); });
    }
    template <class KEY, class COMPARE>
    int FindLinear(const KEY& key, COMPARE compare) const {
        for (int i = 0; i < Count(); ++i) {
            if (compare(&this->GetAt(i), &key) == 0) return i;
        }
        return -1;
    }

   private:
    using Order = CSortedArrayOrder<TYPE>;

    int Count() const { return static_cast<int>(this->GetSize()); }
    TYPE* Begin() { return this->GetData(); }

    template <class BEFORE>
    int LowerBoundBy(BEFORE isBefore) const {
        int lo = 0;
        int hi = Count();
        while (lo < hi) {
            int mid = (lo + hi) / 2;
            if (isBefore(this->GetAt(mid))) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        return lo;
    }

    // Sorts lo..hi inclusive. The smaller part recurses and the larger loops, so the depth
    // stays logarithmic; the scans also stop at the run's ends should an element's order be
    // inconsistent.
    void QuickSort(int lo, int hi) {
        TYPE* a = Begin();
        while (hi >= lo + m_threshold) {
            int mid = (lo + hi) / 2;
            if (Order::Less(a[mid], a[lo])) std::swap(a[lo], a[mid]);
            if (Order::Less(a[hi], a[lo])) std::swap(a[lo], a[hi]);
            if (Order::Less(a[hi], a[mid])) std::swap(a[mid], a[hi]);
            TYPE pivot = a[mid];
            std::swap(a[mid], a[hi - 1]);
            int i = lo;
            int j = hi - 1;
            for (;;) {
                while (Order::Less(a[++i], pivot) && i < hi - 1) {
                }
                while (Order::Less(pivot, a[--j]) && j > lo) {
                }
                if (i >= j) break;
                std::swap(a[i], a[j]);
            }
            std::swap(a[i], a[hi - 1]);
            if (i - lo < hi - i) {
                QuickSort(lo, i - 1);
                lo = i + 1;
            } else {
                QuickSort(i + 1, hi);
                hi = i - 1;
            }
        }
        InsertionSort(lo, hi);
    }

    void InsertionSort(int lo, int hi) {
        TYPE* a = Begin();
        for (int k = lo + 1; k <= hi; ++k) {
            TYPE value = std::move(a[k]);
            int m = k;
            for (; m > lo && Order::Less(value, a[m - 1]); --m) a[m] = std::move(a[m - 1]);
            a[m] = std::move(value);
        }
    }

    int m_threshold = kInsertionSortThreshold;
    int m_currentIndex = -1;
};
