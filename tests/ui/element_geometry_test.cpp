// Element tree and geometry: anchors against a plain model, size limits, scroll offsets
// by part type, hit tests, ownership of children.
#include <algorithm>

#include "element_testutil.h"

using namespace elemtest;

namespace {

// The anchor contract written out plainly: negative positions count from the far edge,
// negative sizes are parent size + value + 1, then the limits clamp the size.
sRect anchorModel(int ax, int ay, int aw, int ah, int pw, int ph, int minW, int minH, int maxW, int maxH) {
    auto pos = [](int a, int size) { return a < 0 ? a + size + 1 : a; };
    auto len = [](int a, int size, int lo, int hi) {
        long long v = a < 0 ? (long long)a + size + 1 : a;
        v = std::max<long long>(v, 0);
        v = std::min<long long>(v, hi);
        v = std::max<long long>(v, std::max(lo, 0));
        return (int)v;
    };
    return {pos(ax, pw), pos(ay, ph), len(aw, pw, minW, maxW), len(ah, ph, minH, maxH)};
}

// A scrollable stand-in: content shifted by (-sx, -sy), client area below a header.
class cScroller : public cProbe {
public:
    cScroller(cLog* log) : cProbe("S", log) {}
    int sx = 0, sy = 0, header = 0;
    bool virtualOffset(sPoint* o) override {
        if (!o) return false;
        o->x = -sx;
        o->y = -sy;
        return true;
    }
    bool clientRect(sRect* r) override {
        if (!r) return false;
        *r = {0, header, width(), height() - header};
        return true;
    }
};

}  // namespace

TEST(ElementGeometry, AnchorsMatchModelAcrossParentSizes) {
    struct Row {
        int ax, ay, aw, ah, minW, minH, maxW, maxH;
    } rows[] = {
        {0, 0, -1, -1, 0, 0, 0x7FFFFFFF, 0x7FFFFFFF},       // fill
        {-126, -52, 100, 26, 0, 0, 0x7FFFFFFF, 0x7FFFFFFF},  // the wizard's Next: 25 px margins
        {20, 50, -41, 18, 0, 0, 0x7FFFFFFF, 0x7FFFFFFF},     // equal side margins
        {10, 10, -21, -21, 50, 40, 0x7FFFFFFF, 0x7FFFFFFF},  // min size wins when small
        {0, 0, -1, -1, 0, 22, 0x7FFFFFFF, 22},               // fixed-height bar
        {-1, -1, 5, 5, 0, 0, 0x7FFFFFFF, 0x7FFFFFFF},        // at the far corner
        {5, 5, -1000, -1000, 0, 0, 0x7FFFFFFF, 0x7FFFFFFF},  // negative result: empty
        {3, 4, 30, 20, 0, 0, 12, 9},                          // max size clamps
    };
    const int sizes[][2] = {{200, 100}, {640, 480}, {700, 480}, {500, 480}, {50, 30}, {1, 1}, {0, 0}};
    for (auto& r : rows) {
        cLog log;
        cProbe* parent = new cProbe("P", &log);
        cProbe* child = new cProbe("C", &log);
        ASSERT_TRUE(parent->attach(child, 0, 0, 1, 1));
        child->setMinSize(r.minW, r.minH);
        child->setMaxSize(r.maxW, r.maxH);
        parent->move(0, 0, sizes[0][0], sizes[0][1]);
        ASSERT_TRUE(parent->anchor(child, r.ax, r.ay, r.aw, r.ah));
        for (auto& s : sizes) {
            parent->move(0, 0, s[0], s[1]);
            sRect want = anchorModel(r.ax, r.ay, r.aw, r.ah, s[0], s[1], r.minW, r.minH, r.maxW, r.maxH);
            sRect got;
            child->childRect(&got);
            SCOPED_TRACE(std::to_string(r.ax) + "," + std::to_string(r.ay) + "," + std::to_string(r.aw) + "," +
                         std::to_string(r.ah) + " in " + std::to_string(s[0]) + "x" + std::to_string(s[1]));
            EXPECT_EQ((std::vector<int>{got.x, got.y, got.w, got.h}), (std::vector<int>{want.x, want.y, want.w, want.h}));
        }
        delete parent;
    }
}

