// cStringKey: ordering against an unsigned byte-wise reference, text round trips, copies.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/stringkey.h"

namespace {

// Reference order: unsigned bytes, a proper prefix first.
int byteOrder(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; i++) {
        unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

cStringKey keyOf(const std::string& s) { return cStringKey(s.data(), (long long)s.size()); }

std::string textOf(const cStringKey& k) {
    _typebuf<char> t;
    EXPECT_TRUE(k.utf8(t));
    EXPECT_EQ(k.length() + 1, t.count);
    EXPECT_EQ(0, t.ptr[k.length()]);
    return std::string(t.ptr, (size_t)k.length());
}

}  // namespace

TEST(StringKey, OrdersLikeUnsignedBytesWithPrefixFirst) {
    std::mt19937 rng(5);
    // Few distinct bytes so equal prefixes and word-boundary ties are common.
    const char pool[] = {'\0', '\x01', 'A', 'a', '\x7F', '\x80', '\xC3', '\xFF'};
    std::vector<std::string> texts;
    for (int k = 0; k < 600; k++) {
        std::string s;
        int len = rng() % 14;  // 0..13 bytes: across one to four words
        for (int i = 0; i < len; i++) s += pool[rng() % 8];
        texts.push_back(s);
        if (!s.empty()) texts.push_back(s.substr(0, rng() % s.size()));  // a prefix of it
    }
    texts.push_back(std::string(20, '\xFF'));
    texts.push_back(std::string(17, 'a'));
    texts.push_back(std::string(16, 'a'));
    std::vector<cStringKey> keys;
    for (auto& t : texts) keys.push_back(keyOf(t));
    for (size_t i = 0; i < texts.size(); i++) {
        for (size_t j = 0; j < texts.size(); j += 1 + (i % 3)) {
            int want = byteOrder(texts[i], texts[j]);
            const cStringKey& a = keys[i];
            const cStringKey& b = keys[j];
            ASSERT_EQ(want, a.compare(b) < 0 ? -1 : a.compare(b) > 0 ? 1 : 0) << i << " " << j;
            ASSERT_EQ(want < 0, a < b);
            ASSERT_EQ(want > 0, a > b);
            ASSERT_EQ(want <= 0, a <= b);
            ASSERT_EQ(want >= 0, a >= b);
            ASSERT_EQ(want == 0, a == b);
            ASSERT_EQ(want != 0, a != b);
        }
    }
}

TEST(StringKey, TextComesBackUnchanged) {
    const char* texts[] = {"", "a", "abcd", "abcde", "0123456789abcdef", "0123456789abcdefg",
                           "\xFF\xFE\x80", "Gr\xC3\xBC\xC3\x9F" "e / \xE6\x97\xA5\xE6\x9C\xAC"};
    for (const char* t : texts) {
        EXPECT_EQ(std::string(t), textOf(cStringKey(t)));
        EXPECT_EQ(std::string(t), textOf(cStringKey(t, -1)));
    }
    EXPECT_EQ("ab", textOf(cStringKey("abcdef", 2)));
    EXPECT_EQ(std::string("a\0b", 3), textOf(cStringKey("a\0b", 3)));
    EXPECT_EQ("", textOf(cStringKey((const char*)nullptr)));
    EXPECT_EQ("", textOf(cStringKey((const unsigned short*)nullptr)));
}

TEST(StringKey, Utf16TextIsKeptAsUtf8) {
    const unsigned short u[] = {'K', 0xE9, 0x20AC, 0xD83D, 0xDE00, 0xDC00, 0};
    cStringKey k(u);
    EXPECT_EQ("K\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD", textOf(k));
    EXPECT_TRUE(k == cStringKey("K\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD"));
    EXPECT_EQ("K\xC3\xA9", textOf(cStringKey(u, 2)));
}

TEST(StringKey, CopiesAndMovesOwnTheirWords) {
    std::string longText(100, 'x');
    longText[50] = 'y';
    cStringKey a(longText.c_str());
    cStringKey b(a);
    cStringKey c("short");
    c = a;
    a = cStringKey("other");
    EXPECT_EQ(longText, textOf(b));
    EXPECT_EQ(longText, textOf(c));
    cStringKey d(std::move(b));
    EXPECT_EQ(longText, textOf(d));
    EXPECT_EQ("", textOf(b));
    c = std::move(d);
    EXPECT_EQ(longText, textOf(c));
    c = c;
    EXPECT_EQ(longText, textOf(c));
    cStringKey e("tiny");
    e = std::move(c);
    EXPECT_EQ(longText, textOf(e));
    EXPECT_EQ("other", textOf(a));
}
