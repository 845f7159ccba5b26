// cFasterTreeList: the ordered map. A plain binary search tree; a deep insertion path
// rebuilds the unbalanced subtree on it (scapegoat style), and the whole tree is rebuilt
// should a path still pass the owner's threshold. Values live in their nodes and never
// move, so pointers to them stay valid until their entry is removed.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>

// Three-way key comparison; keys need only operator<. cStringKey has its own overload.
template <class K>
inline int treeKeyCompare(const K& a, const K& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}
// Pointers are ordered by address (operator< is unspecified across objects).
template <class T>
inline int treeKeyCompare(T* const& a, T* const& b) {
    uintptr_t x = (uintptr_t)a, y = (uintptr_t)b;
    return x < y ? -1 : (y < x ? 1 : 0);
}

template <class K, class V>
class cFasterTreeList {
public:
    class sEntry {
    public:
        const K& key() const { return myKey; }
        V& value() { return myValue; }
        const V& value() const { return myValue; }
        V* valuePtr() { return &myValue; }

    private:
        friend class cFasterTreeList;
        explicit sEntry(const K& k) : myKey(k), myValue() {}
        sEntry(const sEntry&) = delete;
        sEntry& operator=(const sEntry&) = delete;

        sEntry* myLeft = nullptr;
        sEntry* myRight = nullptr;
        sEntry* myParent = nullptr;
        K myKey;
        V myValue;
    };

    // threshold: the insertion depth past which the tree is rebuilt balanced.
    explicit cFasterTreeList(int threshold = 1024) : myThreshold(threshold > 0 ? threshold : 1024) {}
    cFasterTreeList(const cFasterTreeList&) = delete;
    cFasterTreeList& operator=(const cFasterTreeList&) = delete;
    ~cFasterTreeList() { destroy(); }

    long long count() const { return myCount; }
    bool empty() const { return myCount == 0; }
    int threshold() const { return myThreshold; }

    // Find-or-insert: the value slot of the key; a new value is value-initialised.
    // Null only when memory runs out.
    V* insert(const K& key) {
        bool isNew;
        sEntry* e = insertEntry(key, isNew);
        return e ? &e->myValue : nullptr;
    }
    V* insert(const K& key, bool& isNew) {
        sEntry* e = insertEntry(key, isNew);
        return e ? &e->myValue : nullptr;
    }
    // Insert that refuses an existing key: null when the key is present.
    V* insert_new(const K& key) {
        bool isNew;
        sEntry* e = insertEntry(key, isNew);
        return e && isNew ? &e->myValue : nullptr;
    }
    sEntry* insertEntry(const K& key, bool& isNew);

    V* find(const K& key) {
        sEntry* e = findEntry(key);
        return e ? &e->myValue : nullptr;
    }
    sEntry* findEntry(const K& key) const;
    // The entry with the greatest key not above `key`, or null.
    sEntry* find_le(const K& key) const;
    // The entry with the least key not below `key`, or null.
    sEntry* find_ge(const K& key) const;

    sEntry* first() const { return myRoot ? leftmost(myRoot) : nullptr; }
    sEntry* last() const { return myRoot ? rightmost(myRoot) : nullptr; }
    // Ascending walk; next(null) is the first entry, prev(null) the last.
    sEntry* next(const sEntry* e) const;
    sEntry* prev(const sEntry* e) const;

    // Unlinks the entry and destroys its value; false when it is not in this map.
    bool dettach(const K& key) {
        sEntry* e = findEntry(key);
        if (!e) return false;
        unlink(e);
        return true;
    }
    bool dettach(sEntry* e) {
        if (!e || !owns(e)) return false;
        unlink(e);
        return true;
    }
    // Destroys every value and empties the map (plain pointers held as values are not freed).
    void destroy();

