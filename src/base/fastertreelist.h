// cFasterTreeList: the ordered map. A plain binary search tree; a deep insertion path
// rebuilds the unbalanced subtree on it (scapegoat style), and the whole tree is rebuilt
// should a path still pass the owner's threshold. Values live in their nodes and never
// move, so pointers to them stay valid until their entry is removed. Nodes come from
// chunks owned by the map, so an insertion rarely calls malloc.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>

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
        sEntry* myParent = nullptr;  // a free slot points at itself
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
        swapField(myRoot, o.myRoot);
        swapField(myCount, o.myCount);
        swapField(myLimit, o.myLimit);
        swapField(myLimitLo, o.myLimitLo);
        swapField(myLimitHi, o.myLimitHi);
        swapField(myChunks, o.myChunks);
        swapField(myFree, o.myFree);
        swapField(myBump, o.myBump);
        swapField(myBumpEnd, o.myBumpEnd);
        swapField(myNextChunk, o.myNextChunk);
    }

private:
    // A chunk of node slots; slots are handed out in order, freed ones go to a free list.
    struct sChunk {
        sChunk* next;
        sEntry* slots;
        long long capacity;
    };
    enum : long long {
        // Chunks double up to about 256 KiB: large enough to keep malloc and page misses
        // rare, small enough for maps of a few entries and for large values.
        eChunkBytes = 256 * 1024,
        eMaxChunk = eChunkBytes / (long long)sizeof(sEntry) > 0 ? eChunkBytes / (long long)sizeof(sEntry) : 1,
        eFirstChunk = eMaxChunk < 4 ? eMaxChunk : 4,
        eLine = 64,
        // Balance factor 3/5: a subtree is rebuilt once one side holds more than 3/5 of
        // it, which keeps random trees about 1.1 * log2(count) deep on average.
        eAlphaNum = 3,
        eAlphaDen = 5,
        // Paths this short never trigger a rebuild: small maps are not worth it.
        eMinRebuildDepth = 8,
    };
    static_assert(alignof(sEntry) <= eLine, "node alignment");

    template <class T>
    static void swapField(T& a, T& b) {
        T t = a;
        a = b;
        b = t;
    }
    static sEntry* leftmost(sEntry* e) {
        while (e->myLeft) e = e->myLeft;
        return e;
    }
    static sEntry* rightmost(sEntry* e) {
        while (e->myRight) e = e->myRight;
        return e;
    }
    // A freed slot is its own parent, so an entry already removed is refused, not walked forever.
    bool owns(const sEntry* e) const {
        while (e->myParent) {
            if (e->myParent == e) return false;
            e = e->myParent;
        }
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
    // floor(log_{1/alpha}(count)), recomputed only when the count leaves the cached range.
    long long depthLimit() {
        if (myCount < myLimitLo || myCount >= myLimitHi) {
            const double base = (double)eAlphaDen / (double)eAlphaNum;
            myLimit = (long long)(std::log((double)myCount) / std::log(base));
            myLimitLo = (long long)std::ceil(std::pow(base, (double)myLimit));
            myLimitHi = (long long)std::ceil(std::pow(base, (double)(myLimit + 1)));
            if (myLimitLo > myCount) myLimitLo = myCount;
            if (myLimitHi <= myCount) myLimitHi = myCount + 1;
        }
        return myLimit;
    }
    sEntry* allocSlot();
    void freeSlot(sEntry* e) {
        e->myParent = e;
        e->myLeft = myFree;
        myFree = e;
    }
    void releaseChunks();
    void rotateUp(sEntry* v);
    static long long edgeDepth(const sEntry* e, bool right) {
        long long h = 0;
        for (; e; e = right ? e->myRight : e->myLeft) h++;
        return h;
    }
    long long settleAtEnd(sEntry* n, bool right);
    void unlink(sEntry* z);
    void rebuildScapegoat(sEntry* from);
    static long long subtreeSize(sEntry* top);
    void rebuild(sEntry* top, long long size);

    sEntry* myRoot = nullptr;
    long long myCount = 0;
    long long myLimit = 0, myLimitLo = 0, myLimitHi = 0;
    sChunk* myChunks = nullptr;  // newest first
    sEntry* myFree = nullptr;    // freed slots, linked through myLeft
    sEntry* myBump = nullptr;    // unused tail of the newest chunk
    sEntry* myBumpEnd = nullptr;
    long long myNextChunk = eFirstChunk;
    int myThreshold;
};

