// Fonts and text: substitution, fallback, measuring against drawn pixels, cutting and wrapping.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <vector>

#include "ciplatform/canvas.h"
#include "ciplatform/fontobject.h"

namespace {

const unsigned int kBg = 0xFFFFFFFFu;

cFontObject* stdFont() {
    cFontObject* f = cFontObject::get(5, 13, "Tahoma", false, false, false);
    EXPECT_NE(f, nullptr);
    return f;
}

// Bounding box of pixels that differ from the background.
struct Ink {
    int l = 1 << 30, t = 1 << 30, r = -1, b = -1;
    bool any() const { return r >= 0; }
};
Ink inkOf(const cCanvas& c, int x0 = 0, int y0 = 0, int x1 = -1, int y1 = -1) {
    Ink k;
    if (x1 < 0) x1 = c.width();
    if (y1 < 0) y1 = c.height();
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++)
            if (c.pixel(x, y) != kBg) {
                k.l = std::min(k.l, x), k.t = std::min(k.t, y), k.r = std::max(k.r, x), k.b = std::max(k.b, y);
            }
    return k;
}

bool fileExists(const char* p) {
    struct stat st;
    return stat(p, &st) == 0 && S_ISREG(st.st_mode);
}

// Width of a UTF-8 string measured by the canvas.
int widthOf(cCanvas& c, const std::string& s) {
    sSize sz;
    c.textSize(s.c_str(), (long long)s.size(), sz);
    return sz.cx;
}

}  // namespace

TEST(Fonts, AbsentFacesResolveToPresentFilesOfTheRightKind) {
    struct Case {
        const char* face;
        unsigned int mustHave;  // a character the substitute must draw from its own file
    } cases[] = {{"Tahoma", 'A'}, {"Courier New", 'A'}, {"MS Gothic", 0x3042},  {"Malgun Gothic", 0xAC00},
                 {"Microsoft YaHei", 0x4E2D}, {"Microsoft JhengHei", 0x4E2D}, {"MS UI Gothic", 0x65E5},
                 {"No Such Face 123", 'A'}};
    for (auto& k : cases) {
        char file[512];
        ASSERT_TRUE(cFontObject::resolveFace(k.face, false, false, file, sizeof(file))) << k.face;
        EXPECT_TRUE(fileExists(file)) << k.face << " -> " << file;
        cFontObject* f = cFontObject::get(5, 13, k.face, false, false, false);
        ASSERT_NE(f, nullptr) << k.face;
        EXPECT_STREQ(f->file(), file);
        const sGlyph* g = f->glyph(k.mustHave);
        EXPECT_NE(g->coverage, nullptr) << k.face;
        EXPECT_GT(g->advance, 0);
    }
    EXPECT_FALSE(cFontObject::faceExists("Tahoma-Not-Installed-Here"));
    EXPECT_TRUE(cFontObject::faceExists("DejaVu Sans"));
}

TEST(Fonts, CourierNewBecomesMonospace) {
    cFontObject* f = cFontObject::get(6, 13, "Courier New", false, false, false);
    ASSERT_NE(f, nullptr);
    int w = f->advance('i');
    for (const char* s = "WMil.0@_ "; *s; s++) EXPECT_EQ(f->advance((unsigned char)*s), w) << *s;
    // And the standard face is not monospace (so the check above can fail).
    cFontObject* sans = stdFont();
    EXPECT_NE(sans->advance('i'), sans->advance('W'));
}

TEST(Fonts, StoreSharesFontsAndStylesDiffer) {
    cFontObject* a = cFontObject::get(5, 13, "Tahoma", false, false, false);
    EXPECT_EQ(a, cFontObject::get(5, 13, "tahoma", false, false, false));
    cFontObject* b = cFontObject::get(6, 13, "Tahoma", true, false, false);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_GE(b->advance('m'), a->advance('m'));  // bold is never narrower
    EXPECT_EQ(cFontObject::get(5, 0, "Tahoma", false, false, false), nullptr);
    EXPECT_EQ(cFontObject::get(5, 100000, "Tahoma", false, false, false), nullptr);
}

