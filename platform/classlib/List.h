// CList: the class library's doubly linked list, walked with POSITION cursors.
//
// A POSITION names one node and stays valid until that node is removed; null means none.
// Head and tail access on an empty list, and a null POSITION, throw CInvalidArgException
// (the class library only asserts there). Copying copies the elements in order.
// Not thread-safe: the owner serialises access. Serialisation to archives is left out.
#pragma once

#include <utility>

#include "platform/base/WinTypes.h"
#include "platform/classlib/InvalidArgException.h"
#include "platform/classlib/Object.h"
#include "platform/classlib/Position.h"

template <class TYPE, class ARG_TYPE = const TYPE&>
class CList : public CObject {
   public:
    CList() = default;
    CList(const CList& other) : CObject() { AddTailAll(other); }
    CList& operator=(const CList& other) {
        if (&other != this) {
            RemoveAll();
            AddTailAll(other);
        }
        return *this;
    }
    ~CList() override { RemoveAll(); }

    INT_PTR GetCount() const { return m_count; }
    INT_PTR GetSize() const { return m_count; }
    bool IsEmpty() const { return m_count == 0; }

    TYPE& GetHead() { return NonEmpty(m_head)->data; }
    const TYPE& GetHead() const { return NonEmpty(m_head)->data; }
    TYPE& GetTail() { return NonEmpty(m_tail)->data; }
    const TYPE& GetTail() const { return NonEmpty(m_tail)->data; }

    POSITION AddHead(ARG_TYPE element) { return Link(new CNode{element}, nullptr, m_head); }
    POSITION AddTail(ARG_TYPE element) { return Link(new CNode{element}, m_tail, nullptr); }
    TYPE RemoveHead() { return Unlink(NonEmpty(m_head)); }
    TYPE RemoveTail() { return Unlink(NonEmpty(m_tail)); }
    void RemoveAt(POSITION pos) { Unlink(Node(pos)); }
    void RemoveAll() {
        while (m_head) Unlink(m_head);
    }

    POSITION GetHeadPosition() const { return ToPosition(m_head); }
    POSITION GetTailPosition() const { return ToPosition(m_tail); }
    // Returns the element at pos and moves pos to the next (or previous) one, null at the end.
    TYPE& GetNext(POSITION& pos) { return Step(pos, true); }
    const TYPE& GetNext(POSITION& pos) const { return const_cast<CList*>(this)->Step(pos, true); }
    TYPE& GetPrev(POSITION& pos) { return Step(pos, false); }
    const TYPE& GetPrev(POSITION& pos) const { return const_cast<CList*>(this)->Step(pos, false); }
    TYPE& GetAt(POSITION pos) { return Node(pos)->data; }
    const TYPE& GetAt(POSITION pos) const { return Node(pos)->data; }
    void SetAt(POSITION pos, ARG_TYPE element) { Node(pos)->data = element; }

   private:
    struct CNode {
        TYPE data;
        CNode* prev = nullptr;
        CNode* next = nullptr;
    };

    static POSITION ToPosition(CNode* node) { return reinterpret_cast<POSITION>(node); }
    static CNode* Node(POSITION pos) {
        if (!pos) AfxThrowInvalidArgException();
        return reinterpret_cast<CNode*>(pos);
    }
    static CNode* NonEmpty(CNode* node) {
        if (!node) AfxThrowInvalidArgException();
        return node;
    }
    TYPE& Step(POSITION& pos, bool forward) {
        CNode* node = Node(pos);
        pos = ToPosition(forward ? node->next : node->prev);
        return node->data;
    }
    POSITION Link(CNode* node, CNode* prev, CNode* next) {
        node->prev = prev;
        node->next = next;
        (prev ? prev->next : m_head) = node;
        (next ? next->prev : m_tail) = node;
        ++m_count;
        return ToPosition(node);
    }
    TYPE Unlink(CNode* node) {
        (node->prev ? node->prev->next : m_head) = node->next;
        (node->next ? node->next->prev : m_tail) = node->prev;
        --m_count;
        TYPE data(std::move(node->data));
        delete node;
        return data;
    }
    void AddTailAll(const CList& other) {
        for (CNode* node = other.m_head; node; node = node->next) AddTail(node->data);
    }

    CNode* m_head = nullptr;
    CNode* m_tail = nullptr;
    INT_PTR m_count = 0;
};
