// Layout and drawing of document boxes against a plain model of the line rules, with a
// monospace font so that every word's width is its length times one advance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "cihlpdoc/sidocbox.h"
#include "ciplatform/canvas.h"
#include "ciplatform/fontobject.h"
#include "ciplatform/picture.h"
#include "hdoctest.h"

namespace {

// Records every zone a link reports.
struct cZones : cSiDocActiveTarget {
    struct sZone {
        std::string ref;
        int x, y, w, h;
    };
    std::vector<sZone> zones;
    void resetActive() override { zones.clear(); }
    bool setActive(char* target, int x, int y, int w, int h) override {
        zones.push_back({target, x, y, w, h});
        return true;
    }
};

struct cMono {
    cFontObject* font = nullptr;
    int adv = 0, textH = 0;
    int lineH(double f = 1.2) const { return (int)(textH * f + 0.5); }
    bool init() {
        font = cFontObject::get(7, 13, "Courier New", false, false, false);
        if (!font) return false;
        cCanvas c(10, 10);
        c.setTextMode(font);
        sSize s;
        c.textSize("W", 1, s);
        adv = s.cx;
        c.textSize(" ", 1, s);
        textH = s.cy;
        return adv > 0 && font->advance('i') == adv && s.cx == adv;
    }
};

// Word boxes are links whose target names them, so drawing reports where each went.
std::deque<std::string> gRefs;  // pointers into a deque stay valid as it grows
cSiDocLink* word(const std::string& text, const std::string& ref) {
    auto* l = new cSiDocLink();
    l->setText(text.c_str());
    gRefs.push_back(ref);
    l->refRef(const_cast<char*>(gRefs.back().c_str()));
    return l;
}

struct sPlaced {
    int x, y, w;
};

// The line rules written plainly for one container of single-line words (lengths in
// characters), placed at (px, py) with the right limit px + width.
std::vector<sPlaced> model(const std::vector<int>& lens, int adv, int lh, int px, int py, int width, int align,
                           sSize& size) {
    const int S = adv, R = px + width;
    std::vector<sPlaced> out(lens.size());
    size_t i = 0;
    int y = py;
    long long widest = 0;
    while (i < lens.size()) {
        size_t first = i;
        double x = px;
        int gaps = 0;
        bool wrapped = false;
        while (i < lens.size()) {
            double a = lens[i] * adv + (i > first ? S : 0);
            if (i > first && x + a > R) {
                wrapped = true;
                break;
            }
            if (x + a > R) wrapped = true;
            gaps += i > first;
            x += a;
            i++;
        }
        double x0 = px, sp = S;
        if (align == 1) x0 = R - (x - px);
        if (align == 2) x0 = px + (R - x) * 0.5;
        if (align == 3 && wrapped && gaps > 0) sp = S + (R - x) / gaps;
        if (x0 < px) x0 = px;
        double pos = x0;
        for (size_t k = first; k < i; k++) {
            if (k > first) pos += sp;
            int bx = (int)(pos + 1e-7);
            int w = lens[k] * adv;
            if (bx + w > R) w = R > bx ? R - bx : 0;
            out[k] = {bx, y, w};
            pos += w;
        }
        long long lw = i - first == 1 ? out[first].w : (long long)(pos - px + 1e-7);
        if (lw > widest) widest = lw;
        y += lh;
    }
    size = {(int)widest, y - py};
    return out;
}

class SiDocLayout : public ::testing::Test {
protected:
    cMono mono;
    void SetUp() override {
        if (!mono.init()) GTEST_SKIP() << "no monospace face";
        setTextWrapYFactor(1.2);
    }
    sSiDocDrawProps props(int x, int y, int right, cZones* zones) {
        sSiDocDrawProps p;
        p.font = mono.font;
        p.x = x;
        p.y = y;
        p.rightLimit = right;
        p.activeTarget = zones;
        return p;
    }
};

TEST_F(SiDocLayout, WordsFlowWrapAndAlignAsTheLineRulesSay) {
    std::mt19937 rng(7);
    int cases = 0;
    for (int align = 0; align < 4; align++) {
        for (int width : {200, 123, 57, 31, 500}) {
            for (int round = 0; round < 6; round++) {
                SCOPED_TRACE("align " + std::to_string(align) + " width " + std::to_string(width) + " round " +
                             std::to_string(round));
                gRefs.clear();
                std::vector<int> lens;
                cSiDocContainer box;
                box.setAlign((cSiDocContainer::eAlign)align);
                int n = 1 + (int)(rng() % 25);
                for (int i = 0; i < n; i++) {
                    int len = 1 + (int)(rng() % 9);
                    lens.push_back(len);
                    box.addChild(word(std::string(len, 'a' + i % 26), "w" + std::to_string(i)));
                }
                cCanvas canvas(600, 900);
                cZones zones;
                sSize want, drawn;
                ASSERT_TRUE(box.wantsSize(&canvas, props(7, 5, 7 + width, nullptr), want));
                ASSERT_TRUE(box.draw(&canvas, props(7, 5, 7 + width, &zones), drawn));
                sSize msize;
                auto placed = model(lens, mono.adv, mono.lineH(), 7, 5, width, align, msize);
                EXPECT_EQ(want.cy, msize.cy);
                EXPECT_EQ(drawn.cy, msize.cy);
                EXPECT_EQ(drawn.cx, msize.cx);
                // Zones: one per word drawn with a width.
                std::map<std::string, cZones::sZone> got;
                for (auto& z : zones.zones) got[z.ref] = z;
                for (int i = 0; i < n; i++) {
                    SCOPED_TRACE("word " + std::to_string(i));
                    auto it = got.find("w" + std::to_string(i));
                    ASSERT_TRUE(it != got.end());
                    EXPECT_EQ(it->second.x, placed[i].x);
                    EXPECT_EQ(it->second.y, placed[i].y);
                    EXPECT_EQ(it->second.w, placed[i].w);
                    EXPECT_EQ(it->second.h, mono.lineH());
                }
                cases++;
            }
        }
    }
    EXPECT_EQ(cases, 120);
}

TEST_F(SiDocLayout, TheExamplesOfTheLineRules) {
    const int a = mono.adv, lh = mono.lineH();
    cCanvas canvas(400, 400);
    auto zonesOf = [&](cSiDocContainer& box, int width) {
        cZones z;
        sSize d;
        box.draw(&canvas, props(0, 0, width, &z), d);
        std::map<std::string, cZones::sZone> m;
        for (auto& k : z.zones) m[k.ref] = k;
        return m;
    };
    gRefs.clear();
    {  // Two words in 200 pixels: the second starts one word and one space in.
        cSiDocContainer box;
        box.addChild(word("Hello", "a"));
        box.addChild(word("world", "b"));
        auto z = zonesOf(box, 200);
        EXPECT_EQ(z["b"].x, 5 * a + a);
        EXPECT_EQ(z["b"].y, 0);
    }
    {  // Justified: the first two lines end exactly at the limit, the last is left-aligned.
        cSiDocContainer box;
        box.setAlign(cSiDocContainer::alJustify);
        const char* ws[] = {"aa", "bbb", "c", "dddd", "ee", "f", "ggg", "hh"};
        for (int i = 0; i < 8; i++) box.addChild(word(ws[i], std::string("j") + ws[i]));
        int width = 8 * a + 5;  // "aa bbb c" takes 6 characters and 2 spaces
        auto z = zonesOf(box, width);
        EXPECT_EQ(z["jc"].x + z["jc"].w, width);
        EXPECT_EQ(z["jaa"].x, 0);
        // The 5 spare pixels are shared by the two gaps; fractions carry to the next box.
        EXPECT_EQ(z["jbbb"].x, (int)(2 * a + a + 2.5));
        EXPECT_EQ(z["jc"].x, 5 * a + 2 * a + 5);
        EXPECT_EQ(z["jdddd"].y, lh);
        EXPECT_EQ(z["jee"].x + z["jee"].w, width);  // one gap takes a + 5
        EXPECT_EQ(z["jf"].y, 2 * lh);
        EXPECT_EQ(z["jhh"].x, 6 * a);  // the last line keeps normal spaces
    }
    {  // A break box or a break flag ends a line that justification leaves alone.
        cSiDocContainer box;
        box.setAlign(cSiDocContainer::alJustify);
        box.addChild(word("aa", "k1"));
        box.addChild(word("bb", "k2"));
        auto* br = new cSiDocText();
        br->setBreak(true);
        box.addChild(br);
        box.addChild(word("cc", "k3"));
        cSiDocLink* flagged = word("dd", "k4");
        flagged->setBreak(true);
        box.addChild(flagged);
        auto z = zonesOf(box, 300);
        EXPECT_EQ(z["k2"].x, 3 * a);
        EXPECT_EQ(z["k3"].y, lh);  // the break box is one line high and 0 wide
        EXPECT_EQ(z["k3"].x, 0);
        EXPECT_EQ(z["k4"].y, 2 * lh);
        sSize want;
        box.wantsSize(&canvas, props(0, 0, 300, nullptr), want);
        EXPECT_EQ(want.cy, 3 * lh);
    }
    {  // Words after a closed container continue on its line when they fit, also when the
       // container starts its line.
        cSiDocContainer box;
        auto* inner = new cSiDocContainer();
        inner->setBreak(true);
        inner->addChild(word("in", "c1"));
        box.addChild(inner);
        box.addChild(word("out", "c2"));
        auto z = zonesOf(box, 300);
        EXPECT_EQ(z["c2"].y, 0);
        EXPECT_EQ(z["c2"].x, 2 * a);  // a container is no word: no space before "out"
    }
    {  // A word wider than the container sits alone and is cut at the limit.
        cSiDocContainer box;
        box.addChild(word("ab", "l1"));
        box.addChild(word(std::string(40, 'x'), "l2"));
        box.addChild(word("cd", "l3"));
        auto z = zonesOf(box, 100);
        EXPECT_EQ(z["l2"].x, 0);
        EXPECT_EQ(z["l2"].y, lh);
        EXPECT_EQ(z["l2"].w, 100);
        EXPECT_EQ(z["l3"].y, 2 * lh);
    }
    {  // Japanese breaks between its characters, never before 。: a run without blanks wraps
       // instead of being cut (each part of a link reports its own zone).
        sSize em1, em2;
        canvas.setTextMode(mono.font);
        canvas.textSize("\u3042", -1, em1);
        canvas.textSize("\u3002", -1, em2);
        const int em = em1.cx;
        if (em > 0 && em == em2.cx) {
            cSiDocContainer box;
            box.addChild(word("\u3042\u3044\u3046\u3048\u304A\u3002\u304B\u304D\u304F\u3051", "cj"));
            cZones z;
            sSize d;
            box.draw(&canvas, props(0, 0, 4 * em + 1, &z), d);
            ASSERT_EQ(z.zones.size(), 3u);
            const int widths[] = {4, 4, 2};  // あいうえ | お。かき | くけ
            for (int i = 0; i < 3; i++) {
                EXPECT_EQ(z.zones[i].x, 0) << i;
                EXPECT_EQ(z.zones[i].y, i * lh) << i;
                EXPECT_EQ(z.zones[i].w, widths[i] * em) << i;
            }
            EXPECT_EQ(d.cy, 3 * lh);
            cSiDocContainer mixed;  // after a Latin word the run fills the rest of its line
            mixed.addChild(word("ab", "m1"));
            mixed.addChild(word("\u3042\u3044\u3046\u3048\u304A", "m2"));
            z.zones.clear();
            mixed.draw(&canvas, props(0, 0, 3 * a + 2 * em + 1, &z), d);
            ASSERT_EQ(z.zones.size(), 3u);
            EXPECT_EQ(z.zones[1].x, 3 * a);
            EXPECT_EQ(z.zones[1].w, 2 * em);
            EXPECT_EQ(z.zones[2].x, 0);
            EXPECT_EQ(z.zones[2].y, lh);
            EXPECT_EQ(z.zones[2].w, 3 * em);
        }
    }
    {  // Fixed sizes win; a bottom margin of a lone child adds nothing; alignment 4 is empty.
        cSiDocContainer fixed;
        fixed.setWidth(300);
        fixed.setHeight(100);
        fixed.addChild(word(std::string(200, 'x'), "f"));
        sSize want;
        EXPECT_TRUE(fixed.wantsSize(&canvas, props(0, 0, 1000, nullptr), want));
        EXPECT_EQ(want.cx, 300);
        EXPECT_EQ(want.cy, 100);
        cSiDocContainer margin;
        cSiDocLink* w = word("m", "m");
        w->setMargins(0, 0, 0, 20);
        margin.addChild(w);
        EXPECT_TRUE(margin.wantsSize(&canvas, props(0, 0, 1000, nullptr), want));
        EXPECT_EQ(want.cy, lh);
        cSiDocContainer bad;
        bad.setAlign((cSiDocContainer::eAlign)4);
        bad.addChild(word("x", "x"));
        sSize d = {9, 9};
        EXPECT_FALSE(bad.draw(&canvas, props(0, 0, 1000, nullptr), d));
        EXPECT_EQ(d.cx, 0);
        EXPECT_EQ(d.cy, 0);
    }
}

// A compiled document laid out wide: a line ends only before a box that starts one, so the
// block container begins the second line and the words after it stay there; one space
// goes between neighbouring words, none beside a container.
TEST_F(SiDocLayout, CompiledWordsLandOnTheLinesOfTheGatheringRule) {
    testutil::TempDir dir;
    hdoctest::Compiled c = hdoctest::compileSource(dir, hdoctest::kFlowMarkup);
    ASSERT_TRUE(c.ok) << c.err.message.ptr;
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(c.bytes.data(), (long long)c.bytes.size()));
    cCanvas canvas(1000, 200);
    cZones z;
    sSize d;
    ASSERT_TRUE(loader.forLang(0)->draw(&canvas, props(0, 0, 1000, &z), d));
    // Export -Dialog from our [support] docs / [Thank you!] for reading
    ASSERT_EQ(z.zones.size(), 10u);
    std::vector<int> ys, line;
    for (auto& k : z.zones) ys.push_back(k.y);
    std::vector<int> rows = ys;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int y : ys) line.push_back((int)(std::find(rows.begin(), rows.end(), y) - rows.begin()));
    EXPECT_EQ(line, (std::vector<int>{0, 0, 0, 0, 0, 0, 1, 1, 1, 1}));
    auto after = [&](int i) { return z.zones[i].x + z.zones[i].w; };
    EXPECT_EQ(z.zones[1].x, after(0) + mono.adv);  // a space even where a tag met "Export"
    EXPECT_EQ(z.zones[4].x, after(3));             // "support" in an inline container
    EXPECT_EQ(z.zones[5].x, after(4));
    EXPECT_EQ(z.zones[6].x, 0);
    EXPECT_EQ(z.zones[8].x, after(7));  // "for" right after the block
}

