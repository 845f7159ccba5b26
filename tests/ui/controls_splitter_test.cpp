// Splitters and the column header: proportional and fixed layout against hand-worked
// figures, fractions that survive a transient tiny size, the filler and resize requests,
// dragging in both modes, locking, separator pixels, and the header's column clicks.
#include <cmath>

#include "controls_testutil.h"
#include "ui/controls/header.h"
#include "ui/controls/splitter.h"

using namespace ctltest;

namespace {

struct cSplitFixture : cFixture {
    cSplitterChild* split = nullptr;
    cChildElement* a = nullptr;
    cChildElement* b = nullptr;
    std::vector<int> resizes;
    cSplitFixture(cSplitterChild* s, int w, int h) {
        openRecorder(460, 260);
        split = s;
        rec->attach(split, 10, 10, w, h);
        a = new cChildElement;
        b = new cChildElement;
        rec->inspect = [this](cChildElement* sender, cChildElement::cChildAction* act) {
            auto* r = dynamic_cast<cSplitterChild::cResizeRequestAction*>(act);
            if (sender == split && r) resizes.push_back(r->size);
        };
        pump();
    }
};

}  // namespace

TEST(Splitter, ProportionalHalvesOnOddWidthAndFractionsSurviveATinySize) {
    cSplitFixture f(new cSplitterChild, 200, 30);
    ASSERT_TRUE(f.split->attach(0, f.a, 100));
    ASSERT_TRUE(f.split->attach(1, f.b, 100));
    EXPECT_DOUBLE_EQ(f.split->storedSize(0), 0.5);
    f.split->move(10, 10, 203, 30);
    EXPECT_EQ(f.a->x(), 0);
    EXPECT_EQ(f.a->width(), 100);
    EXPECT_EQ(f.b->x(), 103);
    EXPECT_EQ(f.b->width(), 100);
    EXPECT_EQ(f.b->height(), 30);
    // Shrunk to less than one separator and back: nothing is laid out meanwhile and the
    // stored fractions are those the user set, not ones derived from the tiny size.
    for (int w : {2, 3, 0, 1}) {
        f.split->move(10, 10, w, 30);
        EXPECT_DOUBLE_EQ(f.split->storedSize(0), 0.5) << w;
        EXPECT_DOUBLE_EQ(f.split->storedSize(1), 0.5) << w;
    }
    f.split->move(10, 10, 203, 30);
    EXPECT_EQ(f.a->width(), 100);
    EXPECT_EQ(f.b->x(), 103);
    // An item raised to its minimum width is laid out wider; its fraction stays.
    f.a->setMinSize(150, 0);
    f.split->rebuild(0);
    EXPECT_EQ(f.a->width(), 150);
    EXPECT_EQ(f.b->x(), 153);
    EXPECT_DOUBLE_EQ(f.split->storedSize(0), 0.5);
    // Invalid ids and sizes change nothing.
    EXPECT_FALSE(f.split->attach(-1, f.a, 10));
    EXPECT_FALSE(f.split->attach(2, nullptr, 10));
    EXPECT_FALSE(f.split->resizeItem(7, 10));
    EXPECT_FALSE(f.split->resizeItem(0, -1));
}

TEST(Splitter, VerticalSplitterUsesTheSameFloorBeforeItHasAHeight) {
    cSplitFixture f(new cVSplitterChild, 100, 0);
    ASSERT_TRUE(f.split->attach(0, f.a, 50));
    ASSERT_TRUE(f.split->attach(1, f.b, 50));
    // Height 0: the fractions come from the 100-pixel floor, not a division by zero.
    EXPECT_DOUBLE_EQ(f.split->storedSize(0), 0.5);
    EXPECT_TRUE(std::isfinite(f.split->storedSize(1)));
    f.split->move(10, 10, 100, 203);
    EXPECT_EQ(f.a->y(), 0);
    EXPECT_EQ(f.a->height(), 100);
    EXPECT_EQ(f.b->y(), 103);
    EXPECT_EQ(f.b->width(), 100);
    EXPECT_EQ(f.split->defaultPointer(), cChildElement::eMPSizeNS);
}

TEST(Splitter, FixedModeFillerMakesTheSplitterTheMinimumAndAsksForIt) {
    cSplitFixture f(new cSplitterChild, 100, 20);
    f.split->setScalable(false);
    cChildElement* filler = new cChildElement;
    f.split->cChildElement::attach(filler, 0, 0, 1, 1);
    ASSERT_TRUE(f.split->attach(0, f.a, 47));
    ASSERT_TRUE(f.split->attach(1, f.b, 97));  // 47 + 3 + 97 + 3 = 150
    f.pump();
    EXPECT_EQ(f.split->width(), 150);
    f.resizes.clear();
    f.split->setMinSplittingSize(400, filler);
    f.pump();
    EXPECT_EQ(filler->x(), 150);
    EXPECT_EQ(filler->width(), 250);
    EXPECT_EQ(f.split->width(), 400);
    ASSERT_FALSE(f.resizes.empty());
    EXPECT_EQ(f.resizes.back(), 400);
    // Items growing past the minimum take the filler's room and the splitter grows.
    f.resizes.clear();
    ASSERT_TRUE(f.split->resizeItem(1, 397));  // 50 + 400 = 450
    f.pump();
    EXPECT_EQ(f.split->width(), 450);
    EXPECT_EQ(filler->width(), 0);
    ASSERT_FALSE(f.resizes.empty());
    EXPECT_EQ(f.resizes.back(), 450);
    f.split->setSplitWidth(1);
    EXPECT_EQ(f.split->splitReservedWidth(), 3);
}

