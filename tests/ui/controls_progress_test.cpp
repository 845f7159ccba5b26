// The progress bar: the animation thread's slides and fades seen through the actions it
// posts, setPos never blocking on a bar whose thread is not running, the blend of the
// passive colour in the right byte order, and snapshots of the passive and active looks.
#include <chrono>
#include <functional>
#include <thread>

#include "controls_testutil.h"
#include "ui/controls/progressbar.h"

using namespace ctltest;

namespace {

// Records what the animation shows, in order.
class cLoggedBar : public cProgressChild {
public:
    std::vector<int> positions;
    std::vector<double> opacities;
    bool onAction(cChildElement* sender, cChildAction* action) override {
        if (sender == this) {
            if (auto* p = dynamic_cast<cSetProgressRequestAction*>(action)) positions.push_back(p->pos);
            if (auto* o = dynamic_cast<cSetOpacityRequestAction*>(action)) opacities.push_back(o->opacity);
        }
        return cProgressChild::onAction(sender, action);
    }
};

}  // namespace

TEST(ProgressBar, SlidesToThePositionAndFadesInAndOut) {
    cFixture f(220, 40);
    cLoggedBar* bar = f.add<cLoggedBar>(10, 10, 200, 18);
    bar->setRange(100);
    bar->setPos(50, false);
    EXPECT_EQ(bar->getPos(), 0) << "the animation has not finished yet";
    ASSERT_TRUE(f.pumpUntil([&] { return bar->getPos() == 50 && bar->shownPos() == 50; }));
    ASSERT_FALSE(bar->positions.empty());
    EXPECT_EQ(bar->positions.front(), 0);
    for (size_t i = 1; i < bar->positions.size(); i++) EXPECT_LE(bar->positions[i - 1], bar->positions[i]);
    EXPECT_EQ(bar->shownOpacity(), 0.0);
    // A lower position slides up from 0, not down from 50.
    bar->positions.clear();
    bar->setPos(20, false);
    ASSERT_TRUE(f.pumpUntil([&] { return bar->getPos() == 20; }));
    f.pumpUntil([&] { return bar->shownPos() == 20; });
    ASSERT_GE(bar->positions.size(), 2u);
    EXPECT_EQ(bar->positions.front(), 0);
    EXPECT_EQ(bar->positions.back(), 20);
    // An immediate stop fades out without filling the bar first.
    bar->positions.clear();
    bar->stopProgress(true);
    ASSERT_TRUE(f.pumpUntil([&] { return bar->shownOpacity() == 1.0; }));
    for (int p : bar->positions) EXPECT_NE(p, 100);
    // Passive look: the plain background with its frame.
    f.pump();
    EXPECT_EQ(bgrAt(f.window, 100, 19), cCITheme::theme()->getColor(14));
    EXPECT_EQ(bgrAt(f.window, 10, 10), cCITheme::theme()->getColor(21));
}

TEST(ProgressBar, SetPosDoesNotWaitWhenTheThreadIsNotRunning) {
    // Never attached: no animation thread. Before the fix setPos polled for ever.
    cProgressChild bar;
    bar.setRange(10);
    bar.startProgress();
    bar.setPos(5, false);
    bar.stopProgress(false);
    EXPECT_FALSE(bar.animating());
    EXPECT_EQ(bar.getPos(), 0);
}

TEST(ProgressBar, PassiveColourIsBlendedInPixelOrder) {
    cFixture f(220, 40);
    cProgressChild* bar = f.add<cProgressChild>(10, 10, 100, 12);
    bar->setRange(100);
    bar->setPassiveBgColor(0x0000FF, false);  // pure red as 0x00BBGGRR
    // At the passive end (opacity 1.0) every inner pixel is the passive colour: red.
    EXPECT_EQ(bar->barPicture()->raw()[5 * 100 + 50] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(bar->barPicture()->raw()[0] & 0xFFFFFF, 0xF1D5C6u);  // the frame
    // Fully active and half filled: the green fill left of the middle, the grey back right.
    bar->setPos(50, true);
    ASSERT_TRUE(f.pumpUntil([&] { return bar->shownPos() == 50 && bar->shownOpacity() == 0.0; }));
    unsigned int fillPx = bar->barPicture()->raw()[5 * 100 + 20] & 0xFFFFFF;
    unsigned int backPx = bar->barPicture()->raw()[5 * 100 + 80] & 0xFFFFFF;
    EXPECT_GT((fillPx >> 8) & 0xFF, (fillPx >> 16) & 0xFF) << "green dominates the fill";
    EXPECT_NEAR((int)((backPx >> 16) & 0xFF), (int)((backPx >> 8) & 0xFF), 8) << "a grey back";
}

TEST(ProgressBar, RangeZeroAndTinyBarsShowNoFill) {
    cFixture f(220, 40);
    cProgressChild* bar = f.add<cProgressChild>(10, 10, 100, 12);
    bar->setRange(0);  // refused
    bar->setRange(-5);
    EXPECT_EQ(bar->range(), 0);
    bar->setPos(50, true);  // clamped to the range 0
    ASSERT_TRUE(f.pumpUntil([&] { return bar->shownOpacity() == 0.0; }));
    unsigned int px = bar->barPicture()->raw()[5 * 100 + 10] & 0xFFFFFF;
    unsigned int back = bar->barPicture()->raw()[5 * 100 + 90] & 0xFFFFFF;
    EXPECT_EQ(px, back) << "no filled part";
    cProgressChild* tiny = f.add<cProgressChild>(150, 10, 2, 2);
    tiny->setRange(10);
    tiny->setPos(10, true);
    f.pumpUntil([&] { return tiny->shownPos() == 10; });
    EXPECT_EQ(bgrAt(f.window, 150, 10), cCITheme::theme()->getColor(21)) << "passive look";
}

TEST(ProgressBar, SnapshotPassiveAndActive) {
    cFixture f(220, 50);
    cProgressChild* a = new cProgressChild;
    cProgressChild* b = new cProgressChild;
    f.rec->attach(a, 10, 5, 200, 18);
    f.rec->attach(b, 10, 27, 200, 18);
    b->setRange(1000);
    b->setPos(600, true);
    ASSERT_TRUE(f.pumpUntil([&] { return b->shownPos() == 600 && b->shownOpacity() == 0.0; }));
    expectSnapshot(f.maker, f.window, "progress_passive_active", {0, 0, 220, 50});
}