TEST(Text, TextSizeMatchesDrawnInkAndRulerEndsThere) {
    cCanvas c(400, 40, kBg);
    c.setTextMode(stdFont());
    c.setTextColors(0x000000, 0xFFFFFFFF);
    const char* samples[] = {"Hello, world", "WWW iii", "Привет мир", "x", "日本語 text", "A\tB"};
    for (const char* s : samples) {
        c.fillAll(kBg);
        sSize sz;
        ASSERT_TRUE(c.textSize(s, -1, sz));
        c.drawText(10, 5, true, s, -1);
        Ink k = inkOf(c);
        ASSERT_TRUE(k.any()) << s;
        // Ink stays within the measured box, allowing a pixel of antialiasing or side bearing.
        EXPECT_GE(k.l, 10 - 1) << s;
        EXPECT_LE(k.r, 10 + sz.cx + 1) << s;
        EXPECT_GE(k.t, 5 - 1) << s;
        EXPECT_LE(k.b, 5 + sz.cy) << s;
        // ...and fills most of it: the last glyph ends near the measured width.
        EXPECT_GE(k.r, 10 + sz.cx - 4) << s;
        std::vector<int> edges(strlen(s) + 1, -7);
        int n = c.textRuler(s, -1, edges.data());
        ASSERT_GT(n, 0);
        for (int i = 1; i < n; i++) EXPECT_GE(edges[i], edges[i - 1]) << s;
        EXPECT_EQ(edges[n - 1], sz.cx) << s;
    }
}

TEST(Text, OpaqueTextFillsItsLineBoxWithBackground) {
    cCanvas c(200, 30, kBg);
    c.setTextMode(stdFont());
    c.setTextColors(0x000000, 0x00FF00);
    sSize sz;
    c.textSize("abc", -1, sz);
    c.drawText(3, 4, false, "abc", -1);
    EXPECT_EQ(c.pixel(3, 4), 0xFF00FF00u);  // top-left of the box: background
    EXPECT_EQ(c.pixel(3 + sz.cx - 1, 4 + sz.cy - 1), 0xFF00FF00u);
    EXPECT_EQ(c.pixel(3 + sz.cx, 4), kBg);  // just outside
    EXPECT_EQ(c.pixel(2, 4), kBg);
}

TEST(Text, Utf16AndUtf8MeasureAlike) {
    cCanvas c(10, 10);
    c.setTextMode(stdFont());
    const char* u8 = "Aé中😀z";
    const unsigned short u16[] = {'A', 0xE9, 0x4E2D, 0xD83D, 0xDE00, 'z', 0};
    sSize a, b;
    c.textSize(u8, -1, a);
    c.textSize(u16, -1, b);
    EXPECT_EQ(a.cx, b.cx);
    EXPECT_EQ(a.cy, b.cy);
    int e8[16], e16[16];
    EXPECT_EQ(c.textRuler(u8, -1, e8), 5);   // code points
    EXPECT_EQ(c.textRuler(u16, -1, e16), 6);  // units
    EXPECT_EQ(e16[3], e16[4]);                 // both halves of the pair share its edge
    EXPECT_EQ(e8[3], e16[4]);
    EXPECT_EQ(e8[4], e16[5]);
    // Broken UTF-8 and a lone surrogate measure as replacement characters, never crash.
    const char bad[] = {'a', (char)0xC3, (char)0xFF, (char)0xE4, (char)0xB8, 0};
    sSize s;
    EXPECT_TRUE(c.textSize(bad, -1, s));
    EXPECT_GT(s.cx, 0);
    const unsigned short lone[] = {0xDC00, 'b', 0xD800, 0};
    EXPECT_TRUE(c.textSize(lone, -1, s));
}

TEST(Text, MixedScriptsDrawGlyphsForEveryPart) {
    // Latin, CJK and Cyrillic through the standard font: the missing scripts fall back to
    // faces that have them, so each part leaves ink (a missing glyph would draw a box of
    // the same size for every character, so also check the CJK glyphs differ).
    cCanvas c(600, 40, kBg);
    cFontObject* f = stdFont();
    c.setTextMode(f);
    c.setTextColors(0x000000, 0xFFFFFFFF);
    const char* parts[] = {"Latin", "中文字", "Кириллица"};
    int x = 5;
    for (const char* p : parts) {
        sSize sz;
        c.textSize(p, -1, sz);
        c.drawText(x, 5, true, p, -1);
        Ink k = inkOf(c, x, 0, x + sz.cx, 40);
        EXPECT_TRUE(k.any()) << p;
        EXPECT_GT(sz.cx, 10) << p;
        x += sz.cx + 10;
    }
    const sGlyph* g1 = f->glyph(0x4E2D);
    const sGlyph* g2 = f->glyph(0x6587);
    ASSERT_NE(g1->coverage, nullptr);
    ASSERT_NE(g2->coverage, nullptr);
    bool differ = g1->width != g2->width || g1->rows != g2->rows ||
                  memcmp(g1->coverage, g2->coverage, (size_t)g1->width * g1->rows) != 0;
    EXPECT_TRUE(differ);
    EXPECT_NE(f->glyph(0x0416)->coverage, nullptr);  // Ж
}

