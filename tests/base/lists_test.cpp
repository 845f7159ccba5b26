// Lists and trees: insertion positions against a plain model, deletions counted through
// the items' destructors, and a very deep tree freed without recursion.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "base/lists.h"

namespace {

int gAlive = 0;

struct sCountedItem : cListItem {
    int id;
    explicit sCountedItem(int i) : id(i) { gAlive++; }
    ~sCountedItem() override { gAlive--; }
    bool eq(void* p) override { return p && *(int*)p == id; }
};

struct sNode : cTreeItem {
    int id;
    explicit sNode(int i) : id(i) { gAlive++; }
    ~sNode() override { gAlive--; }
};

struct sBox {
    virtual ~sBox() { gAlive--; }
    sBox() { gAlive++; }
};

std::vector<int> ids(const cList& l) {
    std::vector<int> r;
    for (cListItem* it = l.first(); it; it = it->next) r.push_back(((sCountedItem*)it)->id);
    return r;
}

// The children of `parent` read forward, checked against the backward links.
std::vector<int> children(const cTree& t, cTreeItem* parent) {
    std::vector<int> fwd, back;
    for (cTreeItem* c = parent ? parent->firstChild : t.first(); c; c = c->next) {
        EXPECT_EQ(parent, c->parent);
        EXPECT_EQ(&t, c->tree);
        fwd.push_back(((sNode*)c)->id);
    }
    for (cTreeItem* c = t.subLast(parent); c; c = c->prev) back.insert(back.begin(), ((sNode*)c)->id);
    EXPECT_EQ(fwd, back);
    return fwd;
}

}  // namespace

TEST(List, AddAppendsZeroedElementsAndDestroyFreesOwnedObjects) {
    struct sPlain {
        int a;
        double b;
        void* p;
    };
    _List<sPlain> l;
    std::vector<sPlain*> at;  // elements are made in blocks: none ever moves
    for (int k = 0; k < 5000; k++) {
        sPlain* p = l.add();
        ASSERT_NE(nullptr, p);
        EXPECT_EQ(0, p->a);  // freshly allocated memory is not zero under ASan
        EXPECT_EQ(0.0, p->b);
        EXPECT_EQ(nullptr, p->p);
        p->a = k;
        at.push_back(p);
    }
    int expect = 0;
    for (auto* it = l.head; it; it = it->next) {
        EXPECT_EQ(at[expect], &it->value) << expect;
        EXPECT_EQ(expect++, it->value.a);
    }
    EXPECT_EQ(5000, expect);
    EXPECT_EQ(5000, l.count());
    EXPECT_EQ(4999, l.tail->value.a);
    l.destroy();
    EXPECT_EQ(nullptr, l.head);
    EXPECT_EQ(nullptr, l.tail);
    EXPECT_EQ(0, l.add()->a);  // usable again after destroy

    gAlive = 0;
    {
        _List<cPtr<sBox>> boxes;
        for (int k = 0; k < 10; k++) *boxes.add() = new sBox;
        EXPECT_EQ(10, gAlive);
        boxes.destroy();
        EXPECT_EQ(0, gAlive);
        *boxes.add() = new sBox;
    }
    EXPECT_EQ(0, gAlive);
}

TEST(Ptr, AssigningReplacesAndDeletesTheOldObject) {
    gAlive = 0;
    {
        cPtr<sBox> p;
        EXPECT_EQ(nullptr, (sBox*)p);
        p = new sBox;
        sBox* first = p;
        p = first;  // the same object again: kept
        EXPECT_EQ(1, gAlive);
        p = new sBox;
        EXPECT_EQ(1, gAlive);
        sBox* kept = p.dettach();
        EXPECT_EQ(nullptr, p.ptr);
        p = new sBox;
        EXPECT_EQ(2, gAlive);
        delete kept;
    }
    EXPECT_EQ(0, gAlive);
}

TEST(List, IntrusiveAddRemoveDetachKeepLinksAndCounts) {
    gAlive = 0;
    {
        cList l;
        l.add(nullptr);
        EXPECT_EQ(0, l.count());
        sCountedItem* items[5];
        for (int k = 0; k < 5; k++) l.add(items[k] = new sCountedItem(k));
        EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), ids(l));
        EXPECT_TRUE(l.remove(items[2]));  // middle: deleted
        EXPECT_EQ(4, gAlive);
        EXPECT_TRUE(l.remove(items[4]));  // tail: the tail moves back
        EXPECT_EQ(items[3], l.last());
        l.add(new sCountedItem(5));
        EXPECT_EQ((std::vector<int>{0, 1, 3, 5}), ids(l));
        EXPECT_TRUE(l.dettach(items[0]));  // head: kept alive
        EXPECT_FALSE(l.dettach(items[0]));
        EXPECT_EQ(4, gAlive);
        EXPECT_EQ((std::vector<int>{1, 3, 5}), ids(l));
        int want = 3;
        EXPECT_EQ(items[3], l.find(&want));
        want = 9;
        EXPECT_EQ(nullptr, l.find(&want));
        delete items[0];
        l.destroy();
        EXPECT_EQ(0, gAlive);
        EXPECT_EQ(nullptr, l.first());
        EXPECT_EQ(nullptr, l.last());
        l.add(new sCountedItem(7));
    }
    EXPECT_EQ(0, gAlive);
}

