// CArray and its fixed-type kin (CObArray, CDWordArray): the class library's growable arrays.
//
// Elements are contiguous (std::vector inside). Growth follows the class library, which the
// system's memory behaviour rests on: the first buffer holds exactly the size asked for (or the
// growth step when that is larger); later growth adds the growth step, and step 0 means
// "count / 8, at least 4 and at most 1024". Shrinking keeps the buffer; SetSize(0), RemoveAll
// and FreeExtra give memory back. New elements are value-initialised (zero for plain data).
//
// A bad index or count throws CInvalidArgException, on every accessor including operator[].
// Arguments that refer to an element of the same array stay valid while it grows.
// Not thread-safe: the owner serialises access. Serialisation to archives is left out.
#pragma once

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

#include "platform/base/WinTypes.h"
#include "platform/classlib/InvalidArgException.h"
#include "platform/classlib/Object.h"

template <class TYPE, class ARG_TYPE = const TYPE&>
class CArray : public CObject {
   public:
    CArray() = default;
    CArray(const CArray&) = default;
    CArray(CArray&&) noexcept = default;
    CArray& operator=(const CArray&) = default;
    CArray& operator=(CArray&&) noexcept = default;
    ~CArray() override = default;

    INT_PTR GetSize() const { return static_cast<INT_PTR>(m_data.size()); }
    INT_PTR GetCount() const { return GetSize(); }
    INT_PTR GetUpperBound() const { return GetSize() - 1; }
    bool IsEmpty() const { return m_data.empty(); }

    // growBy -1 keeps the current growth step.
    void SetSize(INT_PTR newSize, INT_PTR growBy = -1) {
        if (newSize < 0) AfxThrowInvalidArgException();
        if (growBy >= 0) m_growBy = growBy;
        if (newSize == 0) {
            std::vector<TYPE>().swap(m_data);
            return;
        }
        Reserve(newSize);
        m_data.resize(static_cast<size_t>(newSize));
    }
    void RemoveAll() { SetSize(0); }
    void FreeExtra() {
        if (m_data.size() == m_data.capacity()) return;
        std::vector<TYPE> exact;
        exact.reserve(m_data.size());
        std::move(m_data.begin(), m_data.end(), std::back_inserter(exact));
        m_data.swap(exact);
    }

    const TYPE& GetAt(INT_PTR index) const { return m_data[Checked(index)]; }
    TYPE& GetAt(INT_PTR index) { return m_data[Checked(index)]; }
    TYPE& ElementAt(INT_PTR index) { return m_data[Checked(index)]; }
    const TYPE& ElementAt(INT_PTR index) const { return m_data[Checked(index)]; }
    const TYPE& operator[](INT_PTR index) const { return GetAt(index); }
    TYPE& operator[](INT_PTR index) { return ElementAt(index); }
    void SetAt(INT_PTR index, ARG_TYPE element) { m_data[Checked(index)] = element; }
    const TYPE* GetData() const { return m_data.data(); }
    TYPE* GetData() { return m_data.data(); }

    // Stores at index, growing the array (gap value-initialised) when index is past the end.
    void SetAtGrow(INT_PTR index, ARG_TYPE element) {
        if (index < 0) AfxThrowInvalidArgException();
        if (index < GetSize()) {
            m_data[static_cast<size_t>(index)] = element;
            return;
        }
        TYPE value(element);
        SetSize(index + 1);
        m_data[static_cast<size_t>(index)] = std::move(value);
    }
    INT_PTR Add(ARG_TYPE element) {
        INT_PTR index = GetSize();
        SetAtGrow(index, element);
        return index;
    }
    // Appends a copy of src (not itself); returns the index of its first element.
    INT_PTR Append(const CArray& src) {
        if (&src == this) AfxThrowInvalidArgException();
        INT_PTR first = GetSize();
        Reserve(first + src.GetSize());
        m_data.insert(m_data.end(), src.m_data.begin(), src.m_data.end());
        return first;
    }
    void Copy(const CArray& src) {
        if (&src == this) return;
        SetSize(src.GetSize());
        std::copy(src.m_data.begin(), src.m_data.end(), m_data.begin());
    }

    // Inserts count copies at index; an index past the end first grows the array to it.
    void InsertAt(INT_PTR index, ARG_TYPE element, INT_PTR count = 1) {
        if (index < 0 || count <= 0) AfxThrowInvalidArgException();
        TYPE value(element);
        INT_PTR size = GetSize();
        if (index >= size) {
            SetSize(index + count);
            std::fill_n(m_data.begin() + index, count, value);
            return;
        }
        Reserve(size + count);
        m_data.insert(m_data.begin() + index, static_cast<size_t>(count), value);
    }
    void RemoveAt(INT_PTR index, INT_PTR count = 1) {
        if (index < 0 || count < 0 || count > GetSize() - index) AfxThrowInvalidArgException();
        m_data.erase(m_data.begin() + index, m_data.begin() + index + count);
    }

   private:
    size_t Checked(INT_PTR index) const {
        if (index < 0 || index >= GetSize()) AfxThrowInvalidArgException();
        return static_cast<size_t>(index);
    }
    // Makes room for newSize elements with the class library's growth rule.
    void Reserve(INT_PTR newSize) {
        INT_PTR capacity = static_cast<INT_PTR>(m_data.capacity());
        if (newSize <= capacity) return;
        if (capacity == 0) {
            m_data.reserve(static_cast<size_t>(std::max(newSize, m_growBy)));
            return;
        }
        INT_PTR step = m_growBy;
        if (step == 0) step = std::clamp<INT_PTR>(GetSize() / 8, 4, 1024);
        m_data.reserve(static_cast<size_t>(std::max(newSize, capacity + step)));
    }

    std::vector<TYPE> m_data;
    INT_PTR m_growBy = 0;
};

// Pointers to objects the array does not own.
class CObArray : public CArray<CObject*, CObject*> {};

class CDWordArray : public CArray<DWORD, DWORD> {};