TEST(Text, LimitedCutsAtLongestFittingPrefix) {
    cCanvas c(300, 30, kBg);
    c.setTextMode(stdFont());
    c.setTextColors(0x000000, 0xFFFFFFFF);
    const std::string text = "The quick brown fox jumps";
    int full = widthOf(c, text), dots = widthOf(c, "...");
    for (int w = 0; w <= full + 5; w += 3) {
        long long shown = -1;
        c.fillAll(kBg);
        int start = c.drawTextLimited(10, 0, w, 30, 0, true, 0, 0, text.c_str(), -1, &shown, false);
        EXPECT_EQ(start, 10);
        // Oracle: the longest prefix whose width plus "..." fits.
        size_t want = text.size();
        if (full > w) {
            want = 0;
            while (want < text.size() && widthOf(c, text.substr(0, want + 1)) + dots <= w) want++;
        }
        EXPECT_EQ(shown, (long long)want) << "width " << w;
        Ink k = inkOf(c);
        if (k.any()) {
            EXPECT_LE(k.r, 10 + w - 1) << "ink past the box at width " << w;
        }
    }
}

TEST(Text, LimitedAlignsAndCentresVertically) {
    cCanvas c(300, 60, kBg);
    cFontObject* f = stdFont();
    c.setTextMode(f);
    c.setTextColors(0x000000, 0xFFFFFFFF);
    int tw = widthOf(c, "Hi");
    struct Case {
        int align, want;
    } cases[] = {{0, 20 + 4}, {1, 20 + 4 + (200 - 4 - 6 - tw) / 2}, {2, 20 + 200 - 6 - tw}};
    for (auto& k : cases) {
        long long shown;
        int start = c.drawTextLimited(20, 10, 200, 40, k.align, true, 4, 6, "Hi", -1, &shown, false);
        EXPECT_EQ(start, k.want) << k.align;
        EXPECT_EQ(shown, 2);
    }
    c.fillAll(kBg);
    c.drawTextLimited(20, 10, 200, 40, 0, true, 0, 0, "H", -1, nullptr, false);
    Ink k = inkOf(c);
    int top = 10 + (40 - f->lineHeight()) / 2;
    EXPECT_GE(k.t, top);
    EXPECT_LE(k.b, top + f->lineHeight());
}

TEST(Text, WrappedAlignmentsPlaceLinesInTheBox) {
    cCanvas c(200, 200, kBg);
    cFontObject* f = stdFont();
    c.setTextMode(f);
    c.setTextColors(0x000000, 0xFFFFFFFF);
    const char* text = "abc abc abc abc abc abc abc";
    int boxW = widthOf(c, "abc abc abc") - 1;  // two words a line
    int lh = (int)(f->lineHeight() * 1.5 + 0.5);
    for (int align = 0; align <= 3; align++) {
        c.fillAll(kBg);
        sSize used;
        ASSERT_TRUE(c.drawTextWrapped(10, 10, boxW, -1, (cCanvas::eTextAlign)align, text, used, true, 1.5));
        EXPECT_EQ(used.cy, 4 * lh) << align;  // 7 words, 2 a line
        EXPECT_LE(used.cx, boxW);
        // First line's ink.
        Ink first = inkOf(c, 0, 10, 200, 10 + lh);
        ASSERT_TRUE(first.any());
        int lineW = widthOf(c, "abc abc");
        if (align == 0) {
            EXPECT_LE(first.l, 10 + 2);
        }
        if (align == 1) {
            EXPECT_NEAR(first.l, 10 + (boxW - lineW) / 2, 3);
        }
        if (align == 2) {
            EXPECT_NEAR(first.r, 10 + boxW - 1, 2);
        }
        if (align == 3) {
            EXPECT_LE(first.l, 10 + 2);
            EXPECT_NEAR(first.r, 10 + boxW - 1, 2);  // stretched to both edges
            // The last line is not stretched.
            Ink last = inkOf(c, 0, 10 + 3 * lh, 200, 10 + 4 * lh);
            EXPECT_LT(last.r, 10 + widthOf(c, "abc") + 2);
        }
    }
    // Lines past the bottom are measured, not drawn; a long word breaks inside.
    c.fillAll(kBg);
    sSize used;
    c.drawTextWrapped(10, 10, boxW, lh, cCanvas::taLeft, text, used, true, 1.5);
    EXPECT_EQ(used.cy, 4 * lh);
    EXPECT_FALSE(inkOf(c, 0, 10 + lh + 2, 200, 200).any());
    c.drawTextWrapped(0, 0, 30, -1, cCanvas::taLeft, "abcdefghijklmnopqrstuvwxyz", used, true, 1.0);
    EXPECT_LE(used.cx, 30);
    EXPECT_GT(used.cy, f->lineHeight());
    // Hard breaks.
    c.drawTextWrapped(0, 0, 500, -1, cCanvas::taLeft, "a\nb\n\nc", used, true, 1.0);
    EXPECT_EQ(used.cy, 4 * f->lineHeight());
}

