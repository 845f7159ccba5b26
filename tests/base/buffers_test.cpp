// Owned buffers: bounds checks throw, resizing keeps the prefix, text copies are owned.
#include <gtest/gtest.h>

#include "base/buffers.h"

TEST(Buffers, IndexOutsideThrowsWithItsMessage) {
    _typebuf<int> t;
    ASSERT_TRUE(t.set(3));
    EXPECT_NO_THROW(t[2] = 1);
    for (long long i : {-1LL, 3LL, 1LL << 40}) {
        try {
            t[i] = 0;
            FAIL() << "index " << i;
        } catch (const cException& e) {
            EXPECT_STREQ("_typebuf::Out of bounds", e.message());
        }
    }
    _classbuf<_guardchar<char>> c;
    ASSERT_TRUE(c.set(2));
    try {
        c[2].set("x");
        FAIL();
    } catch (const cException& e) {
        EXPECT_STREQ("_classbuf::Out of bounds", e.message());
    }
}

TEST(Buffers, ResetKeepsPrefixAndSetRefusesNonPositive) {
    _typebuf<unsigned char> t;
    ASSERT_TRUE(t.set((const unsigned char*)"abcdef", 6));
    ASSERT_TRUE(t.reset(3));
    EXPECT_EQ(0, memcmp(t.ptr, "abc", 3));
    ASSERT_TRUE(t.reset(1000));
    EXPECT_EQ(0, memcmp(t.ptr, "abc", 3));
    EXPECT_EQ(1000, t.count);
    EXPECT_FALSE(t.set(0));
    EXPECT_EQ(nullptr, t.ptr);
    EXPECT_EQ(0, t.count);
    EXPECT_FALSE(t.set(-5));
}

TEST(Buffers, GuardcharCopiesAndTerminates) {
    _guardchar<char> g;
    const char src[] = "hello world";
    g.set(src, 5);
    EXPECT_STREQ("hello", g.ptr);
    g.set((const char*)nullptr);
    EXPECT_EQ(nullptr, g.ptr);
    g.set(3);
    EXPECT_EQ(0, g.ptr[0]);
    _guardchar<unsigned short> w;
    const unsigned short ws[] = {0x41, 0x4E2D, 0};
    w.set(ws);
    EXPECT_EQ(2, w.length());
    _guardchar<unsigned short> w2(w);
    EXPECT_NE(w.ptr, w2.ptr);
    EXPECT_EQ(0x4E2D, w2.ptr[1]);
}
