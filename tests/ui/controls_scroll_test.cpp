// Scroll bars and the scrollable base: thumb arithmetic at the edges against a plain
// model, clicks that act once on release, dragging past the ends, which bars show for
// which sizes, re-placing after a resize, the wheel, the corner and focus scrolling.
#include <cmath>

#include "controls_testutil.h"
#include "ui/controls/scrollable.h"
#include "ui/controls/scrollbar.h"

using namespace ctltest;

namespace {

// The bar as a user sees it: the zones along a horizontal bar, one letter per pixel
// (. none, < page back, > page forward, T thumb, a start arrow, b end arrow).
std::string zones(cScrollBarCore* bar) {
    std::string s;
    int length = dynamic_cast<cVScroll*>(bar) ? bar->height() : bar->width();
    for (int x = 0; x < length; x++) s += ".<>Tab"[bar->hit(x)];
    return s;
}

struct cBarFixture : cFixture {
    cHScroll* bar = nullptr;
    std::vector<unsigned long long> posted;
    cBarFixture(int length, unsigned long long maximum) {
        openRecorder(260, 60);
        bar = new cHScroll;
        rec->attach(bar, 10, 10, length, 15);
        bar->setMax(maximum);
        rec->inspect = [this](cChildElement* s, cChildElement::cChildAction* a) {
            auto* sa = dynamic_cast<cScrollBarCore::cScrollAction*>(a);
            if (s == bar && sa) posted.push_back(sa->pos);
        };
        pump();
        posted.clear();
    }
};

}  // namespace

TEST(ScrollBar, ThumbFollowsThePlainModelAndMeetsBothEnds) {
    // Flat theme: end cap 1, arrows 14, joints 5, separator 2 -> track 1..L-41.
    struct Case {
        int length;
        unsigned long long maximum, pos;
    } cases[] = {{200, 100, 0}, {200, 100, 100}, {200, 1000, 500}, {200, 0, 0},
                 {120, 5, 3},   {300, 1ULL << 40, 1ULL << 39}, {60, 10, 10}};
    for (auto& c : cases) {
        cBarFixture f(c.length, 100);
        f.bar->setMax(c.maximum ? c.maximum : 0);
        if (c.maximum == 0) {  // the horizontal bar refuses 0; a vertical one takes it
            cVScroll* v = f.add<cVScroll>(230, 0, 15, c.length);
            v->setMax(0);
            EXPECT_EQ(v->maxval(), 0u);
            EXPECT_EQ(f.bar->maxval(), 100u);
            // Maximum 0: the thumb fills the whole track, from the end cap on.
            std::string vz = zones(v);
            EXPECT_EQ(vz.find('T'), 1u) << vz;
            EXPECT_EQ((int)vz.rfind('T'), c.length - 41) << vz;
            continue;
        }
        f.bar->setPos(c.pos);
        std::string z = zones(f.bar);
        int K = c.length - 41;
        int S = (int)std::max<unsigned long long>((unsigned long long)(unsigned)(K * K) / (c.maximum + K), 12);
        double F = K > S ? (double)c.maximum / (K - S) : 1.0;
        int P = 1 + (int)std::trunc((double)c.pos / F + 0.5);
        size_t first = z.find('T'), last = z.rfind('T');
        ASSERT_NE(first, std::string::npos) << c.length;
        EXPECT_EQ((int)first, P) << z;
        EXPECT_EQ((int)(last - first + 1), S) << z;
        if (c.pos == 0) {
            EXPECT_EQ(first, 1u) << "thumb starts at the end cap";
        }
        if (c.pos == c.maximum) {
            EXPECT_EQ((int)last, K) << "thumb ends at the track's end: " << z;
        }
        EXPECT_EQ(z[0], '.');
        EXPECT_EQ(z.substr(c.length - 14), std::string(14, 'b'));
    }
}

TEST(ScrollBar, ShortBarsAreTwoHalves) {
    cBarFixture f(20, 100);
    EXPECT_EQ(zones(f.bar), std::string(10, 'a') + std::string(10, 'b'));
    f.bar->setPos(50);
    f.pump();
    f.posted.clear();
    f.click(10 + 3, 15);
    f.click(10 + 15, 15);
    f.click(10 + 15, 15);
    EXPECT_EQ(f.posted, (std::vector<unsigned long long>{49, 50, 51}));
}