template <class K, class V>
typename cFasterTreeList<K, V>::sEntry* cFasterTreeList<K, V>::allocSlot() {
    if (myFree) {
        sEntry* e = myFree;
        myFree = e->myLeft;
        return e;
    }
    if (myBump == myBumpEnd) {
        long long n = myNextChunk;
        // Slots start on a cache line so that small nodes never straddle two.
        size_t bytes = sizeof(sChunk) + eLine + (size_t)n * sizeof(sEntry);
        char* raw = (char*)malloc(bytes);
        if (!raw) return nullptr;
        sChunk* c = (sChunk*)raw;
        uintptr_t at = ((uintptr_t)(raw + sizeof(sChunk)) + eLine - 1) & ~(uintptr_t)(eLine - 1);
        c->slots = (sEntry*)at;
        c->capacity = n;
        c->next = myChunks;
        myChunks = c;
        myBump = c->slots;
        myBumpEnd = c->slots + n;
        if (myNextChunk < eMaxChunk) myNextChunk = myNextChunk * 2 < eMaxChunk ? myNextChunk * 2 : eMaxChunk;
    }
    return myBump++;
}

template <class K, class V>
void cFasterTreeList<K, V>::releaseChunks() {
    while (myChunks) {
        sChunk* c = myChunks;
        myChunks = c->next;
        free(c);
    }
    myFree = myBump = myBumpEnd = nullptr;
    myNextChunk = eFirstChunk;
}

