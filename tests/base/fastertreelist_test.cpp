// cFasterTreeList against std::map on random operation sequences, with rebuilds forced
// by small thresholds; value addresses must survive every rebuild and removal.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/fastertreelist.h"
#include "base/stringkey.h"

namespace {

struct sTracked {
    long long payload;
    long long check;
};

typedef cFasterTreeList<int, sTracked> IntMap;

// Walks forward and backward and compares keys and value addresses with the model.
void expectSameContents(IntMap& m, const std::map<int, sTracked*>& model) {
    ASSERT_EQ((long long)model.size(), m.count());
    auto it = model.begin();
    for (IntMap::sEntry* e = m.first(); e; e = m.next(e), ++it) {
        ASSERT_TRUE(it != model.end());
        ASSERT_EQ(it->first, e->key());
        ASSERT_EQ(it->second, e->valuePtr()) << "value moved for key " << e->key();
        ASSERT_EQ((long long)it->first * 3, e->value().payload);
    }
    ASSERT_TRUE(it == model.end());
    auto rit = model.rbegin();
    for (IntMap::sEntry* e = m.last(); e; e = m.prev(e), ++rit) {
        ASSERT_TRUE(rit != model.rend());
        ASSERT_EQ(rit->first, e->key());
    }
    ASSERT_TRUE(rit == model.rend());
}

void runRandomOps(int threshold, unsigned seed, int keyRange, int steps) {
    IntMap m(threshold);
    std::map<int, sTracked*> model;
    std::mt19937 rng(seed);
    for (int step = 0; step < steps; step++) {
        int op = rng() % 10;
        int key = (int)(rng() % keyRange) - keyRange / 2;
        if (op < 4) {
            bool isNew = false;
            sTracked* v = m.insert(key, isNew);
            ASSERT_NE(nullptr, v);
            auto f = model.find(key);
            ASSERT_EQ(f == model.end(), isNew);
            if (isNew) {
                ASSERT_EQ(0, v->payload) << "new value not zeroed";
                ASSERT_EQ(0, v->check);
                v->payload = (long long)key * 3;
                model[key] = v;
            } else {
                ASSERT_EQ(f->second, v);
            }
        } else if (op == 4) {
            sTracked* v = m.insert_new(key);
            if (model.count(key)) {
                ASSERT_EQ(nullptr, v);
            } else {
                ASSERT_NE(nullptr, v);
                v->payload = (long long)key * 3;
                model[key] = v;
            }
        } else if (op == 5) {
            auto f = model.find(key);
            ASSERT_EQ(f == model.end() ? nullptr : f->second, m.find(key));
        } else if (op == 6) {
            auto f = model.upper_bound(key);
            IntMap::sEntry* e = m.find_le(key);
            if (f == model.begin()) {
                ASSERT_EQ(nullptr, e);
            } else {
                --f;
                ASSERT_NE(nullptr, e);
                ASSERT_EQ(f->first, e->key());
            }
            auto g = model.lower_bound(key);
            IntMap::sEntry* h = m.find_ge(key);
            if (g == model.end()) {
                ASSERT_EQ(nullptr, h);
            } else {
                ASSERT_NE(nullptr, h);
                ASSERT_EQ(g->first, h->key());
            }
        } else if (op == 7) {
            ASSERT_EQ(model.erase(key) == 1, m.dettach(key));
        } else if (op == 8 && !model.empty()) {
            // Remove through an entry found by a bounded search.
            IntMap::sEntry* e = m.find_ge(key);
            if (!e) e = m.last();
            model.erase(e->key());
            ASSERT_TRUE(m.dettach(e));
        } else if (op == 9) {
            // Ascending or descending bursts build deep paths and force rebuilds.
            bool up = rng() & 1;
            int start = key;
            for (int k = 0; k < 300; k++) {
                int kk = up ? start + k : start - k;
                bool isNew;
                sTracked* v = m.insert(kk, isNew);
                ASSERT_NE(nullptr, v);
                if (isNew) {
                    v->payload = (long long)kk * 3;
                    model[kk] = v;
                }
            }
        }
        if (step % 97 == 0) expectSameContents(m, model);
    }
    expectSameContents(m, model);
    m.destroy();
    EXPECT_EQ(0, m.count());
    EXPECT_EQ(nullptr, m.first());
}

struct sCounted {
    static int alive;
    int v = 0;
    sCounted() { alive++; }
    ~sCounted() { alive--; }
};
int sCounted::alive = 0;

}  // namespace

