// The font store from many threads (fonts, glyphs and the standard face name changing
// underneath), and wrapped text with line spacings no caller should pass.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "ciplatform/canvas.h"
#include "ciplatform/fontobject.h"

TEST(FontThreads, ConcurrentGetAndGlyphsAgreeWithOneThread) {
    // Reference answers taken on one thread first.
    const int kHeights[] = {9, 13, 17};
    const unsigned int kChars[] = {'A', 'g', 0x416 /* cyrillic zhe */, 0x3042, 0x20AC, 0x1F600};
    struct Ref {
        cFontObject* font;
        int advance[6];
    } refs[3];
    for (int h = 0; h < 3; h++) {
        refs[h].font = cFontObject::get(5, kHeights[h], "Tahoma", false, false, false);
        ASSERT_NE(refs[h].font, nullptr);
        for (int c = 0; c < 6; c++) refs[h].advance[c] = refs[h].font->advance(kChars[c]);
    }
    // A fresh style, so that the threads also race to create fonts and render glyphs.
    std::atomic<int> mismatches{0}, nulls{0};
    std::atomic<cFontObject*> created[8];
    for (auto& c : created) c = nullptr;
    std::vector<std::thread> ts;
    for (int t = 0; t < 8; t++)
        ts.emplace_back([&, t] {
            for (int round = 0; round < 40; round++) {
                int h = (t + round) % 3;
                cFontObject* f = cFontObject::get(5, kHeights[h], "Tahoma", false, false, false);
                if (f != refs[h].font) mismatches++;
                for (int c = 0; c < 6; c++)
                    if (f && f->advance(kChars[c]) != refs[h].advance[c]) mismatches++;
                cFontObject* fresh = cFontObject::get(5, 11 + round % 5, "Courier New", true, false, true);
                if (!fresh) {
                    nulls++;
                    continue;
                }
                // Every glyph of a range: concurrent rendering into one glyph cache.
                for (unsigned int cp = 0x400 + round; cp < 0x440; cp += 3) {
                    const sGlyph* g = fresh->glyph(cp);
                    if (!g || (g->coverage && (g->width <= 0 || g->rows <= 0))) mismatches++;
                }
                if (round == 0) created[t] = fresh;
            }
        });
    // Meanwhile the standard face name changes, as a language change does.
    std::thread namer([] {
        for (int i = 0; i < 400; i++) _setGlbalStdFont(i % 2 ? "Malgun Gothic" : "Tahoma");
        _setGlbalStdFont("Tahoma");
    });
    std::thread stdUser([&] {
        for (int i = 0; i < 200; i++)
            if (!cFontObject::get(5, 13, _glbalStdFont(), false, false, false)) nulls++;
    });
    for (auto& t : ts) t.join();
    namer.join();
    stdUser.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(nulls.load(), 0);
    // One object per style and size, whichever thread created it.
    for (int t = 1; t < 8; t++) EXPECT_EQ(created[t].load(), created[0].load());
    EXPECT_STREQ(_glbalStdFont(), "Tahoma");
}

TEST(FontThreads, WrappedTextWithUnusableLineSpacingStaysSane) {
    cCanvas c(200, 100, 0xFFFFFFFFu);
    cFontObject* f = cFontObject::get(5, 13, "Tahoma", false, false, false);
    ASSERT_NE(f, nullptr);
    c.setTextMode(f);
    c.setTextColors(0x000000, 0xFFFFFFFF);
    sSize normal;
    ASSERT_TRUE(c.drawTextWrapped(0, 0, 500, -1, cCanvas::taLeft, "a\nb\nc", normal, true, 0));
    ASSERT_GT(normal.cy, 0);
    struct Case {
        const char* name;
        double factor;
        bool likeDefault;  // measured as the default spacing
    } cases[] = {
        {"NaN", std::numeric_limits<double>::quiet_NaN(), true},
        {"negative", -3, true},
        {"infinite", std::numeric_limits<double>::infinity(), false},
        {"huge", 1e300, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        sSize used;
        c.fillAll(0xFFFFFFFFu);
        ASSERT_TRUE(c.drawTextWrapped(0, 0, 500, -1, cCanvas::taLeft, "a\nb\nc", used, true, k.factor));
        if (k.likeDefault) {
            EXPECT_EQ(used.cy, normal.cy);
        } else {
            // Spacing beyond any canvas: the height saturates, never wraps round.
            EXPECT_EQ(used.cy, 0x3FFFFFFF);
        }
        EXPECT_GT(used.cx, 0);
    }
}
