// The loader against documents built by the independent python writer, truncated and
// damaged documents, and the box model's setters and ownership.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "ciplatform/fontobject.h"
#include "hdoctest.h"

using namespace hdoctest;

namespace {

TEST(SiDocLoader, HandBuiltDocumentsAreAcceptedOrRefusedAsTheReaderDoes) {
    if (!havePython()) GTEST_SKIP() << "python3 not found";
    testutil::TempDir dir;
    ASSERT_EQ(testutil::run({"python3", toolPath(), "write", dir.path()}), 0);
    std::ifstream manifest(dir.file("cases.txt"));
    std::string name, verdict;
    int seen = 0;
    while (manifest >> name >> verdict) {
        SCOPED_TRACE(name);
        seen++;
        auto bytes = testutil::readFile(dir.file(name + ".hdoc"));
        cSiDocLoader loader;
        bool ok = loader.load(bytes.data(), (long long)bytes.size());
        EXPECT_EQ(ok, verdict == "accept");
        std::string theirs = pythonDump(dir.file(name + ".hdoc"));
        if (verdict == "accept") {
            EXPECT_EQ(dump(loader), theirs);
        } else {
            EXPECT_EQ(theirs.compare(0, 7, "REJECT "), 0) << theirs;
            // A refused document leaves nothing behind.
            EXPECT_EQ(loader.forLang(0), nullptr);
            EXPECT_EQ(loader.imageCount() + loader.stringCount() + loader.fontCount(), 0);
        }
    }
    EXPECT_GT(seen, 50);
}

TEST(SiDocLoader, HandBuiltDocumentDetails) {
    if (!havePython()) GTEST_SKIP() << "python3 not found";
    testutil::TempDir dir;
    ASSERT_EQ(testutil::run({"python3", toolPath(), "write", dir.path()}), 0);
    auto bytes = testutil::readFile(dir.file("full.hdoc"));
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(bytes.data(), (long long)bytes.size()));
    cSiDocContainer* root = loader.forLang(0);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(loader.forLang(1), nullptr);
    auto* top = dynamic_cast<cSiDocContainer*>(root->children().head->value.ptr);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->align(), cSiDocContainer::alCenter);
    EXPECT_EQ(top->fontProvider(), &loader);
    // Pixels arrive upright: byte x of row y of the python PNG is x * 37 + y * 11 + 1 (RGBA).
    auto* img = dynamic_cast<cSiDocImage*>(top->children().head->next->next->value.ptr);
    ASSERT_NE(img, nullptr);
    ASSERT_NE(img->image(), nullptr);
    ASSERT_EQ(img->image()->width(), 3);
    EXPECT_EQ(img->image()->raw()[0], 0x7001264Bu);
    EXPECT_EQ(img->image()->raw()[3], 0x7B0C3156u);
}

// Some earlier builds wrote 2 (a word joined to the one before) or 4 (a blank beside a
// container) into the break byte: those documents load, and every box whose byte is not 0
// starts a line.
TEST(SiDocLoader, BreakBytesOfEarlierBuildsStartLines) {
    auto w = [](const char* word, unsigned brk) { return wordRecord(word, brk, 0, 65535); };
    auto doc = documentOf(w("Export", 0) + w("-Dialog", 2) + w("our", 0) + boxRecord(4, 0, 65535, 0) +
                          w("support", 0) + kEnd + w("docs", 4) + boxRecord(1, 0, 65535, 0) + w("end", 0) + kEnd +
                          w("after", 6) + kEnd);
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(doc.data(), (long long)doc.size()));
    std::string breaks;
    for (auto* it = loader.forLang(0)->children().head; it; it = it->next)
        breaks += it->value.ptr->isBreak() ? '1' : '0';
    EXPECT_EQ(breaks, "0101111");
}

TEST(SiDocLoader, EveryTruncationIsRefused) {
    testutil::TempDir dir;
    testutil::writeFile(dir.file("p.png"), makePng(5, 4));
    Compiled c = compileFiles(dir, "ENG=\"./en.txt\"\nDEU=\"./de.txt\"",
                              {{"en.txt", "<text f=verd,15 a=c><link ref=x>a <img src=./p.png></link> <i>b</i></text>"},
                               {"de.txt", "<b>z</b>"}});
    ASSERT_TRUE(c.ok) << c.err.message.ptr;
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(c.bytes.data(), (long long)c.bytes.size()));
    for (size_t n = 0; n < c.bytes.size(); n++) {
        // A copy of exactly n bytes, so that AddressSanitizer sees any read past the end.
        std::vector<unsigned char> cut(c.bytes.begin(), c.bytes.begin() + n);
        EXPECT_FALSE(loader.load(cut.data(), (long long)n)) << n;
    }
}