TEST(FasterTreeList, RandomOperationsMatchStdMap) {
    struct {
        int threshold;
        unsigned seed;
        int keyRange;
    } cases[] = {{4, 1, 200}, {8, 2, 5000}, {32, 3, 100000}, {512, 4, 100000}, {2048, 5, 1000}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.threshold);
        runRandomOps(c.threshold, c.seed, c.keyRange, 3000);
    }
}

TEST(FasterTreeList, SortedInsertionRebuildsWithoutMovingValues) {
    for (bool ascending : {true, false}) {
        IntMap m(16);
        std::map<int, sTracked*> model;
        for (int k = 0; k < 20000; k++) {
            int key = ascending ? k : -k;
            sTracked* v = m.insert(key);
            v->payload = (long long)key * 3;
            model[key] = v;
        }
        expectSameContents(m, model);
        // Removing from the middle relinks two-child nodes; survivors stay in place.
        for (int k = 0; k < 20000; k += 3) {
            int key = ascending ? k : -k;
            ASSERT_TRUE(m.dettach(key));
            model.erase(key);
        }
        expectSameContents(m, model);
    }
}

TEST(FasterTreeList, ValuesAreDestroyedExactlyOnce) {
    sCounted::alive = 0;
    {
        cFasterTreeList<int, sCounted> m(4);
        for (int k = 0; k < 1000; k++) m.insert(k * 7 % 1000)->v = k;
        EXPECT_EQ(1000, sCounted::alive);
        for (int k = 0; k < 1000; k += 2) EXPECT_TRUE(m.dettach(k));
        EXPECT_FALSE(m.dettach(0));
        EXPECT_EQ(500, sCounted::alive);
        m.destroy();
        EXPECT_EQ(0, sCounted::alive);
        for (int k = 0; k < 10; k++) m.insert(k);
        EXPECT_EQ(10, sCounted::alive);
    }
    EXPECT_EQ(0, sCounted::alive);
    // Maps of maps free their inner maps (ASan reports a leak otherwise).
    cFasterTreeList<int, cFasterTreeList<int, std::string>> outer;
    for (int k = 0; k < 50; k++)
        for (int j = 0; j < 20; j++) *outer.insert(k)->insert(j) = std::string(40, 'a' + j);
    EXPECT_EQ("cccccccccccccccccccccccccccccccccccccccc", *outer.find(3)->find(2));
}

TEST(FasterTreeList, RefusesEntriesOfAnotherMap) {
    IntMap a, b;
    a.insert(1);
    b.insert(1);
    IntMap::sEntry* foreign = b.first();
    EXPECT_FALSE(a.dettach(foreign));
    EXPECT_FALSE(a.dettach((IntMap::sEntry*)nullptr));
    EXPECT_EQ(1, a.count());
    EXPECT_EQ(1, b.count());
    EXPECT_EQ(a.first(), a.next(nullptr));
    EXPECT_EQ(a.last(), a.prev(nullptr));
}

TEST(FasterTreeList, StringKeysMatchStdMapOrder) {
    std::mt19937 rng(9);
    cFasterTreeList<cStringKey, int> m(8);
    std::map<std::string, int> model;  // std::string compares as unsigned chars
    const char pool[] = {'a', 'b', 'B', '\x80', '\xFF', 'z'};
    for (int k = 0; k < 5000; k++) {
        std::string s;
        int len = rng() % 9;
        for (int i = 0; i < len; i++) s += pool[rng() % 6];
        cStringKey key(s.data(), (long long)s.size());
        if (rng() % 4 == 0) {
            ASSERT_EQ(model.erase(s) == 1, m.dettach(key));
        } else {
            *m.insert(key) = k;
            model[s] = k;
        }
    }
    ASSERT_EQ((long long)model.size(), m.count());
    auto it = model.begin();
    _typebuf<char> t;
    for (auto* e = m.first(); e; e = m.next(e), ++it) {
        ASSERT_TRUE(e->key().utf8(t));
        ASSERT_EQ(it->first, std::string(t.ptr, (size_t)t.count - 1));
        ASSERT_EQ(it->second, e->value());
    }
}

