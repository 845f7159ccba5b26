// The simple grid: the layout against a plain model (every column inside the view), hit
// tests in cells and gaps, keys and clicks with their actions, scrolling to a selected
// cell, and how the cells look.
#include <vector>

#include "controls_testutil.h"
#include "ui/controls/simplegrid.h"
#include "ui/theme.h"

using namespace ctltest;

namespace {

class cColourGrid : public cSimpleGridChild {
public:
    int cw = 20, ch = 20, spacing = 10, most = 1000, n = 12;
    bool crossLines = false;
    void paintElement(cCanvas* canvas, int index, bool selected) override {
        sRect r = {0, 0, cw, ch};
        unsigned int c = selected ? 0x0000C0 : 0x30A030 + 0x000010 * (index % 8);
        canvas->drawRect(&r, c, selected ? 0x000000 : 0x206020);
    }
    int cellWidth() override { return cw; }
    int cellHeight() override { return ch; }
    int numCells() override { return n; }
    int cellSpacing() override { return spacing; }
    int maxSpacing() override { return most; }
    bool lrChangesLine() override { return crossLines; }
};

struct cGridFixture : cFixture {
    cColourGrid* grid = nullptr;
    std::vector<std::pair<int, int>> acts;  // type, cell
    void build(int w, int h, std::function<void(cColourGrid*)> setup = nullptr) {
        openRecorder(w + 20, h + 20);
        grid = new cColourGrid;
        if (setup) setup(grid);
        rec->attach(grid, 10, 10, w, h);
        rec->inspect = [this](cChildElement* s, cChildElement::cChildAction* a) {
            if (auto* c = dynamic_cast<cSimpleGridChild::cCellAction*>(a)) acts.push_back({a->type, c->cell});
        };
        pump();
    }
};

}  // namespace

TEST(SimpleGrid, LayoutKeepsEveryColumnInsideTheView) {
    struct {
        int W, cw, s, most, perLine;
    } cases[] = {
        {100, 20, 10, 1000, 3},
        {100, 10, 30, 1000, 3},  // (2q + 1) x cw fits: one more column than W / (cw + s)
        {100, 20, 10, 4, 3},     // gap capped by maxSpacing
        {100, 100, 0, 10, 1},    // one cell a line
        {101, 33, 2, 1000, 2},  // 3 x 33 would fit, but (2q + 1) x cw does not
        {57, 19, 0, 1000, 3},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.W * 1000 + c.cw);
        cGridFixture f;
        f.build(c.W, 200, [&](cColourGrid* g) {
            g->cw = c.cw;
            g->spacing = c.s;
            g->most = c.most;
            g->n = 7;
        });
        EXPECT_EQ(f.grid->cellsPerLine(), c.perLine);
        int gap = (c.W - c.perLine * c.cw) / c.perLine;
        EXPECT_EQ(f.grid->columnGap(), gap < c.most ? gap : c.most);
        EXPECT_EQ(f.grid->lines(), (7 + c.perLine - 1) / c.perLine);
        for (int i = 0; i < 7; i++) {
            sRect r;
            ASSERT_TRUE(f.grid->cellRect(i, r));
            EXPECT_GE(r.x, 0);
            EXPECT_LE(r.x + r.w, c.W) << "cell " << i << " sticks out of the view";
            // The centre of every cell hits it.
            EXPECT_EQ(f.grid->hitCell(r.x + r.w / 2, r.y + r.h / 2 - f.grid->shiftY()), i);
        }
        EXPECT_FALSE(f.grid->hitCell(-1, 5) >= 0);
    }
}

TEST(SimpleGrid, KeysMoveTheSelectionAndReport) {
    struct {
        const char* what;
        int start;
        int key;
        bool cross;
        int want;  // selection afterwards
        bool reported;
    } cases[] = {
        {"Right from nothing", -1, kKeyRight, false, 0, true},
        {"Down from nothing", -1, kKeyDown, false, 0, true},
        {"Home from nothing", -1, kKeyHome, false, -1, false},
        {"Left in the first column", 4, kKeyLeft, false, 4, false},
        {"Left crossing lines", 4, kKeyLeft, true, 3, true},
        {"Right in the last column", 3, kKeyRight, false, 3, false},
        {"Right crossing lines", 3, kKeyRight, true, 4, true},
        {"Down a line", 1, kKeyDown, false, 5, true},
        {"Down past the last", 9, kKeyDown, false, 9, false},
        {"Up a line", 6, kKeyUp, false, 2, true},
        {"End", 2, kKeyEnd, false, 9, true},
        {"PageUp", 7, kKeyPageUp, false, 0, true},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        cGridFixture f;
        // 120 wide, cells 20 + spacing 10: 4 a line; 10 cells.
        f.build(120, 200, [&](cColourGrid* g) {
            g->n = 10;
            g->crossLines = c.cross;
        });
        ASSERT_EQ(f.grid->cellsPerLine(), 4);
        f.grid->focus();
        if (c.start >= 0) f.grid->selectCell(c.start, false);
        f.pump();
        f.acts.clear();
        f.key(c.key);
        EXPECT_EQ(f.grid->selectedCell(), c.want);
        EXPECT_EQ(f.acts.size(), c.reported ? 1u : 0u);
        if (c.reported && !f.acts.empty()) {
            EXPECT_EQ(f.acts[0], std::make_pair(6, c.want));
        }
    }
}