TEST(Splitter, DraggingLastSeparatorOnlyInFixedModeAndNotWhenLocked) {
    for (bool fixed : {false, true}) {
        cSplitFixture f(new cSplitterChild, 200, 30);
        if (fixed) f.split->setScalable(false);
        f.split->attach(0, f.a, 100);
        f.split->attach(1, f.b, fixed ? 50 : 100);
        f.pump();
        int lastSep = f.b->x() + f.b->width() + 1;
        f.press(10 + lastSep, 20);
        EXPECT_EQ(f.split->dragging(), fixed) << fixed;
        f.move(10 + lastSep + 20, 20);
        f.release(10 + lastSep + 20, 20);
        if (fixed) {  // the item's end follows the pointer: 174 - 103
            EXPECT_EQ(f.b->width(), 71);
            EXPECT_EQ(f.split->width(), 103 + 74);
        }
        // The first separator: the left item follows the pointer in both modes.
        f.rec->seen.clear();
        int a0 = f.a->width(), b0 = f.b->width();
        int sep = a0 + 1, to = sep - 40;
        f.press(10 + sep, 20);
        f.move(10 + to, 20);
        f.release(10 + to, 20);
        // Fixed: the pointer position less the item's start. Proportional: the pair's
        // fractions split at the pointer, laid out over the room left by the separator.
        int want = fixed ? to : (int)((double)to / (a0 + b0) * 197);
        EXPECT_EQ(f.a->width(), want) << fixed;
        if (!fixed) {
            EXPECT_EQ(f.b->x(), want + 3);
            EXPECT_NEAR(f.split->storedSize(0) + f.split->storedSize(1), 1.0, 1e-12);
        }
        EXPECT_GE(f.rec->count(f.split, 7), 1);
        // Locked: presses start no drag and the pointer is the arrow.
        f.split->fix(true);
        EXPECT_EQ(f.split->pointerKind(), cChildElement::eMPArrow);
        sep = f.a->width() + 1;
        f.press(10 + sep, 20);
        f.move(10 + sep + 30, 20);
        f.release(10 + sep + 30, 20);
        EXPECT_EQ(f.a->width(), want);
        EXPECT_FALSE(f.split->dragging());
    }
}

TEST(Splitter, SeparatorBandsAndTrimmedMiddleLine) {
    cSplitFixture f(new cSplitterChild, 203, 40);
    f.split->attach(0, f.a, 100);
    f.split->attach(1, f.b, 100);
    f.split->move(10, 10, 203, 40);
    f.split->setColors(0x0000FF, 0x00FF00);  // line red, band green (0x00BBGGRR)
    f.split->setLineTrims(5, 10);
    f.pump();
    int X = 10 + 100, Y = 10;
    EXPECT_EQ(bgrAt(f.window, X, Y + 20), 0x00FF00u);
    EXPECT_EQ(bgrAt(f.window, X + 1, Y + 20), 0x0000FFu);
    EXPECT_EQ(bgrAt(f.window, X + 2, Y + 20), 0x00FF00u);
    EXPECT_EQ(bgrAt(f.window, X + 1, Y + 4), 0x00FF00u);   // top trim
    EXPECT_EQ(bgrAt(f.window, X + 1, Y + 5), 0x0000FFu);
    EXPECT_EQ(bgrAt(f.window, X + 1, Y + 29), 0x0000FFu);
    EXPECT_EQ(bgrAt(f.window, X + 1, Y + 30), 0x00FF00u);  // bottom trim
    EXPECT_NE(bgrAt(f.window, X + 3, Y + 20), 0x00FF00u);
}

TEST(Header, ColumnsClicksAndFiller) {
    cFixture f(400, 60);
    cHeaderChild* h = f.add<cHeaderChild>(0, 0, 300, 10);
    h->setMinButtonsWidth(300);
    std::vector<int> clicked;
    f.rec->inspect = [&](cChildElement* s, cChildElement::cChildAction* a) {
        auto* c = dynamic_cast<cHeaderChild::cColumnClickAction*>(a);
        if (s == h && c) clicked.push_back(c->column);
    };
    EXPECT_EQ(h->height(), cCITheme::theme()->getDimension(23, 0));
    ASSERT_TRUE(h->setColumn(1, "Name", 100, cCanvas::taLeft));
    ASSERT_TRUE(h->setColumn(2, "Size", 60, cCanvas::taRight));
    EXPECT_FALSE(h->setColumn(-1, "Bad", 10, cCanvas::taLeft));
    // A null text keeps the caption; alignment and width change.
    ASSERT_TRUE(h->setColumn(1, nullptr, 120, cCanvas::taCenter));
    EXPECT_STREQ(h->columnButton(1)->text(), "Name");
    EXPECT_EQ(h->columnAlign(1), cCanvas::taCenter);
    EXPECT_EQ(h->columnWidth(1), 120);
    EXPECT_EQ(h->columnWidth(9), 0);
    f.pump();
    // 120 + 3 + 60 + 3 = 186; the disabled filler covers the rest up to 300.
    EXPECT_EQ(h->width(), 300);
    EXPECT_EQ(h->filler()->x(), 186);
    EXPECT_EQ(h->filler()->width(), 114);
    EXPECT_FALSE(h->filler()->enabled());
    f.rec->seen.clear();
    f.press(140, 5);
    f.release(140, 5);
    ASSERT_EQ(clicked.size(), 1u);
    EXPECT_EQ(clicked[0], 2);
    // The filler is no column.
    f.press(250, 5);
    f.release(250, 5);
    EXPECT_EQ(clicked.size(), 1u);
    ASSERT_TRUE(h->removeColumn(1));
    EXPECT_FALSE(h->removeColumn(1));
    EXPECT_EQ(h->columnButton(1), nullptr);
}