TEST(ScrollBar, ClicksStepOnceOnReleaseAndStopAtTheEnds) {
    struct Case {
        const char* what;
        unsigned long long start;
        int pressX, releaseX, releaseY;
        std::vector<unsigned long long> want;
    } cases[] = {
        {"start arrow", 50, 165, 165, 15, {49}},
        {"end arrow", 50, 190, 190, 15, {51}},
        {"start arrow at 0", 0, 165, 165, 15, {}},
        {"end arrow at max", 1000, 190, 190, 15, {}},
        {"page back", 900, 5, 5, 15, {890}},
        {"page forward", 0, 150, 150, 15, {10}},
        {"thumb clicked in place", 5, 5, 5, 15, {}},
        {"pressed on arrow, released on track", 50, 165, 150, 15, {}},
        {"released beside the bar", 50, 165, 165, 40, {}},
    };
    for (auto& c : cases) {
        cBarFixture f(200, 1000);
        f.bar->setPos(c.start);
        f.pump();
        f.posted.clear();
        int zoneBefore = f.bar->hit(c.pressX);
        f.press(10 + c.pressX, 15);
        EXPECT_TRUE(f.posted.empty()) << c.what << ": nothing happens on the press";
        f.release(10 + c.releaseX, c.releaseY + 10);
        if (std::string(c.what) == "thumb clicked in place") {
            EXPECT_EQ(zoneBefore, cScrollBarCore::zThumb);  // at position 5 the thumb covers x 5
        }
        EXPECT_EQ(f.posted, c.want) << c.what;
        for (int p = 0; p < 4; p++) {
            if (c.releaseY == 40) {
                EXPECT_EQ(f.bar->partState(p), 0u) << c.what;
            }
        }
    }
}

TEST(ScrollBar, DraggingBeyondTheEndsClampsToZeroAndTheMaximum) {
    cBarFixture f(200, 1000);
    f.bar->setPos(500);
    f.pump();
    std::string z = zones(f.bar);
    int mid = (int)(z.find('T') + z.rfind('T')) / 2;
    f.press(10 + mid, 15);
    f.move(10 + mid - 5000, 15);
    EXPECT_EQ(f.bar->pos(), 0u);
    f.move(10 + mid + 5000, 15);
    EXPECT_EQ(f.bar->pos(), 1000u);
    f.move(10 + mid, 15);
    EXPECT_EQ(f.bar->pos(), 500u) << "back at the origin, back at the start position";
    // The thumb stays under the pointer: moved 30 pixels, it starts 30 pixels further.
    int before = (int)zones(f.bar).find('T');
    f.move(10 + mid + 30, 15);
    EXPECT_NEAR((int)zones(f.bar).find('T') - before, 30, 1);
    f.release(10 + mid, 15);
    EXPECT_FALSE(f.bar->hasCapture());
    EXPECT_EQ(f.posted.back(), f.bar->pos()) << "every move was posted";
}

TEST(ScrollBar, SetMaxBelowThePositionPostsTheNewMaximumOnce) {
    cBarFixture f(200, 1000);
    f.bar->setPos(800);
    f.pump();
    f.posted.clear();
    f.bar->setMax(300);
    f.bar->setMax(300);
    f.pump();
    EXPECT_EQ(f.bar->pos(), 300u);
    EXPECT_EQ(f.posted, (std::vector<unsigned long long>{300}));
}

TEST(ScrollBar, KeysMoveByStepsAndJumpToTheEnds) {
    cBarFixture f(200, 100);
    f.bar->setPageQuantum(30);
    f.bar->setValQuantum(0);  // ignored
    struct K {
        int key;
        unsigned long long want;
    } keys[] = {{kKeyEnd, 100}, {kKeyPageDown, 100}, {kKeyPageUp, 70}, {kKeyLeft, 69}, {kKeyDown, 70},
                {kKeyHome, 0},  {kKeyUp, 0},         {kKeyPageDown, 30}};
    for (auto& k : keys) {
        EXPECT_TRUE(f.bar->onKey(k.key, false, false, false));
        EXPECT_EQ(f.bar->pos(), k.want) << k.key;
    }
    EXPECT_FALSE(f.bar->onKey('A', false, false, false));
}

// ---- the scrollable base ----

namespace {

class cArea : public cScrollableElement {
public:
    int paints = 0;
    void onPaintArea(cCanvas* canvas) override {
        paints++;
        sRect r = {0, 0, width(), height()};
        canvas->drawRect(&r, 0x00A0FF, 0xFFFFFFFFu);  // orange in 0x00BBGGRR
    }
};

}  // namespace