    void swap(cFasterTreeList& o) {
        sEntry* r = myRoot;
        myRoot = o.myRoot;
        o.myRoot = r;
        long long c = myCount;
        myCount = o.myCount;
        o.myCount = c;
    }

private:
    static sEntry* leftmost(sEntry* e) {
        while (e->myLeft) e = e->myLeft;
        return e;
    }
    static sEntry* rightmost(sEntry* e) {
        while (e->myRight) e = e->myRight;
        return e;
    }
    bool owns(const sEntry* e) const {
        while (e->myParent) e = e->myParent;
        return e == myRoot;
    }
    void transplant(sEntry* u, sEntry* v) {
        if (!u->myParent)
            myRoot = v;
        else if (u == u->myParent->myLeft)
            u->myParent->myLeft = v;
        else
            u->myParent->myRight = v;
        if (v) v->myParent = u->myParent;
    }
    // floor(log1.5(count)), recomputed only when the count leaves the cached range.
    long long depthLimit() {
        if (myCount < myLimitLo || myCount >= myLimitHi) {
            myLimit = (long long)(std::log((double)myCount) * 2.4663034623764317);
            myLimitLo = (long long)std::ceil(std::pow(1.5, (double)myLimit));
            myLimitHi = (long long)std::ceil(std::pow(1.5, (double)(myLimit + 1)));
            if (myLimitLo > myCount) myLimitLo = myCount;
            if (myLimitHi <= myCount) myLimitHi = myCount + 1;
        }
        return myLimit;
    }
    void unlink(sEntry* z);
    void rebuildScapegoat(sEntry* leaf);
    long long subtreeSize(sEntry* top) const;
    void rebuild(sEntry* top, long long size);

    sEntry* myRoot = nullptr;
    long long myCount = 0;
    long long myLimit = 0, myLimitLo = 0, myLimitHi = 0;
    int myThreshold;
};

template <class K, class V>
typename cFasterTreeList<K, V>::sEntry* cFasterTreeList<K, V>::insertEntry(const K& key, bool& isNew) {
    isNew = false;
    sEntry* parent = nullptr;
    sEntry* e = myRoot;
    int c = 0;
    long long depth = 0;
    while (e) {
        c = treeKeyCompare(key, e->myKey);
        if (c == 0) return e;
        parent = e;
        e = c < 0 ? e->myLeft : e->myRight;
        depth++;
    }
    sEntry* n = new (std::nothrow) sEntry(key);
    if (!n) return nullptr;
    n->myParent = parent;
    if (!parent)
        myRoot = n;
    else if (c < 0)
        parent->myLeft = n;
    else
        parent->myRight = n;
    myCount++;
    isNew = true;
    // A path longer than log1.5(count) has an ancestor whose one side holds more than
    // 2/3 of its subtree; rebuilding that subtree alone keeps sorted and random
    // insertions cheap and the depth far below the owner's threshold.
    if (depth > 16 && depth > depthLimit()) {
        rebuildScapegoat(n);
    } else if (depth > myThreshold) {
        // A small threshold must not make every insertion rebuild a tree whose
        // balanced depth already exceeds it.
        long long balanced = 0;
        for (long long k = myCount; k; k >>= 1) balanced++;
        if (depth > 2 * balanced + 2) rebuild(myRoot, myCount);
    }
    return n;
}

template <class K, class V>
typename cFasterTreeList<K, V>::sEntry* cFasterTreeList<K, V>::findEntry(const K& key) const {
    sEntry* e = myRoot;
    while (e) {
        int c = treeKeyCompare(key, e->myKey);
        if (c == 0) return e;
        e = c < 0 ? e->myLeft : e->myRight;
    }
    return nullptr;
}

template <class K, class V>
typename cFasterTreeList<K, V>::sEntry* cFasterTreeList<K, V>::find_le(const K& key) const {
    sEntry* e = myRoot;
    sEntry* best = nullptr;
    while (e) {
        int c = treeKeyCompare(key, e->myKey);
        if (c == 0) return e;
        if (c < 0) {
            e = e->myLeft;
        } else {
            best = e;
            e = e->myRight;
        }
    }
    return best;
}

template <class K, class V>
typename cFasterTreeList<K, V>::sEntry* cFasterTreeList<K, V>::find_ge(const K& key) const {
    sEntry* e = myRoot;
    sEntry* best = nullptr;
    while (e) {
        int c = treeKeyCompare(key, e->myKey);
        if (c == 0) return e;
        if (c > 0) {
            e = e->myRight;
        } else {
            best = e;
            e = e->myLeft;
        }
    }
    return best;
}

