// The growing-block arena against a plain model: every piece keeps its bytes while others
// are made, pieces are aligned as asked, the blocks give the pieces back in the order they
// were made, and a piece with a block of its own leaves the filling one open.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/blockarena.h"

namespace {

struct sPiece {
    unsigned char* at;
    std::string bytes;
};

// Makes pieces of random sizes up to `most` bytes, each filled with its own pattern.
template <class A>
std::vector<sPiece> fill(A& arena, size_t most, size_t align, int count) {
    std::mt19937 rng(7);
    std::vector<sPiece> made;
    for (int i = 0; i < count; i++) {
        std::string b(1 + rng() % most, '\0');
        for (char& c : b) c = (char)rng();
        unsigned char* p = (unsigned char*)arena.alloc(b.size(), align);
        EXPECT_NE(nullptr, p);
        if (!p) break;
        EXPECT_EQ(0u, (uintptr_t)p % align) << i;
        memcpy(p, b.data(), b.size());
        made.push_back({p, b});
    }
    return made;
}

}  // namespace

TEST(BlockArena, PiecesKeepTheirBytesAndComeBackInOrder) {
    struct Case {
        size_t most, align;
        int count;
    } cases[] = {
        {40, 1, 3000},    // small pieces over many blocks
        {900, 1, 300},    // pieces larger than the first blocks
        {24, 8, 2000},    // aligned pieces
        {3000, 16, 100},  // aligned pieces, some larger than a whole block
    };
    for (const Case& c : cases) {
        cBlockArena<512, 4096> arena;
        std::vector<sPiece> made = fill(arena, c.most, c.align, c.count);
        std::string want;
        for (const sPiece& p : made) {
            EXPECT_EQ(0, memcmp(p.at, p.bytes.data(), p.bytes.size()));
            if (c.align == 1) want += p.bytes;
        }
        if (c.align > 1) continue;  // padding between pieces: the order is checked unpadded
        // Without own blocks the blocks hold the pieces back to back, oldest first; a walk
        // leaves the arena as it was.
        for (int walk = 0; walk < 2; walk++) {
            std::string got;
            EXPECT_TRUE(arena.forEachBlock([&](const unsigned char* b, size_t n) {
                got.append((const char*)b, n);
                return true;
            }));
            EXPECT_EQ(want, got) << c.most;
        }
        int blocks = 0;
        EXPECT_FALSE(arena.forEachBlock([&](const unsigned char*, size_t) { return ++blocks < 2; }));
        EXPECT_EQ(2, blocks);
        arena.clear();
        EXPECT_TRUE(arena.forEachBlock([](const unsigned char*, size_t) { return false; }));
    }
}

TEST(BlockArena, ALargePieceLeavesTheFillingBlockOpen) {
    cBlockArena<1024, 1024, 256> arena;
    unsigned char* a = (unsigned char*)arena.alloc(100);
    unsigned char* big = (unsigned char*)arena.alloc(5000);
    unsigned char* b = (unsigned char*)arena.alloc(100);
    ASSERT_TRUE(a && big && b);
    EXPECT_EQ(a + 100, b);  // the filling block took the next small piece
    memset(big, 1, 5000);
    memset(a, 2, 100);
    memset(b, 3, 100);
    EXPECT_EQ(1, big[4999]);
    size_t total = 0;
    arena.forEachBlock([&](const unsigned char*, size_t n) {
        total += n;
        return true;
    });
    EXPECT_EQ(5200u, total);
}
