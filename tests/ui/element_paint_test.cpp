// Painting in place: a random tree painted through the window's canvas equals the same
// tree painted the plain way (an offscreen canvas per element, copied back); an element
// cannot draw outside its rectangle or the dirty area; elements taller than a canvas may
// be still paint.
#include <functional>
#include <random>

#include "ciplatform/fontobject.h"
#include "element_testutil.h"

using namespace elemtest;

namespace {

// Draws what a control might: a fill, a frame line, text, and a clipped band; some
// reset or widen the region first (as controls do around their borders).
class cArtist : public cChildElement {
public:
    unsigned int colour = 0;
    int style = 0;
    void onPaint(cCanvas* canvas) override {
        int w = width(), h = height();
        sRect all = {0, 0, w, h};
        if (style & 1) {
            // Widening the region must not reach outside the element.
            sRect huge = {-5000, -5000, 20000, 20000};
            canvas->unclip(&huge);
            canvas->drawRect(&huge, colour ^ 0x202020, 0xFFFFFFFFu);
        }
        canvas->drawRect(&all, colour, 0x000000);
        if (style & 2) {
            sRect inner = {2, 2, w - 4, h - 4};
            canvas->clip(&all);
            canvas->unclip(&inner);
        }
        canvas->setLineMode(0x00FF00, 2);
        sPoint a = {-3, -3}, b = {w + 3, h / 2};
        canvas->drawLine(&a, &b);
        canvas->setTextMode(nullptr);
        canvas->setTextColors(0x000000, style & 4 ? 0xFFFFFF : 0xFFFFFFFFu);
        canvas->drawText(1, 1, (style & 4) == 0, "Ag");
        sRect box = {0, h / 2, w, h / 2};
        canvas->drawTextLimited(&box, cCanvas::taCenter, false, 1, 1, "a longer caption");
        canvas->resetClip();
        if (style & 8) {
            sRect corner = {w - 3, h - 3, 6, 6};
            canvas->drawRect(&corner, 0x0000FF, 0xFFFFFFFFu);
        }
    }
};

// The plain way: every element on its own canvas seeded with what lies beneath.
void paintReference(cChildElement* e, cCanvas* target, int ex, int ey, const sRect& clip) {
    if (!e->visible_child() || e->width() <= 0 || e->height() <= 0) return;
    long long l = std::max(ex, clip.x), t = std::max(ey, clip.y);
    long long r = std::min((long long)ex + e->width(), (long long)clip.x + clip.w);
    long long b = std::min((long long)ey + e->height(), (long long)clip.y + clip.h);
    if (r <= l || b <= t) return;
    sRect dirty = {(int)l, (int)t, (int)(r - l), (int)(b - t)};
    cCanvas off(e->width(), e->height());
    sRect local = {dirty.x - ex, dirty.y - ey, dirty.w, dirty.h};
    off.draw(local.x, local.y, target, dirty.x, dirty.y, dirty.w, dirty.h);
    e->onPaint(&off);
    for (cChildElement* c = e->firstChild(); c; c = c->nextSibling()) {
        sRect cr;
        c->childRect(&cr);
        paintReference(c, &off, cr.x, cr.y, local);
    }
    target->draw(dirty.x, dirty.y, &off, local.x, local.y, dirty.w, dirty.h);
}

void addRandom(cChildElement* parent, std::mt19937& rng, int depth) {
    int n = depth > 4 ? 0 : (int)(rng() % 4);
    for (int i = 0; i < n; i++) {
        cArtist* a = new cArtist();
        a->colour = rng() & 0xFFFFFF;
        a->style = (int)(rng() % 16);
        int w = parent->width(), h = parent->height();
        // Children may stick out of their parent on any side.
        int x = (int)(rng() % (w + 20)) - 10, y = (int)(rng() % (h + 20)) - 10;
        parent->attach(a, x, y, 8 + (int)(rng() % (w / 2 + 8)), 8 + (int)(rng() % (h / 2 + 8)));
        if (rng() % 7 == 0) a->hide(false);
        if (rng() % 5 == 0) a->setDoubleBuffer(true);
        addRandom(a, rng, depth + 1);
    }
}

}  // namespace

TEST(ElementPaint, InPlaceEqualsAnOffscreenCanvasPerElement) {
    for (unsigned seed = 1; seed <= 12; seed++) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        cWindowFixture fx;
        cArtist* root = new cArtist();
        root->colour = 0xE0E0E0;
        root->move(0, 0, 160, 120);
        fx.open(root, 160, 120);
        addRandom(root, rng, 0);
        // A full repaint, then a partial one of a random area.
        for (int pass = 0; pass < 2; pass++) {
            sRect area = {0, 0, 160, 120};
            if (pass == 1) area = {(int)(rng() % 100), (int)(rng() % 80), 10 + (int)(rng() % 60), 10 + (int)(rng() % 40)};
            fx.window->invalidate(&area);
            fx.pump();
            cCanvas ref(160, 120);
            if (pass == 1) ref.draw(0, 0, fx.window->canvas());  // outside the area nothing changes
            paintReference(root, &ref, 0, 0, area);
            int diff = 0;
            for (int y = 0; y < 120; y++)
                for (int x = 0; x < 160; x++) diff += fx.window->canvas()->pixel(x, y) != ref.pixel(x, y);
            EXPECT_EQ(diff, 0) << "pass " << pass;
        }
    }
}

TEST(ElementPaint, ElementsTallerThanACanvasPaint) {
    cLog log;
    cWindowFixture fx;
    cProbe* root = new cProbe("root", &log);
    root->myFill = 0xFFFFFF;
    fx.open(root, 100, 100);
    // 100,000 pixels tall, moved up so that its row 70,010 is the window's row 10.
    cArtist* tall = new cArtist();
    tall->colour = 0x336699;
    root->attach(tall, 10, -70000, 50, 100000);
    cProbe* mark = new cProbe("mark", &log);
    mark->myFill = 0x0000FF;
    tall->attach(mark, 5, 70010, 20, 20);
    fx.pump();
    EXPECT_EQ(fx.pixel(30, 50), rgbOf(0x336699));
    EXPECT_EQ(fx.pixel(20, 20), rgbOf(0x0000FF));
    EXPECT_EQ(fx.pixel(5, 50), rgbOf(0xFFFFFF));
}