TEST(ElementGeometry, AnchorsUseTheClientRectangle) {
    cLog log;
    cScroller s(&log);
    cProbe* c = new cProbe("C", &log);
    s.attach(c, 0, 0, 1, 1);
    s.header = 20;
    s.move(0, 0, 100, 80);
    s.anchor(c, 0, 0, -1, -1);
    sRect r;
    c->childRect(&r);
    EXPECT_EQ(r.y, 20);
    EXPECT_EQ(r.h, 60);
    // The header grows without a size change: only a forced pass follows it.
    s.header = 30;
    s.processSizeChanges(100, 80, false);
    c->childRect(&r);
    EXPECT_EQ(r.y, 20);
    s.processSizeChanges(100, 80, true);
    c->childRect(&r);
    EXPECT_EQ(r.y, 30);
    EXPECT_EQ(r.h, 50);
}

TEST(ElementGeometry, PartTypesFollowTheVirtualOffset) {
    cLog log;
    cScroller s(&log);
    s.move(0, 0, 100, 100);
    cProbe* scrolled = new cProbe("A", &log);
    cProbe* fixed = new cProbe("B", &log);
    cProbe* fixedVert = new cProbe("C", &log);
    s.attach(scrolled, 40, 40, 10, 10, cChildElement::eCPTScrolled);
    s.attach(fixed, 60, 60, 10, 10, cChildElement::eCPTFixed);
    s.attach(fixedVert, 80, 80, 10, 10, cChildElement::eCPTFixedVert);
    s.sx = 5;
    s.sy = 7;
    struct {
        cChildElement* e;
        int x, y;
    } want[] = {{scrolled, 35, 33}, {fixed, 60, 60}, {fixedVert, 75, 80}};
    for (auto& w : want) {
        sRect r;
        w.e->childRect(&r);
        EXPECT_EQ(r.x, w.x);
        EXPECT_EQ(r.y, w.y);
        // Hit tests see the same place, in the child's own coordinates.
        int lx = -1, ly = -1;
        EXPECT_EQ(s.elementAt(w.x + 2, w.y + 3, &lx, &ly), w.e);
        EXPECT_EQ(lx, 2);
        EXPECT_EQ(ly, 3);
    }
    EXPECT_EQ(s.elementAt(46, 46), &s);  // where A would be unscrolled
}

TEST(ElementGeometry, ScrolledChildIsPaintedWhereItIsHit) {
    cWindowFixture f;
    cLog log;
    cScroller* s = new cScroller(&log);
    s->myFill = 0xFFFFFF;
    cProbe* a = new cProbe("A", &log);
    a->myFill = 0x0000FF;  // red
    s->attach(a, 40, 40, 10, 10);
    s->sx = 5;
    s->sy = 7;
    f.open(s, 100, 100);
    EXPECT_EQ(f.pixel(35, 33), rgbOf(0x0000FF));
    EXPECT_EQ(f.pixel(44, 42), rgbOf(0x0000FF));
    EXPECT_EQ(f.pixel(45, 43), 0xFFFFFFu);
    EXPECT_EQ(f.pixel(34, 33), 0xFFFFFFu);
}

TEST(ElementGeometry, SizeLimitsClampMoves) {
    cProbe p("P", nullptr);
    cProbe* c = new cProbe("C", nullptr);
    p.attach(c, 0, 0, 5, 5);
    c->setMinSize(20, -7);  // a negative minimum reads as 0
    EXPECT_EQ(c->width(), 20);
    EXPECT_EQ(c->minHeight(), 0);
    c->setMaxSize(30, 10);
    c->move(0, 0, 100, 100);
    EXPECT_EQ(c->width(), 30);
    EXPECT_EQ(c->height(), 10);
    c->move(0, 0, 1, 1);
    EXPECT_EQ(c->width(), 20);
    EXPECT_EQ(c->height(), 1);
}

