// The picture element: zones with inclusive edges, the smaller id winning, one action per
// release, hint zones shown once and closed on leaving, refused empty pictures, and the
// picture drawn with or without its alpha.
#include <vector>

#include "controls_testutil.h"
#include "ui/controls/hint.h"
#include "ui/controls/pictureelement.h"

using namespace ctltest;

namespace {

struct cPictFixture : cFixture {
    cPictureElement* pe = nullptr;
    cPicture pict;
    std::vector<int> zones;
    void build(bool transparent = false) {
        openRecorder(120, 120);
        cHintMaster::install();
        pe = new cPictureElement;
        pe->setTransparent(transparent);
        rec->attach(pe, 10, 10, 100, 100);
        // Half-transparent red.
        ASSERT_TRUE(pict.create(0x80FF0000u, 40, 30));
        rec->inspect = [this](cChildElement* s, cChildElement::cChildAction* a) {
            if (auto* z = dynamic_cast<cPictureElement::cActiveZoneAction*>(a)) zones.push_back(z->zone);
        };
        pump();
    }
};

}  // namespace

TEST(PictureElement, ZonesHaveInclusiveEdgesAndTheSmallerIdWins) {
    cPictFixture f;
    f.build();
    f.pe->setActive(5, 10, 10, 5, 5);
    f.pe->setActive(2, 12, 12, 20, 20);  // overlaps zone 5
    struct {
        int x, y, zone;
    } cases[] = {{10, 10, 5}, {11, 14, 5}, {14, 11, 5}, {15, 10, -1}, {10, 15, -1},
                 {12, 12, 2}, {14, 14, 2}, {31, 31, 2}, {32, 31, -1}, {9, 10, -1}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.x * 100 + c.y);
        f.zones.clear();
        f.move(10 + c.x, 10 + c.y);
        EXPECT_EQ(f.pe->currentZone(), c.zone);
        f.press(10 + c.x, 10 + c.y);
        EXPECT_TRUE(f.zones.empty()) << "a press reports nothing";
        f.release(10 + c.x, 10 + c.y);
        EXPECT_EQ(f.zones, c.zone >= 0 ? std::vector<int>{c.zone} : std::vector<int>{});
    }
    f.zones.clear();
    f.maker.injectClick(f.window, 10 + 12, 10 + 12, kMouseRight);
    f.pump();
    EXPECT_TRUE(f.zones.empty()) << "a right click reports nothing";
}

TEST(PictureElement, HintZonesShowOnceAndCloseOnLeaving) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cPictFixture f;
    f.build();
    f.pe->setHint(1, 0, 0, 20, 20, "first", 0);
    f.pe->setHint(2, 40, 0, 20, 20, "second\nline", 1);
    f.move(15, 15);
    cHintMaster* shown = f.pe->shownHint();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(f.pe->currentHintZone(), 1);
    f.move(16, 16);
    EXPECT_EQ(f.pe->shownHint(), shown) << "moving inside one zone keeps its hint";
    f.move(55, 15);
    EXPECT_EQ(f.pe->currentHintZone(), 2);
    EXPECT_NE(f.pe->shownHint(), nullptr);
    // Changing the hint closes it; it is not shown again while the pointer stays.
    f.pe->setHint(2, "changed", 1);
    EXPECT_EQ(f.pe->shownHint(), nullptr);
    f.move(56, 15);
    EXPECT_EQ(f.pe->shownHint(), nullptr);
    f.move(15, 15);
    EXPECT_NE(f.pe->shownHint(), nullptr);
    f.move(40, 80);  // in no zone
    EXPECT_EQ(f.pe->shownHint(), nullptr);
    EXPECT_EQ(f.pe->currentHintZone(), -1);
}

TEST(PictureElement, DrawsWithOrWithoutAlphaAndRefusesEmptyPictures) {
    for (bool transparent : {false, true}) {
        SCOPED_TRACE(transparent);
        cPictFixture f;
        f.build(transparent);
        cPicture empty;
        EXPECT_FALSE(f.pe->refPict(&empty));
        EXPECT_FALSE(f.pe->refPict(nullptr));
        ASSERT_TRUE(f.pe->refPict(&f.pict));
        EXPECT_FALSE(f.pe->refPict(&empty));
        EXPECT_EQ(f.pe->picture(), &f.pict) << "a refused picture keeps the shown one";
        f.pe->repaint();
        f.pump();
        unsigned int bg = bgrAt(f.window, 10 + 60, 10 + 60);
        unsigned int p = bgrAt(f.window, 10 + 5, 10 + 5);
        if (!transparent) {
            EXPECT_EQ(p, 0x0000FFu);
        } else {
            // Red at half alpha over the recorder's background.
            int r = p & 0xFF, b = (p >> 16) & 0xFF;
            EXPECT_NEAR(r, (255 + (int)(bg & 0xFF)) / 2, 2);
            EXPECT_NEAR(b, (int)((bg >> 16) & 0xFF) / 2, 2);
        }
        // Pixels as a decoder keeps them (bottom-up): the first row given shows at the bottom.
        std::vector<unsigned int> px(4 * 2, 0xFF00FF00u);
        for (int x = 0; x < 4; x++) px[x] = 0xFF0000FFu;
        ASSERT_TRUE(f.pe->setPict(px.data(), 4, 2));
        f.pe->repaint();
        f.pump();
        EXPECT_EQ(bgrAt(f.window, 10 + 1, 10 + 1), 0xFF0000u);
        EXPECT_EQ(bgrAt(f.window, 10 + 1, 10 + 0), 0x00FF00u);
        EXPECT_FALSE(f.pe->setPict((const unsigned char*)"junk", 4));
        EXPECT_EQ(f.pe->picture(), nullptr);
    }
}