template <class K, class V>
typename cFasterTreeList<K, V>::sEntry* cFasterTreeList<K, V>::insertEntry(const K& key, bool& isNew) {
    isNew = false;
    sEntry* parent = nullptr;
    sEntry* e = myRoot;
    int c = 0;
    long long depth = 0;
    bool wentLeft = false, wentRight = false;
    while (e) {
        c = treeKeyCompare(key, e->myKey);
        if (c == 0) return e;
        parent = e;
        if (c < 0) {
            e = e->myLeft;
            wentLeft = true;
        } else {
            e = e->myRight;
            wentRight = true;
        }
        depth++;
    }
    sEntry* n = allocSlot();
    if (!n) return nullptr;
    try {
        new (n) sEntry(key);
    } catch (...) {
        freeSlot(n);
        throw;
    }
    n->myParent = parent;
    if (!parent)
        myRoot = n;
    else if (c < 0)
        parent->myLeft = n;
    else
        parent->myRight = n;
    myCount++;
    isNew = true;
    // A new greatest or least key: sorted input appends here again and again.
    if (!wentLeft && parent)
        depth -= settleAtEnd(n, true);
    else if (!wentRight && parent)
        depth -= settleAtEnd(n, false);
    // A path longer than log_{1/alpha}(count) has an ancestor whose one side holds more
    // than alpha of its subtree; rebuilding that subtree alone keeps insertions cheap
    // and the depth far below the owner's threshold.
    if (depth > eMinRebuildDepth && depth > depthLimit()) {
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

// Lifts v above its parent (one rotation); the in-order sequence is unchanged.
template <class K, class V>
void cFasterTreeList<K, V>::rotateUp(sEntry* v) {
    sEntry* q = v->myParent;
    sEntry* g = q->myParent;
    if (q->myRight == v) {
        q->myRight = v->myLeft;
        if (v->myLeft) v->myLeft->myParent = q;
        v->myLeft = q;
    } else {
        q->myLeft = v->myRight;
        if (v->myRight) v->myRight->myParent = q;
        v->myRight = q;
    }
    q->myParent = v;
    v->myParent = g;
    if (!g)
        myRoot = v;
    else if (g->myLeft == q)
        g->myLeft = v;
    else
        g->myRight = v;
}

// Keys appended at one end build the edge of the tree like a binary counter: every
// node on that edge holds an inner subtree, and two neighbours whose inner subtrees
// are equally deep merge by one rotation. Sorted input thus stays about log2(count)
// deep for constant amortised work, without rebuilds. Returns the rotations made, by
// which the new node rose.
template <class K, class V>
long long cFasterTreeList<K, V>::settleAtEnd(sEntry* n, bool right) {
    long long lifted = 0;
    sEntry* q;
    while ((q = n->myParent) != nullptr) {
        sEntry* qInner = right ? q->myLeft : q->myRight;
        sEntry* nInner = right ? n->myLeft : n->myRight;
        if (edgeDepth(qInner, right) != edgeDepth(nInner, right)) break;
        rotateUp(n);
        lifted++;
    }
    return lifted;
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
    // Only the key and value end; the links stay to mark and chain the free slot.
    z->myValue.~V();
    z->myKey.~K();
    if (myCount == 0)
        releaseChunks();  // nothing lives in them any more
    else
        freeSlot(z);
}

template <class K, class V>
void cFasterTreeList<K, V>::destroy() {
    // Every used slot is either live or marked free; chunks are swept in memory order.
    if (!(std::is_trivially_destructible<K>::value && std::is_trivially_destructible<V>::value)) {
        for (sChunk* c = myChunks; c; c = c->next) {
            // Only the newest chunk has an unused tail.
            sEntry* end = c == myChunks ? myBump : c->slots + c->capacity;
            for (sEntry* e = c->slots; e != end; e++)
                if (e->myParent != e) e->~sEntry();
        }
    }
    myRoot = nullptr;
    myCount = 0;
    releaseChunks();
}

// Nodes of the subtree at `top`, walked in order through the parent links.
template <class K, class V>
long long cFasterTreeList<K, V>::subtreeSize(sEntry* top) {
    if (!top) return 0;
    long long n = 0;
    sEntry* e = leftmost(top);
    for (;;) {
        n++;
        if (e->myRight) {
            e = leftmost(e->myRight);
            continue;
        }
        for (;;) {
            if (e == top) return n;
            sEntry* p = e->myParent;
            bool fromLeft = p->myLeft == e;
            e = p;
            if (fromLeft) break;
        }
    }
}

template <class K, class V>
void cFasterTreeList<K, V>::rebuildScapegoat(sEntry* from) {
    // Climb from the new node (a leaf unless it rose at an end), summing subtree sizes,
    // to the first unbalanced ancestor.
    long long size = subtreeSize(from);
    sEntry* child = from;
    for (sEntry* p = from->myParent; p; child = p, p = p->myParent) {
        sEntry* other = child == p->myLeft ? p->myRight : p->myLeft;
        long long psize = size + 1 + subtreeSize(other);
        if (eAlphaDen * size > eAlphaNum * psize) {
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
    sEntry* local[256];
    sEntry** order = local;
    if (size > 256) {
        order = (sEntry**)malloc((size_t)size * sizeof(sEntry*));
        if (!order) return;  // the tree stays valid, only deeper
    }
    long long n = 0;
    sEntry* e = leftmost(top);
    for (;;) {
        order[n++] = e;
        if (n == size) break;
        if (e->myRight) {
            e = leftmost(e->myRight);
            continue;
        }
        for (;;) {
            sEntry* p = e->myParent;
            bool fromLeft = p->myLeft == e;
            e = p;
            if (fromLeft) break;
        }
    }
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
        long long mid = r.lo + (r.hi - r.lo) / 2;
        sEntry* m = order[mid];
        m->myParent = r.parent;
        if (!r.parent)
            myRoot = m;
        else if (r.right)
            r.parent->myRight = m;
        else
            r.parent->myLeft = m;
        if (mid + 1 < r.hi)
            stack[depth++] = {mid + 1, r.hi, m, true};
        else
            m->myRight = nullptr;
        if (r.lo < mid)
            stack[depth++] = {r.lo, mid, m, false};
        else
            m->myLeft = nullptr;
    }
    if (order != local) free(order);
}