TEST_F(SiDocLayout, LineHeightFollowsTheCjkFactor) {
    cSiDocText t;
    t.setText("x");
    cCanvas canvas(100, 100);
    sSize s;
    for (double f : {1.2, 1.07}) {
        setTextWrapYFactor(f);
        ASSERT_TRUE(t.wantsSize(&canvas, props(0, 0, 100, nullptr), s));
        EXPECT_EQ(s.cy, (int)(mono.textH * f + 0.5)) << f;
    }
    setTextWrapYFactor(1.2);
    if (mono.textH == 13) {
        EXPECT_EQ(s.cy, 14);
    }
}

TEST_F(SiDocLayout, PictureInASmallerBoxIsCutAndPadded) {
    // 50 x 40 picture in an 80 x 30 box: the top 30 rows, then the background to the right.
    cPicture pict;
    ASSERT_TRUE(pict.create(0xFF102030u, 50, 40));
    cSiDocImage img;
    img.refImage(&pict);
    img.setWidth(80);
    img.setHeight(30);
    img.setBgColor(0x00FF00);  // 0x00BBGGRR green
    cCanvas canvas(120, 60, 0xFFFFFFFFu);
    sSize d;
    ASSERT_TRUE(img.draw(&canvas, props(10, 5, 120, nullptr), d));
    EXPECT_EQ(d.cx, 80);
    EXPECT_EQ(d.cy, 30);
    EXPECT_EQ(canvas.pixel(10, 5) & 0xFFFFFF, 0x102030u);
    EXPECT_EQ(canvas.pixel(59, 34) & 0xFFFFFF, 0x102030u);
    EXPECT_EQ(canvas.pixel(59, 35) & 0xFFFFFF, 0xFFFFFFu);  // row 30 of the picture is cut
    EXPECT_EQ(canvas.pixel(60, 5) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(canvas.pixel(89, 34) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(canvas.pixel(90, 5) & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(SiDocLayout, PicturesKeepTheirAlpha) {
    // A 24 x 24 logo whose transparent corners hide blue: the box's background shows there,
    // at natural size, cut to a smaller box and stretched.
    std::vector<unsigned int> px(24 * 24, 0xFFFF0000u);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++) px[y * 24 + x] = px[y * 24 + 23 - x] = 0x000000FFu;
    cPicture pict;
    ASSERT_TRUE(pict.create(px.data(), 24, 24, false));
    for (int kind = 0; kind < 3; kind++) {
        SCOPED_TRACE(kind);
        cSiDocImage img;
        img.refImage(&pict);
        img.setBgColor(0x00FF00);  // green either way round
        if (kind == 1) img.setWidth(20), img.setHeight(20);
        if (kind == 2) img.setPlacement(cSiDocImage::ipStretch), img.setWidth(48), img.setHeight(48);
        cCanvas canvas(80, 80, 0xFFFFFFFFu);
        sSize d;
        ASSERT_TRUE(img.draw(&canvas, props(10, 10, 80, nullptr), d));
        EXPECT_EQ(canvas.pixel(10, 10) & 0xFFFFFF, 0x00FF00u);
        EXPECT_EQ(canvas.pixel(10 + d.cx / 2, 10 + d.cy / 2) & 0xFFFFFF, 0xFF0000u);
        if (kind != 1) {
            EXPECT_EQ(canvas.pixel(10 + d.cx - 1, 10) & 0xFFFFFF, 0x00FF00u);
        }
    }
}

TEST_F(SiDocLayout, NestingPastTheLoadersBoundIsRefusedWithoutDeepRecursion) {
    // A hand-built chain far deeper than any loaded document: the layout stops at the bound.
    cSiDocContainer root;
    cSiDocContainer* c = &root;
    for (int i = 0; i < 100000; i++) {
        auto* next = new cSiDocContainer();
        c->addChild(next);
        c = next;
    }
    c->addChild(word("deep", "deep"));
    cCanvas canvas(100, 100);
    sSize s;
    root.wantsSize(&canvas, props(0, 0, 100, nullptr), s);
    EXPECT_EQ(s.cy, 0);
    cZones z;
    root.draw(&canvas, props(0, 0, 100, &z), s);
    EXPECT_TRUE(z.zones.empty());
    // Within the bound the word is laid out.
    cSiDocContainer ok;
    c = &ok;
    for (int i = 0; i < kSiDocMaxNesting; i++) {
        auto* next = new cSiDocContainer();
        c->addChild(next);
        c = next;
    }
    c->addChild(word("deep", "fine"));
    ok.draw(&canvas, props(0, 0, 100, &z), s);
    ASSERT_EQ(z.zones.size(), 1u);
    EXPECT_EQ(s.cy, mono.lineH());
}

TEST_F(SiDocLayout, HostileNestingTimesBoxesStopsAtTheWorkLimit) {
    // Each of 200 nested containers measures the 3000 words below it again: 600000 visits
    // unbounded. With only 2000 visits left the layout stops early and lays out less.
    cSiDocContainer root;
    cSiDocContainer* c = &root;
    for (int i = 0; i < 200; i++) {
        auto* next = new cSiDocContainer();
        c->addChild(next);
        c = next;
    }
    for (int i = 0; i < 3000; i++) {
        auto* t = new cSiDocText();
        t->setText("w");
        t->setBreak(true);
        c->addChild(t);
    }
    cCanvas canvas(100, 100);
    sSize whole, cut;
    sSiDocDrawProps p = props(0, 0, 100, nullptr);
    long long work = 0;
    p.work = &work;
    ASSERT_TRUE(root.wantsSize(&canvas, p, whole));
    EXPECT_EQ(whole.cy, 3000 * mono.lineH());
    EXPECT_GE(work, 3000 + 200);
    work = kSiDocMaxLayoutWork - 2000;
    root.draw(&canvas, p, cut);
    // Each open level may still finish the box it is at.
    EXPECT_LE(work, kSiDocMaxLayoutWork + 2 * 201);
    EXPECT_LT(cut.cy, whole.cy);
}

TEST_F(SiDocLayout, HugeHeightsSumWithoutOverflow) {
    // 40000 boxes of 65534 pixels: 2.6e9 pixels, past 32-bit positions.
    cSiDocContainer root;
    cPicture pict;
    ASSERT_TRUE(pict.create(0xFF000000u, 1, 1));
    for (int i = 0; i < 40000; i++) {
        auto* img = new cSiDocImage();
        img->refImage(&pict);
        img->setWidth(10);
        img->setHeight(65534);
        root.addChild(img);
    }
    cCanvas canvas(50, 50);
    sSize s;
    ASSERT_TRUE(root.wantsSize(&canvas, props(0, 0, 10, nullptr), s));
    EXPECT_EQ(s.cy, kSiDocMaxExtent);
    sSiDocDrawProps p = props(0, -2000000000, 10, nullptr);
    p.paintTop = 0;
    p.paintBottom = 50;
    ASSERT_TRUE(root.draw(&canvas, p, s));
    EXPECT_GT(s.cy, 0);
}

}  // namespace