TEST(SimpleGrid, ClicksSelectActivateAndClearInGaps) {
    cGridFixture f;
    f.build(110, 200, [](cColourGrid* g) { g->n = 10; });
    sRect r;
    ASSERT_TRUE(f.grid->cellRect(5, r));
    f.click(10 + r.x + 3, 10 + r.y + 3);
    EXPECT_EQ(f.grid->selectedCell(), 5);
    ASSERT_EQ(f.acts.size(), 1u);
    EXPECT_EQ(f.acts[0], std::make_pair(6, 5));
    // Enter activates without a repaint-worthy change.
    f.grid->focus();
    f.key(kKeyEnter);
    EXPECT_EQ(f.acts.back(), std::make_pair(7, 5));
    // A click in the gap between cells 5 and 6 clears the selection and reports -1.
    f.maker.advanceClock(1000);
    f.click(10 + r.x + r.w + 2, 10 + r.y + 3);
    EXPECT_EQ(f.grid->selectedCell(), -1);
    EXPECT_EQ(f.acts.back(), std::make_pair(6, -1));
    // A double click on cell 2 activates and selects it.
    f.maker.advanceClock(1000);
    ASSERT_TRUE(f.grid->cellRect(2, r));
    f.acts.clear();
    f.maker.injectClick(f.window, 10 + r.x + 3, 10 + r.y + 3);
    f.maker.injectClick(f.window, 10 + r.x + 3, 10 + r.y + 3);
    f.pump();
    EXPECT_EQ(f.grid->selectedCell(), 2);
    ASSERT_FALSE(f.acts.empty());
    EXPECT_EQ(f.acts.back(), std::make_pair(7, 2));
}

TEST(SimpleGrid, SelectionScrollsIntoViewAndCountChangeClearsIt) {
    cGridFixture f;
    f.build(110, 70, [](cColourGrid* g) { g->n = 40; });  // 10 lines of 30 pixels, 70 shown
    f.grid->focus();
    f.key(kKeyEnd);
    f.pump();
    sRect r;
    ASSERT_TRUE(f.grid->cellRect(39, r));
    EXPECT_GT(f.grid->shiftY(), 0);
    EXPECT_LE(r.y + r.h - f.grid->shiftY(), 70);
    EXPECT_GE(r.y - f.grid->shiftY(), 0);
    f.grid->n = 5;
    f.grid->notifyGridChanged(true);
    EXPECT_EQ(f.grid->selectedCell(), -1);
    f.grid->n = 0;
    f.grid->notifyGridChanged(true);
    f.pump();
    EXPECT_EQ(f.grid->lines(), 0);
    EXPECT_EQ(bgrAt(f.window, 10 + 50, 10 + 30), 0xFFFFFFu);  // background over everything
    f.key(kKeyDown);
    EXPECT_EQ(f.grid->selectedCell(), -1);
}

TEST(SimpleGrid, Snapshot) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cGridFixture f;
    f.build(140, 80, [](cColourGrid* g) { g->n = 14; });
    f.grid->selectCell(6, false);
    f.pump();
    expectSnapshot(f.maker, f.window, "grid", {0, 0, 160, 100});
}

TEST(SimpleGrid, SelectedCellIsFramedWhileTheGridHasTheFocus) {
    cGridFixture f;
    f.build(110, 200, [](cColourGrid* g) { g->n = 10; });
    f.grid->selectCell(1, false);
    f.pump();
    sRect r;
    ASSERT_TRUE(f.grid->cellRect(1, r));
    EXPECT_EQ(bgrAt(f.window, 10 + r.x, 10 + r.y), 0x000000u);  // the cell's own frame
    f.grid->focus();
    f.pump();
    EXPECT_EQ(bgrAt(f.window, 10 + r.x, 10 + r.y), cCITheme::theme()->getColor(23) & 0xFFFFFFu);
}
