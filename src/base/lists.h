// Lists and trees: _List (owning singly linked list of values), cPtr (owning pointer),
// cList (intrusive list of cListItem) and cTree (intrusive tree of cTreeItem).
#pragma once

#include <cstddef>
#include <new>

#include "base/blockarena.h"

// Singly linked list owning its elements; add() appends a value-initialised element.
// The elements are made in blocks of growing size (up to about 64 KiB): a list of a
// hundred thousand records costs a few hundred allocations, not one each. An element
// never moves; all go at once with destroy().
template <class T>
class _List {
public:
    struct sItem {
        sItem() : next(nullptr), value() {}
        sItem* next;
        T value;
    };

    sItem* head = nullptr;
    sItem* tail = nullptr;

    _List() {}
    _List(const _List&) = delete;
    _List& operator=(const _List&) = delete;
    ~_List() { destroy(); }

    // The new element at the tail (zeroed for plain types), or null when out of memory.
    T* add() {
        void* at = myBlocks.alloc(sizeof(sItem), alignof(sItem));
        if (!at) return nullptr;
        sItem* it = new (at) sItem();
        if (tail)
            tail->next = it;
        else
            head = it;
        tail = it;
        myCount++;
        return &it->value;
    }
    void destroy() {
        sItem* it = head;
        head = tail = nullptr;
        myCount = 0;
        while (it) {
            sItem* n = it->next;
            it->~sItem();
            it = n;
        }
        myBlocks.clear();
    }
    long long count() const { return myCount; }
    bool empty() const { return head == nullptr; }

private:
    static_assert(alignof(sItem) <= alignof(std::max_align_t), "over-aligned list element");
    // The first block holds one element; they double up to 64 KiB (one element when larger).
    static constexpr size_t kBlockBytes =
        sizeof(sItem) >= 32768 ? sizeof(sItem) : 65536 / sizeof(sItem) * sizeof(sItem);
    cBlockArena<sizeof(sItem), kBlockBytes> myBlocks;
    long long myCount = 0;
};

// Owning pointer: assigning another object deletes the old one.
template <class T>
class cPtr {
public:
    T* ptr = nullptr;

    cPtr() {}
    explicit cPtr(T* p) : ptr(p) {}
    cPtr(const cPtr&) = delete;
    cPtr& operator=(const cPtr&) = delete;
    ~cPtr() { delete ptr; }

    cPtr& operator=(T* p) {
        if (p != ptr) {
            delete ptr;
            ptr = p;
        }
        return *this;
    }
    // Gives the object up without deleting it.
    T* dettach() {
        T* p = ptr;
        ptr = nullptr;
        return p;
    }
    T* operator->() const { return ptr; }
    T& operator*() const { return *ptr; }
    operator T*() const { return ptr; }
};

class cListItem {
public:
    cListItem* next = nullptr;

    cListItem() {}
    cListItem(const cListItem&) = delete;
    cListItem& operator=(const cListItem&) = delete;
    virtual ~cListItem() {}
    // Whether this item stands for p (by default: is p).
    virtual bool eq(void* p) { return p == this; }
};

// Intrusive list; owns its items. Removing deletes an item, detaching keeps it.
class cList {
public:
    cList() {}
    cList(const cList&) = delete;
    cList& operator=(const cList&) = delete;
    ~cList() { destroy(); }

    cListItem* first() const { return myHead; }
    cListItem* last() const { return myTail; }
    long long count() const { return myCount; }

    // Appends at the end; a null item is ignored.
    void add(cListItem* item);
    // The first item whose eq(p) holds, or null.
    cListItem* find(void* p) const;
    // Unlinks the item and keeps it; false when it is not in this list.
    bool dettach(cListItem* item);
    // Unlinks the item and deletes it; false when it is not in this list.
    bool remove(cListItem* item);
    // Deletes every item.
    void destroy();

private:
    cListItem* myHead = nullptr;
    cListItem* myTail = nullptr;
    long long myCount = 0;
};

class cTree;

class cTreeItem {
public:
    cTreeItem* next = nullptr;        // next sibling
    cTreeItem* prev = nullptr;        // previous sibling
    cTreeItem* firstChild = nullptr;
    cTreeItem* lastChild = nullptr;
    cTreeItem* parent = nullptr;
    cTree* tree = nullptr;            // the owning tree, null while outside one

    cTreeItem() {}
    cTreeItem(const cTreeItem&) = delete;
    cTreeItem& operator=(const cTreeItem&) = delete;
    virtual ~cTreeItem() {}
};

// Intrusive tree; owns its items. Deletion is iterative, so depth is not limited by the stack.
class cTree {
public:
    cTree() {}
    cTree(const cTree&) = delete;
    cTree& operator=(const cTree&) = delete;
    ~cTree() { destroy(); }

    cTreeItem* first() const { return myFirst; }
    cTreeItem* last() const { return myLast; }

    // Inserts under parent (null: at the root level) after `after`; as the last child
    // when after is null or not among parent's children. Refuses (null) an item already
    // in a tree or a parent from another tree; otherwise returns the item.
    cTreeItem* add(cTreeItem* parent, cTreeItem* item, cTreeItem* after = nullptr);
    // Inserts as the first child of parent (null: first at the root level).
    cTreeItem* addFirst(cTreeItem* parent, cTreeItem* item);
    // Unlinks the item with its subtree and keeps them; false when not in this tree.
    bool dettach(cTreeItem* item);
    // Unlinks the item and deletes it with its whole subtree.
    bool remove(cTreeItem* item);
    // Deletes every descendant of the item (null: of the root, i.e. everything).
    void destroy_sub(cTreeItem* item);
    // Deletes every item.
    void destroy() { destroy_sub(nullptr); }
    // The last child of the item (null: of the root level).
    cTreeItem* subLast(cTreeItem* item) const { return item ? item->lastChild : myLast; }

private:
    cTreeItem*& firstOf(cTreeItem* parent) { return parent ? parent->firstChild : myFirst; }
    cTreeItem*& lastOf(cTreeItem* parent) { return parent ? parent->lastChild : myLast; }
    bool canAdd(cTreeItem* parent, cTreeItem* item) const;
    void unlinkOne(cTreeItem* item);

    cTreeItem* myFirst = nullptr;
    cTreeItem* myLast = nullptr;
};