TEST(SiDocLoader, RandomDamageNeverCrashes) {
    testutil::TempDir dir;
    testutil::writeFile(dir.file("p.png"), makePng(3, 3));
    Compiled c = compileSource(dir, "<text ml=3 fg=0x10><link ref=r>w1 <img src=./p.png> w2</link><b>x</b></text>");
    ASSERT_TRUE(c.ok);
    auto noise = testutil::randomBytes(3 * 3000, 7);
    int accepted = 0;
    for (int i = 0; i < 3000; i++) {
        std::vector<unsigned char> d = c.bytes;
        for (int k = 0; k < 3; k++) {
            size_t at = (noise[3 * i + k] * 7919u + (unsigned)i * 104729u) % d.size();
            d[at] ^= (unsigned char)(1u << (noise[3 * i + k] & 7));
        }
        cSiDocLoader loader;
        if (loader.load(d.data(), (long long)d.size())) accepted++;
    }
    // Damage to the box headers' values loads; damage to zlib streams does not.
    EXPECT_LT(accepted, 3000);
}

TEST(SiDocLoader, SecondLoadReplacesTheFirst) {
    testutil::TempDir dir;
    testutil::writeFile(dir.file("p.png"), makePng(2, 2));
    Compiled a = compileFiles(dir, "RUS=\"./a.txt\"", {{"a.txt", "<link ref=q><img src=./p.png></link><i>x</i>"}});
    Compiled b = compileFiles(dir, "ENG=\"./b.txt\"", {{"b.txt", "plain"}});
    ASSERT_TRUE(a.ok && b.ok);
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(a.bytes.data(), (long long)a.bytes.size()));
    EXPECT_NE(loader.forLang(1), nullptr);
    EXPECT_EQ(loader.imageCount(), 1);
    EXPECT_EQ(loader.stringCount(), 1);
    EXPECT_EQ(loader.fontCount(), 1);
    ASSERT_TRUE(loader.load(b.bytes.data(), (long long)b.bytes.size()));
    EXPECT_EQ(loader.forLang(1), nullptr);
    EXPECT_NE(loader.forLang(0), nullptr);
    EXPECT_EQ(loader.imageCount() + loader.stringCount() + loader.fontCount(), 0);
    loader.destroy();
    EXPECT_EQ(loader.forLang(0), nullptr);
}

TEST(SiDocLoader, FilesThatCannotBeRead) {
    testutil::TempDir dir;
    cSiDocLoader loader;
    EXPECT_FALSE(loader.load(dir.file("missing.hdoc").c_str()));
    testutil::writeFile(dir.file("empty.hdoc"), "", 0);
    EXPECT_FALSE(loader.load(dir.file("empty.hdoc").c_str()));
    EXPECT_FALSE(loader.load(dir.path().c_str()));
    EXPECT_FALSE(loader.load((const char*)nullptr));
    EXPECT_FALSE(loader.load((const unsigned char*)nullptr, 100));
}

TEST(SiDocLoader, FontsComeFromTheStore) {
    testutil::TempDir dir;
    Compiled c = compileSource(dir, "<text f=kor,18,7,iu>x</text><text f=fixed,20>y</text>");
    ASSERT_TRUE(c.ok) << c.err.message.ptr;
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(c.bytes.data(), (long long)c.bytes.size()));
    cFontObject* k = loader.font(0);
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->height(), 18);
    EXPECT_TRUE(k->italic());
    EXPECT_TRUE(k->underline());
    EXPECT_FALSE(k->bold());
    EXPECT_EQ(k, cFontObject::get(7, 18, "Malgun Gothic", false, true, true));
    cFontObject* f = loader.font(1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->height(), 20);
    EXPECT_EQ(loader.font(2), nullptr);
    EXPECT_EQ(loader.font(0xFFFFFFFF), nullptr);
}

TEST(SiDocBox, SettersKeepOrIgnoreAsDocumented) {
    struct Case {
        int l, t, r, b;
        int w, h;
        int wantL, wantT, wantR, wantB, wantW, wantH;
    } cases[] = {
        {1, 2, 3, 4, 10, 20, 1, 2, 3, 4, 10, 20},
        {-1, 5, -7, 0, 0, 0, 9, 5, 9, 0, 33, 44},
        {-1, -1, -1, -1, -1, -1, 9, 9, 9, 9, -1, -1},
        {0, 0, 0, 0, -5, -2, 0, 0, 0, 0, 33, 44},
    };
    for (auto& c : cases) {
        cSiDocText box;
        box.setMargins(9, 9, 9, 9);
        box.setWidth(33);
        box.setHeight(44);
        box.setMargins(c.l, c.t, c.r, c.b);
        box.setWidth(c.w);
        box.setHeight(c.h);
        EXPECT_EQ(box.leftMargin(), c.wantL);
        EXPECT_EQ(box.topMargin(), c.wantT);
        EXPECT_EQ(box.rightMargin(), c.wantR);
        EXPECT_EQ(box.bottomMargin(), c.wantB);
        EXPECT_EQ(box.width(), c.wantW);
        EXPECT_EQ(box.height(), c.wantH);
    }
    cSiDocText t;
    EXPECT_EQ(t.width(), -1);
    EXPECT_EQ(t.bgColor(), 0xFFFFFFFFu);
    EXPECT_EQ(t.color(), 0xFFFFFFFFu);
    EXPECT_EQ(t.fontId(), 0xFFFFFFFFu);
    t.setText("");
    EXPECT_EQ(t.text(), nullptr);
    char buf[] = "abc";
    t.setText(buf);
    buf[0] = 'x';
    EXPECT_STREQ(t.text(), "abc");
    cSiDocContainer c;
    EXPECT_FALSE(c.addChild(nullptr));
    EXPECT_EQ(c.childCount(), 0);
}