template <class K, class V>
typename cFasterTreeList<K, V>::sEntry* cFasterTreeList<K, V>::next(const sEntry* e) const {
    if (!e) return first();
    if (e->myRight) return leftmost(e->myRight);
    sEntry* p = e->myParent;
    while (p && e == p->myRight) {
        e = p;
        p = p->myParent;
    }
    return p;
}

template <class K, class V>
typename cFasterTreeList<K, V>::sEntry* cFasterTreeList<K, V>::prev(const sEntry* e) const {
    if (!e) return last();
    if (e->myLeft) return rightmost(e->myLeft);
    sEntry* p = e->myParent;
    while (p && e == p->myLeft) {
        e = p;
        p = p->myParent;
    }
    return p;
}

// Nodes are relinked, never copied: a value keeps its address.
template <class K, class V>
void cFasterTreeList<K, V>::unlink(sEntry* z) {
    if (!z->myLeft) {
        transplant(z, z->myRight);
    } else if (!z->myRight) {
        transplant(z, z->myLeft);
    } else {
        sEntry* y = leftmost(z->myRight);
        if (y->myParent != z) {
            transplant(y, y->myRight);
            y->myRight = z->myRight;
            y->myRight->myParent = y;
        }
        transplant(z, y);
        y->myLeft = z->myLeft;
        y->myLeft->myParent = y;
    }
    myCount--;
    delete z;
}

template <class K, class V>
void cFasterTreeList<K, V>::destroy() {
    // Rotate left children up so every node is freed without recursion.
    sEntry* e = myRoot;
    myRoot = nullptr;
    myCount = 0;
    while (e) {
        if (e->myLeft) {
            sEntry* l = e->myLeft;
            e->myLeft = l->myRight;
            l->myRight = e;
            e = l;
        } else {
            sEntry* r = e->myRight;
            delete e;
            e = r;
        }
    }
}

template <class K, class V>
long long cFasterTreeList<K, V>::subtreeSize(sEntry* top) const {
    if (!top) return 0;
    long long n = 1;
    sEntry* end = rightmost(top);
    for (sEntry* e = leftmost(top); e != end; e = next(e)) n++;
    return n;
}

template <class K, class V>
void cFasterTreeList<K, V>::rebuildScapegoat(sEntry* leaf) {
    // Climb from the new leaf, summing subtree sizes, to the first unbalanced ancestor.
    long long size = 1;
    sEntry* child = leaf;
    for (sEntry* p = leaf->myParent; p; child = p, p = p->myParent) {
        sEntry* other = child == p->myLeft ? p->myRight : p->myLeft;
        long long psize = size + 1 + subtreeSize(other);
        if (3 * size > 2 * psize) {
            rebuild(p, psize);
            return;
        }
        size = psize;
    }
}

// Relinks the `size` nodes of the subtree at `top` into a perfectly balanced shape.
template <class K, class V>
void cFasterTreeList<K, V>::rebuild(sEntry* top, long long size) {
    if (!top || size < 3) return;
    sEntry** order = (sEntry**)malloc((size_t)size * sizeof(sEntry*));
    if (!order) return;  // the tree stays valid, only deeper
    long long n = 0;
    for (sEntry* e = leftmost(top); e && n < size; e = next(e)) order[n++] = e;
    sEntry* parent = top->myParent;
    bool right = parent && parent->myRight == top;

    // An explicit stack of ranges (at most one pending range per level) instead of recursion.
    struct sRange {
        long long lo, hi;
        sEntry* parent;
        bool right;
    };
    sRange stack[130];
    int depth = 0;
    stack[depth++] = {0, n, parent, right};
    while (depth > 0) {
        sRange r = stack[--depth];
        if (r.lo >= r.hi) continue;
        long long mid = r.lo + (r.hi - r.lo) / 2;
        sEntry* e = order[mid];
        e->myLeft = e->myRight = nullptr;
        e->myParent = r.parent;
        if (!r.parent)
            myRoot = e;
        else if (r.right)
            r.parent->myRight = e;
        else
            r.parent->myLeft = e;
        stack[depth++] = {mid + 1, r.hi, e, true};
        stack[depth++] = {r.lo, mid, e, false};
    }
    free(order);
}