// East Asian text has no blanks between words: it used to wrap only at blanks, so a long
// run was cut at the box's edge. Each case's box holds `chars` fullwidth characters; the
// wrapped drawing must equal its expected lines ('|' between them) drawn one by one.
TEST(Text, WrappedCjkBreaksBetweenCharactersButNotAtPunctuation) {
    cFontObject* f = stdFont();
    cCanvas probe(10, 10, kBg);
    probe.setTextMode(f);
    int em = widthOf(probe, "\u3042");
    if (em <= 0 || em != widthOf(probe, "\u3002") || em != widthOf(probe, "\uD55C") || em != widthOf(probe, "\u4EEC"))
        GTEST_SKIP() << "no CJK face with fullwidth advances";
    struct {
        const char* text;
        int chars;
        const char* lines;
    } cases[] = {
        {"\u3042\u3044\u3046\u3048\u304A\u304B\u304D\u304F\u3051\u3053", 4,  // a long run of kana
         "\u3042\u3044\u3046\u3048|\u304A\u304B\u304D\u304F|\u3051\u3053"},
        {"\u3042\u3044\u3046\u3002\u3048\u304A", 3,  // 。 does not start a line
         "\u3042\u3044|\u3046\u3002\u3048|\u304A"},
        {"\u300C\u3042\u3044\u3046\u300D\u3067\u3059", 4,  // 「 does not end one, 」 does not start one
         "\u300C\u3042\u3044|\u3046\u300D\u3067\u3059"},
        {"\u6211\u4EEC\uFF0C\u4F60\u4EEC", 2, "\u6211|\u4EEC\uFF0C|\u4F60\u4EEC"},  // fullwidth comma
        {"\uD55C\uAD6D\uC5B4\uC785\uB2C8\uB2E4", 3, "\uD55C\uAD6D\uC5B4|\uC785\uB2C8\uB2E4"},  // Hangul
        {"\u30C6\u30B9\u30C8\u3063\u3066", 3, "\u30C6\u30B9|\u30C8\u3063\u3066"},  // small tsu stays
    };
    int lh = f->lineHeight();
    for (const auto& k : cases) {
        SCOPED_TRACE(k.lines);
        cCanvas wrapped(em * 6, lh * 4, kBg), oneByOne(em * 6, lh * 4, kBg);
        for (cCanvas* c : {&wrapped, &oneByOne}) {
            c->setTextMode(f);
            c->setTextColors(0x000000, 0xFFFFFFFF);
        }
        sSize used;
        ASSERT_TRUE(wrapped.drawTextWrapped(0, 0, k.chars * em + 1, -1, cCanvas::taLeft, k.text, used, true, 1.0));
        std::string all = k.lines;
        int n = 0;
        for (size_t from = 0;; n++) {
            size_t bar = all.find('|', from);
            std::string line = all.substr(from, bar == std::string::npos ? std::string::npos : bar - from);
            oneByOne.drawText(0, n * lh, true, line.c_str(), (long long)line.size());
            if (bar == std::string::npos) break;
            from = bar + 1;
        }
        EXPECT_EQ(used.cy, (n + 1) * lh);
        int differing = 0;
        for (int y = 0; y < wrapped.height(); y++)
            for (int x = 0; x < wrapped.width(); x++) differing += wrapped.pixel(x, y) != oneByOne.pixel(x, y);
        EXPECT_EQ(differing, 0);
    }
}

