// Lists and trees: _List (owning singly linked list of values), cPtr (owning pointer),
// cList (intrusive list of cListItem) and cTree (intrusive tree of cTreeItem).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

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
        if (!myBlock || myBlock->used == myBlock->size) {
            long long size = myBlock ? myBlock->size * 2 : 1;
            if (size > kBlockItems) size = kBlockItems;
            sBlock* b = (sBlock*)malloc(sizeof(sBlock) + (size_t)size * sizeof(sItem));
            if (!b) return nullptr;
            b->prev = myBlock;
            b->size = size;
            b->used = 0;
            myBlock = b;
        }
        sItem* it = new ((char*)(myBlock + 1) + (size_t)myBlock->used * sizeof(sItem)) sItem();
        myBlock->used++;
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
        while (myBlock) {
            sBlock* p = myBlock->prev;
            free(myBlock);
            myBlock = p;
        }
    }
    long long count() const { return myCount; }
    bool empty() const { return head == nullptr; }

private:
    struct alignas(alignof(std::max_align_t)) sBlock {
        sBlock* prev;
        long long size, used;
    };
    static_assert(alignof(sItem) <= alignof(std::max_align_t), "over-aligned list element");
    static constexpr long long kBlockItems = sizeof(sItem) >= 32768 ? 1 : 65536 / (long long)sizeof(sItem);
    sBlock* myBlock = nullptr;  // the newest
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
    // The first or last child of the item (null: of the root level).
    cTreeItem* subFirst(cTreeItem* item) const { return item ? item->firstChild : myFirst; }
    cTreeItem* subLast(cTreeItem* item) const { return item ? item->lastChild : myLast; }

private:
    cTreeItem*& firstOf(cTreeItem* parent) { return parent ? parent->firstChild : myFirst; }
    cTreeItem*& lastOf(cTreeItem* parent) { return parent ? parent->lastChild : myLast; }
    bool canAdd(cTreeItem* parent, cTreeItem* item) const;
    void unlinkOne(cTreeItem* item);

    cTreeItem* myFirst = nullptr;
    cTreeItem* myLast = nullptr;
};