TEST(ElementGeometry, ChildrenDieWithTheirParentAndDetachedOnesSurvive) {
    int deaths = 0;
    cProbe* top = new cProbe("T", nullptr);
    top->myDeaths = &deaths;
    cProbe* mid = new cProbe("M", nullptr);
    mid->myDeaths = &deaths;
    cProbe* leaf = new cProbe("L", nullptr);
    leaf->myDeaths = &deaths;
    cProbe* kept = new cProbe("K", nullptr);
    kept->myDeaths = &deaths;
    ASSERT_TRUE(top->attach(mid, 1, 2, 30, 30));
    ASSERT_TRUE(mid->attach(leaf, 3, 4, 5, 5));
    ASSERT_TRUE(mid->attach(kept, 0, 0, 5, 5));
    // No cycles, no self-attachment.
    EXPECT_FALSE(leaf->attach(top, 0, 0, 1, 1));
    EXPECT_FALSE(mid->attach(mid, 0, 0, 1, 1));
    EXPECT_FALSE(top->attach(nullptr, 0, 0, 1, 1));
    EXPECT_TRUE(top->isChild(leaf));
    EXPECT_FALSE(leaf->isChild(top));
    sRect r;
    ASSERT_TRUE(top->childRect(leaf, &r));
    EXPECT_EQ(r.x, 4);
    EXPECT_EQ(r.y, 6);
    EXPECT_FALSE(leaf->childRect(top, &r));
    mid->dettach(kept);
    EXPECT_EQ(kept->parent(), nullptr);
    // Re-attaching an attached child only moves it.
    EXPECT_TRUE(mid->attach(leaf, 9, 9, 6, 6));
    EXPECT_EQ(mid->firstChild(), leaf);
    EXPECT_EQ(leaf->nextSibling(), nullptr);
    delete top;
    EXPECT_EQ(deaths, 3);
    delete kept;
    EXPECT_EQ(deaths, 4);
}

TEST(ElementGeometry, AbsolutePositionAddsTheWindowsScreenPlace) {
    cWindowFixture f;
    cProbe* root = new cProbe("R", nullptr);
    cProbe* a = new cProbe("A", nullptr);
    cProbe* b = new cProbe("B", nullptr);
    root->attach(a, 10, 20, 50, 50);
    a->attach(b, 3, 4, 10, 10);
    f.open(root, 200, 150);
    sPoint screen;
    f.window->screenPos(screen);
    sPoint at;
    ASSERT_TRUE(b->absPos(at));
    EXPECT_EQ(at.x, screen.x + 13);
    EXPECT_EQ(at.y, screen.y + 24);
    EXPECT_TRUE(b->inme(0, 0));
    EXPECT_TRUE(b->inme(9, 9));
    EXPECT_FALSE(b->inme(10, 9));
    EXPECT_FALSE(b->inme(-1, 0));
    // Without a window the position is still known, the screen is not.
    cProbe loose("L", nullptr);
    EXPECT_FALSE(loose.absPos(at));
}

TEST(ElementGeometry, HiddenElementsAreNotHitAndNotPainted) {
    cWindowFixture f;
    cProbe* root = new cProbe("R", nullptr);
    root->myFill = 0xFFFFFF;
    cProbe* a = new cProbe("A", nullptr);
    a->myFill = 0xFF0000;  // blue
    root->attach(a, 10, 10, 20, 20);
    f.open(root, 60, 60);
    EXPECT_EQ(f.pixel(15, 15), rgbOf(0xFF0000));
    a->hide();
    EXPECT_EQ(root->elementAt(15, 15), root);
    EXPECT_EQ(f.pixel(15, 15), 0xFFFFFFu);
    EXPECT_FALSE(a->visible());
    a->show();
    EXPECT_EQ(f.pixel(15, 15), rgbOf(0xFF0000));
}

TEST(ElementGeometry, TransparentChildShowsItsParentsBackground) {
    // A parent answering background requests paints a pattern the child shows through.
    class cBgParent : public cProbe {
    public:
        cBgParent() : cProbe("P", nullptr) {}
        bool onBackgroundRequest(cCanvas* c, sRect* r) override {
            sRect all = {-r->x, -r->y, width(), height()};
            c->drawRect(&all, 0x00FF00, 0xFFFFFFFFu);  // green over the whole parent
            sRect mark = {20 - r->x, 20 - r->y, 1, 1};
            c->drawRect(&mark, 0x0000FF, 0xFFFFFFFFu);  // one red pixel at parent (20, 20)
            return true;
        }
    };
    cWindowFixture f;
    cBgParent* root = new cBgParent;
    root->myFill = 0xFFFFFF;
    cProbe* holder = new cProbe("H", nullptr);  // passes requests up, adding its offset
    cProbe* t = new cProbe("T", nullptr);
    root->attach(holder, 10, 10, 40, 40);
    holder->attach(t, 5, 5, 20, 20);
    t->setTransparent(true);
    f.open(root, 60, 60);
    EXPECT_EQ(f.pixel(20, 20), rgbOf(0x0000FF));
    EXPECT_EQ(f.pixel(21, 21), rgbOf(0x00FF00));
    EXPECT_EQ(f.pixel(12, 12), 0xFFFFFFu);  // outside the transparent child
}