TEST(Text, WrappedTextDrawsOnlyWholeLinesThatFit) {
    // A line cut by the box's bottom used to be drawn whole past it, so an element
    // showed cut letter tops in its bottom margin.
    cFontObject* f = stdFont();
    int fh = f->lineHeight();
    struct Case {
        double factor;
        int extra;  // the box is two line steps and this much high
        int lines;  // lines expected in the box
        bool opaque;
    } cases[] = {
        {1.0, fh / 2, 2, false}, {1.0, fh - 1, 2, false}, {1.0, fh, 3, false},
        {1.5, fh / 3, 2, false}, {1.5, fh - 1, 2, true},  {1.5, fh, 3, true},
        {0, fh - 1, 2, false},   {0, fh, 3, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << "factor " << k.factor << " extra " << k.extra);
        cCanvas c(200, 300, kBg);
        c.setTextMode(f);
        c.setTextColors(0x000000, k.opaque ? 0x00FF00 : 0xFFFFFFFF);
        int boxW = widthOf(c, "Hgj Hgj Hgj") - 1;  // two words a line
        double factor = k.factor > 0 ? k.factor : textWrapYFactor();
        int lh = (int)(fh * factor + 0.5);
        int h = 2 * lh + k.extra;
        sSize used;
        ASSERT_TRUE(c.drawTextWrapped(10, 10, boxW, h, cCanvas::taLeft, "Hgj Hgj Hgj Hgj Hgj Hgj Hgj Hgj", used,
                                      !k.opaque, k.factor));
        EXPECT_EQ(used.cy, 4 * lh);  // every line is still measured
        EXPECT_FALSE(inkOf(c, 0, 10 + h).any()) << "ink below the box";
        for (int n = 0; n < 3; n++) {
            // Glyph ink of line n (the opaque background aside).
            bool ink = false;
            for (int y = 10 + n * lh; y < 10 + n * lh + fh && y < 10 + h; y++)
                for (int x = 10; x < 10 + boxW; x++) ink = ink || (c.pixel(x, y) & 0xFFFFFF) == 0;
            EXPECT_EQ(ink, n < k.lines) << "line " << n;
        }
    }
}

TEST(Text, UnderlineDrawsBelowBaseline) {
    cCanvas c(100, 30, kBg);
    cFontObject* u = cFontObject::get(5, 13, "Tahoma", false, true, false);
    ASSERT_NE(u, nullptr);
    c.setTextMode(u);
    c.setTextColors(0x0000FF, 0xFFFFFFFF);
    c.drawText(2, 2, true, "....", -1);
    int y = 2 + u->ascent() + u->underlinePos();
    sSize sz;
    c.textSize("....", -1, sz);
    for (int x = 2; x < 2 + sz.cx; x++) EXPECT_EQ(c.pixel(x, y), 0xFFFF0000u) << x;
}

// Han characters take the shapes of the text's language: with fonts-noto-cjk installed,
// fallback glyphs equal those of the face made for that language, whatever face
// fontconfig's own order would put first.
TEST(TextLanguage, HanFallbackPrefersTheFaceOfTheLanguage) {
    if (!cFontObject::faceExists("Noto Sans CJK JP") || !cFontObject::faceExists("Noto Sans CJK SC"))
        GTEST_SKIP() << "fonts-noto-cjk is not installed";
    struct {
        const char* lang;
        const char* face;
    } cases[] = {{"ja", "Noto Sans CJK JP"}, {"ko", "Noto Sans CJK KR"}, {"zh-tw", "Noto Sans CJK TC"},
                 {"zh-cn", "Noto Sans CJK SC"}};
    auto bitmap = [](const sGlyph* g) {
        return std::string((const char*)g->coverage, g->coverage ? (size_t)g->width * g->rows : 0) +
               std::to_string(g->width) + "x" + std::to_string(g->rows) + "+" + std::to_string(g->advance);
    };
    cFontObject* ui = cFontObject::get(5, 24, "DejaVu Sans", false, false, false);
    ASSERT_NE(ui, nullptr);
    std::string shapes[4];
    const unsigned int kStraight = 0x76F4;  // drawn differently in Japan and in China
    for (int i = 0; i < 4; i++) {
        SCOPED_TRACE(cases[i].lang);
        setTextLanguage(cases[i].lang);
        EXPECT_STREQ(textLanguage(), cases[i].lang);
        cFontObject* own = cFontObject::get(5, 24, cases[i].face, false, false, false);
        ASSERT_NE(own, nullptr);
        shapes[i] = bitmap(ui->glyph(kStraight));
        EXPECT_EQ(shapes[i], bitmap(own->glyph(kStraight)));
    }
    EXPECT_NE(shapes[0], shapes[3]) << "Japanese and Simplified Chinese shapes are the same";
    // Back to no language: the earlier glyphs stay valid and the choice is fontconfig's.
    setTextLanguage(nullptr);
    EXPECT_EQ(textLanguage(), nullptr);
    EXPECT_NE(ui->glyph(kStraight)->advance, 0);
}