TEST(FasterTreeList, PointerAndWideKeysOrderByValue) {
    std::vector<char> block(64);
    cFasterTreeList<char*, int> byAddress;
    for (int k = 63; k >= 0; k -= 5) *byAddress.insert(&block[k]) = k;
    int last = -1;
    for (auto* e = byAddress.first(); e; e = byAddress.next(e)) {
        EXPECT_GT(e->value(), last);
        last = e->value();
    }
    cFasterTreeList<unsigned long long, int> wide;
    *wide.insert(0xFFFFFFFF00000000ULL) = 2;
    *wide.insert(1) = 1;
    *wide.insert(0x100000000ULL) = 3;
    EXPECT_EQ(1ULL, wide.first()->key());
    EXPECT_EQ(0xFFFFFFFF00000000ULL, wide.last()->key());
    EXPECT_EQ(0x100000000ULL, wide.find_le(0xFFFFFFFEFFFFFFFFULL)->key());
}

namespace {

// A value whose constructor can be made to throw, counting live instances.
struct sFragile {
    static int live;
    static bool failNext;
    long long v = 0;
    sFragile() {
        if (failNext) {
            failNext = false;
            throw cException("construction failed");
        }
        live++;
    }
    ~sFragile() { live--; }
};
int sFragile::live = 0;
bool sFragile::failNext = false;

}  // namespace

TEST(FasterTreeList, NodeStorageSurvivesThrowsSwapsAndRefills) {
    {
        cFasterTreeList<int, sFragile> a(512), b(512);
        std::map<int, sFragile*> ma, mb;
        for (int round = 0; round < 3; round++) {
            // Fill, with one failed construction in the middle: the map stays consistent.
            for (int k = 0; k < 300; k++) {
                if (k == 150) {
                    sFragile::failNext = true;
                    EXPECT_THROW(a.insert(100000 + round), cException);
                    EXPECT_EQ(nullptr, a.find(100000 + round));
                }
                sFragile* v = a.insert(k * 7 % 1000);
                v->v = k;
                ma[k * 7 % 1000] = v;
            }
            EXPECT_EQ((long long)ma.size(), a.count());
            EXPECT_EQ((int)(ma.size() + mb.size()), sFragile::live);
            // Swap, then remove through the other map: values keep their addresses.
            a.swap(b);
            std::swap(ma, mb);
            for (auto it = mb.begin(); it != mb.end();) {
                ASSERT_EQ(it->second, b.find(it->first));
                if (it->first % 3 == 0) {
                    EXPECT_TRUE(b.dettach(it->first));
                    it = mb.erase(it);
                } else {
                    ++it;
                }
            }
            EXPECT_EQ((int)(ma.size() + mb.size()), sFragile::live);
            // Empty one map completely, then refill it on the next round.
            for (auto& kv : ma) EXPECT_TRUE(a.dettach(kv.first));
            ma.clear();
            EXPECT_EQ(0, a.count());
            EXPECT_EQ(nullptr, a.first());
        }
        for (auto& kv : mb) ASSERT_EQ(kv.second, b.find(kv.first));
    }
    EXPECT_EQ(0, sFragile::live);
}

TEST(FasterTreeList, EntryRemovedEarlierIsRefusedNotWalkedForever) {
    cFasterTreeList<int, int> m(512);
    for (int k = 0; k < 10; k++) *m.insert(k) = k;
    cFasterTreeList<int, int>::sEntry* e = m.findEntry(4);
    ASSERT_NE(nullptr, e);
    EXPECT_TRUE(m.dettach(e));
    EXPECT_FALSE(m.dettach(e));  // the slot now sits on the free list
    EXPECT_EQ(9, m.count());
}