TEST(SiDocBox, DeepTreeIsFreedWithoutRecursion) {
    // Far deeper than any loaded document; a recursive destructor would exhaust the stack.
    cSiDocContainer* root = new cSiDocContainer();
    cSiDocContainer* c = root;
    for (int i = 0; i < 1000000; i++) {
        cSiDocContainer* n = new cSiDocContainer();
        ASSERT_TRUE(c->addChild(new cSiDocText()));
        ASSERT_TRUE(c->addChild(n));
        c = n;
    }
    delete root;
}

// Document bytes: one zlib stream per language, no fonts or strings, the pictures as stored.
std::vector<unsigned char> rawDocument(const std::vector<std::vector<unsigned char> >& langStreams,
                                       const std::vector<std::vector<unsigned char> >& pictures) {
    std::vector<unsigned char> doc(kSiDocMagic, kSiDocMagic + 8);
    auto le32 = [&](size_t v) {
        for (int k = 0; k < 4; k++) doc.push_back((unsigned char)(v >> (8 * k)));
    };
    for (size_t l = 0; l < langStreams.size(); l++) {
        std::vector<unsigned char> z(compressBound((uLong)langStreams[l].size()));
        uLongf zn = (uLongf)z.size();
        EXPECT_EQ(compress2(z.data(), &zn, langStreams[l].data(), (uLong)langStreams[l].size(), 9), Z_OK);
        doc.push_back((unsigned char)l);
        le32(zn);
        doc.insert(doc.end(), z.begin(), z.begin() + zn);
    }
    doc.push_back(0xFF);
    le32(0);
    le32(0);
    size_t images = 0;
    for (auto& p : pictures) images += 4 + p.size();
    le32(images);
    for (auto& p : pictures) {
        le32(p.size());
        doc.insert(doc.end(), p.begin(), p.end());
    }
    return doc;
}

// A root holding `n` empty picture boxes (20-byte records), then its end.
std::vector<unsigned char> flatPictureBoxes(size_t n) {
    std::vector<unsigned char> s(n * 20 + 1, 0);
    for (size_t i = 0; i < n; i++) {
        unsigned char* r = &s[i * 20];
        r[0] = 1;
        memset(r + 1, 0xFF, 4);
        memset(r + 14, 0xFF, 6);  // width, height and picture: none
    }
    s[n * 20] = 0xFF;
    return s;
}

// A black-and-white PNG (one bit a pixel), cheap to make at any size.
std::vector<unsigned char> bilevelPng(unsigned w, unsigned h) {
    return pngFromRows(w, h, 1, 0, std::vector<unsigned char>((size_t)h * (1 + (w + 7) / 8), 0));
}

TEST(SiDocLoader, BoxesOfAllLanguagesTogetherAreCapped) {
    // Each language alone is far inside the stream cap, and each record deflates to a few
    // bits; together they would make more boxes than any document has.
    size_t half = (size_t)(kSiDocMaxBoxes / 2) + 1;
    std::vector<unsigned char> stream = flatPictureBoxes(half);
    cSiDocLoader loader;
    auto one = rawDocument({stream}, {});
    EXPECT_LT(one.size(), 64u * 1024);
    ASSERT_TRUE(loader.load(one.data(), (long long)one.size()));
    EXPECT_EQ(loader.forLang(0)->childCount(), (long long)half);
    auto two = rawDocument({stream, stream}, {});
    EXPECT_FALSE(loader.load(two.data(), (long long)two.size()));
    EXPECT_EQ(loader.forLang(0), nullptr);
}

TEST(SiDocLoader, PixelsOfAllPicturesTogetherAreCapped) {
    // Half the cap each: two fit exactly, a third picture of one pixel does not.
    unsigned w = 8192, h = (unsigned)(kSiDocMaxPixels / 2 / 8192);
    std::vector<unsigned char> big = bilevelPng(w, h), dot = bilevelPng(1, 1);
    EXPECT_LT(big.size(), 256u * 1024);
    std::vector<unsigned char> root = {0xFF};
    cSiDocLoader loader;
    auto fits = rawDocument({root}, {big, dot});
    ASSERT_TRUE(loader.load(fits.data(), (long long)fits.size()));
    ASSERT_EQ(loader.imageCount(), 2);
    EXPECT_EQ(loader.image(0)->width(), (int)w);
    EXPECT_EQ(loader.image(0)->height(), (int)h);
    auto over = rawDocument({root}, {big, big, dot});
    EXPECT_FALSE(loader.load(over.data(), (long long)over.size()));
    EXPECT_EQ(loader.imageCount(), 0);
}

}  // namespace