TEST(Scrollable, BarsShowExactlyWhenTheContentNeedsThem) {
    // T = 15 in the flat theme. (W, H, content w, content h) -> bars.
    struct Case {
        int cw, ch;
        bool h, v;
    } cases[] = {
        {100, 80, false, false}, {101, 80, true, true}, {100, 81, true, true}, {101, 66, true, true},
        {101, 65, true, false},  {85, 81, false, true}, {86, 81, true, true},  {100, 10, false, false},
        {0, 0, false, false},
    };
    for (auto& c : cases) {
        cFixture f(200, 200);
        cArea* a = f.add<cArea>(0, 0, 100, 80);
        a->setMinVisualWidth(c.cw);
        a->setMinVisualHeight(c.ch);
        f.pump();
        // The plain rule: a bar is needed when its axis overflows, or when the other bar
        // is needed and takes the room this axis had.
        bool h = 100 < c.cw || (80 < c.ch && 100 - 15 < c.cw);
        bool v = 80 < c.ch || (100 < c.cw && 80 - 15 < c.ch);
        EXPECT_EQ(h, c.h) << c.cw << "x" << c.ch;
        EXPECT_EQ(v, c.v) << c.cw << "x" << c.ch;
        EXPECT_EQ(a->getHScrollRes() != 0, c.h) << c.cw << "x" << c.ch;
        EXPECT_EQ(a->getVScrollRes() != 0, c.v) << c.cw << "x" << c.ch;
        if (c.h) {
            EXPECT_EQ(a->hScroll()->maxval(), (unsigned long long)(c.cw - (100 - a->getVScrollRes())));
        }
        if (c.v) {
            EXPECT_EQ(a->vScroll()->maxval(), (unsigned long long)(c.ch - (80 - a->getHScrollRes())));
        }
    }
}

TEST(Scrollable, ShrinkingTheContentHidesBothBarsAndResetsTheOffsets) {
    cFixture f(200, 200);
    cArea* a = f.add<cArea>(0, 0, 100, 80);
    a->setMinVisualWidth(300);
    a->setMinVisualHeight(300);
    a->hScroll()->setPos(50);
    a->vScroll()->setPos(60, true);
    f.pump();
    EXPECT_EQ(a->shiftX(), 50);
    EXPECT_EQ(a->shiftY(), 60);
    a->setMinVisualWidth(10);
    a->setMinVisualHeight(10);
    EXPECT_EQ(a->shiftX(), 0);
    EXPECT_EQ(a->shiftY(), 0);
    EXPECT_EQ(a->getHScrollRes() + a->getVScrollRes(), 0);
    f.pump();
    EXPECT_EQ(a->shiftX(), 0);
    EXPECT_EQ(a->shiftY(), 0);
}

TEST(Scrollable, BarsFollowAResize) {
    cFixture f(300, 300);
    cArea* a = f.add<cArea>(0, 0, 100, 80);
    a->setMinVisualWidth(500);
    a->setMinVisualHeight(500);
    f.pump();
    a->move(0, 0, 200, 150);
    f.pump();
    // The bars stay glued to the new right and bottom edges, sized to them.
    EXPECT_EQ(a->vScroll()->x(), 200 - 15);
    EXPECT_EQ(a->vScroll()->height(), 150 - 15);
    EXPECT_EQ(a->hScroll()->y(), 150 - 15);
    EXPECT_EQ(a->hScroll()->width(), 200 - 15);
    EXPECT_EQ(a->vScroll()->maxval(), 500u - 135u);
    // And a user sees them there: the bottom-right corner square is the theme's corner.
    sSize sz;
    const unsigned int* corner = cCITheme::theme()->getImage(86, sz);
    ASSERT_TRUE(corner);
    EXPECT_EQ(f.window->canvas()->pixel(200 - 8, 150 - 8) & 0xFFFFFF, *corner & 0xFFFFFF);
    EXPECT_NE(f.window->canvas()->pixel(100 - 8, 80 - 8) & 0xFFFFFF, *corner & 0xFFFFFF);
}

TEST(Scrollable, WheelStepsByTheQuantumAndIsConsumedWithoutBars) {
    cFixture f(300, 300);
    cArea* a = f.add<cArea>(0, 0, 100, 80);
    EXPECT_TRUE(a->onMouseWheel(5, 5, false, false, 3));  // no bar: consumed, nothing moves
    a->setMinVisualHeight(400);
    f.maker.injectWheel(f.window, 20, 20, false, false, 2);
    f.pump();
    EXPECT_EQ(a->shiftY(), 2);
    a->setQuantumSize(5, 20);
    f.maker.injectWheel(f.window, 20, 20, false, false, 3);
    f.pump();
    EXPECT_EQ(a->shiftY(), 62);
    f.maker.injectWheel(f.window, 20, 20, true, false, 10);
    f.pump();
    EXPECT_EQ(a->shiftY(), 0);
    f.maker.injectWheel(f.window, 20, 20, false, false, 1000);
    f.pump();
    EXPECT_EQ(a->shiftY(), 400 - 80);
}