TEST(Tree, RandomEditsMatchAPlainModel) {
    gAlive = 0;
    std::mt19937 rng(21);
    cTree t;
    std::map<int, sNode*> byId;               // alive items
    std::map<int, std::vector<int>> kids;     // parent id (-1 root) -> children in order
    std::map<int, int> parentOf;
    int nextId = 0;
    auto pickAlive = [&]() -> sNode* {
        if (byId.empty()) return nullptr;
        auto it = byId.begin();
        std::advance(it, rng() % byId.size());
        return it->second;
    };
    for (int step = 0; step < 3000; step++) {
        int op = rng() % 8;
        sNode* parent = rng() % 4 == 0 ? nullptr : pickAlive();
        int pid = parent ? parent->id : -1;
        std::vector<int>& list = kids[pid];
        if (op < 4) {
            sNode* n = new sNode(nextId);
            // after: none, one of the parent's children, or an item elsewhere (not met).
            sNode* after = nullptr;
            int r = rng() % 3;
            if (r == 1 && !list.empty()) after = byId[list[rng() % list.size()]];
            if (r == 2) after = pickAlive();
            ASSERT_EQ(n, t.add(parent, n, after));
            auto pos = list.end();
            if (after && parentOf[after->id] == pid)
                pos = std::find(list.begin(), list.end(), after->id) + 1;
            list.insert(pos, nextId);
            parentOf[nextId] = pid;
            byId[nextId++] = n;
        } else if (op == 4) {
            sNode* n = new sNode(nextId);
            ASSERT_EQ(n, t.addFirst(parent, n));
            list.insert(list.begin(), nextId);
            parentOf[nextId] = pid;
            byId[nextId++] = n;
        } else if (op == 5 && parent) {
            // Remove the item and its subtree from the model too.
            std::vector<int>& sib = kids[parentOf[pid]];
            sib.erase(std::find(sib.begin(), sib.end(), pid));
            std::vector<int> todo = {pid};
            while (!todo.empty()) {
                int id = todo.back();
                todo.pop_back();
                for (int c : kids[id]) todo.push_back(c);
                kids.erase(id);
                byId.erase(id);
                parentOf.erase(id);
            }
            ASSERT_TRUE(t.remove(parent));
        } else if (op == 6 && parent && rng() % 4 == 0) {
            for (int c : kids[pid]) {
                std::vector<int> todo = {c};
                while (!todo.empty()) {
                    int id = todo.back();
                    todo.pop_back();
                    for (int g : kids[id]) todo.push_back(g);
                    kids.erase(id);
                    byId.erase(id);
                    parentOf.erase(id);
                }
            }
            kids[pid].clear();
            t.destroy_sub(parent);
        }
        ASSERT_EQ((int)byId.size(), gAlive);
        if (step % 50 == 0) {
            ASSERT_EQ(kids[-1], children(t, nullptr));
            for (auto& p : byId) ASSERT_EQ(kids[p.first], children(t, p.second)) << p.first;
        }
    }
    t.destroy();
    EXPECT_EQ(0, gAlive);
    EXPECT_EQ(nullptr, t.first());
}

TEST(Tree, RefusesItemsAlreadyInATreeAndMovesDetachedSubtrees) {
    gAlive = 0;
    {
        cTree a, b;
        sNode* p = new sNode(1);
        sNode* c = new sNode(2);
        ASSERT_EQ(p, a.add(nullptr, p));
        ASSERT_EQ(c, a.add(p, c));
        EXPECT_EQ(nullptr, a.add(nullptr, c));   // already linked
        EXPECT_EQ(nullptr, b.addFirst(nullptr, p));
        sNode* loose = new sNode(3);
        EXPECT_EQ(nullptr, b.add(p, loose));     // parent of another tree
        EXPECT_FALSE(b.remove(p));
        EXPECT_TRUE(a.dettach(p));
        EXPECT_EQ(nullptr, a.first());
        EXPECT_EQ(nullptr, c->tree);
        ASSERT_EQ(p, b.add(nullptr, p));
        EXPECT_EQ(&b, c->tree);
        EXPECT_EQ(c, b.subLast(p));
        ASSERT_EQ(loose, b.add(c, loose));
        EXPECT_EQ(3, gAlive);
    }
    EXPECT_EQ(0, gAlive);
}

TEST(Tree, MillionDeepChainIsFreedWithoutRecursion) {
    gAlive = 0;
    {
        cTree t;
        cTreeItem* parent = nullptr;
        for (int k = 0; k < 1000000; k++) {
            sNode* n = new sNode(k);
            ASSERT_EQ(n, t.add(parent, n));
            parent = n;
        }
        cTreeItem* second = t.first()->firstChild;
        ASSERT_TRUE(t.remove(second->firstChild));
        EXPECT_EQ(2, gAlive);
        for (int k = 0; k < 1000000; k++) {
            sNode* n = new sNode(k);
            ASSERT_EQ(n, t.add(second, n));
            second = n;
        }
        EXPECT_EQ(1000002, gAlive);
    }  // the destructor frees the rest
    EXPECT_EQ(0, gAlive);
}