TEST(Scrollable, FocusedChildBelowTheViewScrollsIntoViewUnlessPinned) {
    for (bool pinned : {false, true}) {
        cFixture f(300, 300);
        cArea* a = f.add<cArea>(0, 0, 100, 80);
        a->setMinVisualHeight(400);
        elemtest::cProbe* child = new elemtest::cProbe("c", nullptr, true, true);
        a->attach(child, 0, 200, 50, 20);
        if (pinned) a->pinChild(child, false, true);
        f.pump();
        child->focus();
        f.pump();
        if (pinned) {
            EXPECT_EQ(a->shiftY(), 0);
            continue;
        }
        // The child's bottom meets the visible bottom, less the (doubly taken) bar room.
        EXPECT_EQ(a->shiftY(), 220 - (80 - 0));
        sRect r;
        child->childRect(&r);
        EXPECT_GE(r.y, 0);
        EXPECT_LE(r.y + r.h, 80);
    }
}

TEST(Scrollable, SnapshotWithBothBars) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cFixture f(140, 110);
    cArea* a = f.add<cArea>(10, 10, 120, 90);
    a->setMinVisualWidth(300);
    a->setMinVisualHeight(300);
    a->vScroll()->setPos(100, true);
    f.pump();
    expectSnapshot(f.maker, f.window, "scrollable_both_bars", {0, 0, 140, 110});
}

// Children wider and lower than the view used to paint across both bars and their corner
// (a tree's long rows and its last half-visible row), and scrolling did not clear them.
TEST(Scrollable, ScrolledChildrenStayOffTheBars) {
    // The pixels of the bars and the corner, with or without a child over the whole content.
    auto bars = [](bool child, cChildElement::eControlPartType part, unsigned long long pos) {
        cFixture f(140, 110);
        cArea* a = f.add<cArea>(10, 10, 120, 90);
        a->setMinVisualWidth(300);
        a->setMinVisualHeight(300);
        if (child) {
            auto* c = new elemtest::cProbe("c", nullptr);
            c->myFill = 0xFF00FF;
            a->attach(c, 0, 0, 300, 300, part);
        }
        f.pump();
        a->vScroll()->setPos(pos, true);
        a->hScroll()->setPos(pos);
        f.pump();
        std::vector<unsigned int> px;
        for (int y = 10; y < 100; y++)
            for (int x = 10; x < 130; x++)
                if (x >= 130 - a->getVScrollRes() || y >= 100 - a->getHScrollRes()) px.push_back(f.pixel(x, y));
        EXPECT_EQ(f.pixel(20, 20), child ? 0xFF00FFu : elemtest::rgbOf(0x00A0FF));
        return px;
    };
    for (auto part : {cChildElement::eCPTScrolled, cChildElement::eCPTFixedVert})
        for (unsigned long long pos : {0ull, 50ull}) {
            SCOPED_TRACE(std::to_string(part) + " at " + std::to_string(pos));
            std::vector<unsigned int> plain = bars(false, part, pos), covered = bars(true, part, pos);
            ASSERT_EQ(plain.size(), covered.size());
            ASSERT_GT(plain.size(), 0u);
            EXPECT_TRUE(plain == covered);
        }
}

TEST(ScrollBar, SnapshotOfPartStates) {
    cFixture f(230, 90);
    cHScroll* h[3];
    for (int i = 0; i < 3; i++) {
        h[i] = new cHScroll;
        f.rec->attach(h[i], 5, 5 + i * 20, 200, 15);
        h[i]->setMax(100);
        h[i]->setPos(40);
    }
    cVScroll* v = f.add<cVScroll>(210, 5, 15, 80);
    v->setMax(50);
    v->setPos(50, false);
    f.pump();
    std::string z = zones(h[0]);
    int thumb = (int)(z.find('T') + z.rfind('T')) / 2;
    f.move(5 + thumb, 5 + 7);  // thumb hovered
    EXPECT_EQ(h[0]->partState(1), 1u);
    f.press(5 + 195, 45 + 7);  // the third bar's end arrow pressed
    EXPECT_EQ(h[2]->partState(3), 2u);
    expectSnapshot(f.maker, f.window, "scrollbar_states", {0, 0, 230, 90});
    f.release(5 + 195, 45 + 7);
}
