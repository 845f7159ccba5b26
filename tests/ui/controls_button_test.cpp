// Buttons, check boxes and links: clicks only when released over the control, keys,
// the capture given back when a button is disabled mid-click, fills derived for the
// disabled look, the state pictures of the check box, and snapshots of every state.
#include "controls_testutil.h"
#include "ui/controls/button.h"
#include "ui/controls/checkbox.h"
#include "ui/controls/link.h"

using namespace ctltest;

TEST(Button, ClickReportsOnlyAReleaseOverTheButtonAfterAPressOnIt) {
    struct Case {
        const char* what;
        int px, py, rx, ry;
        bool pressFirst;
        int clicks;
    } cases[] = {
        {"press and release inside", 20, 10, 25, 12, true, 1},
        {"released outside", 20, 10, 150, 80, true, 0},
        {"release without a press", 0, 0, 20, 10, false, 0},
    };
    for (auto& c : cases) {
        cFixture f(200, 100);
        cButtonChild* b = f.add<cButtonChild>(10, 5, 80, 24);
        b->setText("Go");
        f.pump();
        if (c.pressFirst) {
            f.press(c.px, c.py);
            EXPECT_EQ(b->state(), cButtonChild::stPressed) << c.what;
            EXPECT_TRUE(b->hasCapture());
        }
        f.release(c.rx, c.ry);
        EXPECT_EQ(f.rec->count(b, 0), c.clicks) << c.what;
        EXPECT_FALSE(b->pressed()) << c.what;
        EXPECT_FALSE(b->hasCapture()) << c.what;
    }
}

TEST(Button, SpaceAndEnterClickOnlyWhileEnabled) {
    cFixture f(200, 100);
    cButtonChild* b = f.add<cButtonChild>(10, 5, 80, 24);
    b->focus();
    f.key(kKeySpace);
    f.key(kKeyEnter);
    f.key('A');
    EXPECT_EQ(f.rec->count(b, 0), 2);
    b->disable();
    f.key(kKeySpace);
    f.click(20, 10);
    EXPECT_EQ(f.rec->count(b, 0), 2);
}

TEST(Button, DisabledBetweenPressAndReleaseGivesThePointerBack) {
    cFixture f(200, 100);
    cButtonChild* b = f.add<cButtonChild>(10, 5, 80, 24);
    cGenButtonChild* g = f.add<cGenButtonChild>(10, 40, 80, 24);
    elemtest::cLog log;
    elemtest::cProbe* other = new elemtest::cProbe("other", &log);
    f.rec->attach(other, 120, 5, 60, 60);
    f.pump();
    for (cChildElement* e : {(cChildElement*)b, (cChildElement*)g}) {
        int y = e->y() + 5;
        f.press(20, y);
        EXPECT_TRUE(e->hasCapture());
        e->disable();
        f.pump();
        EXPECT_FALSE(e->hasCapture());
        EXPECT_EQ(f.rec->count(e, 0), 0);
        f.release(20, y);
        log.clear();
        f.click(130, 20);
        EXPECT_TRUE(log.has("other:press 10,15")) << "the window still takes pointer input";
        EXPECT_TRUE(log.has("other:release 10,15"));
    }
    EXPECT_EQ(b->state(), cButtonChild::stDisabled);
    EXPECT_FALSE(b->pressed());
    EXPECT_FALSE(g->pressed());
    b->enable();
    EXPECT_EQ(b->state(), cButtonChild::stNormal) << "no pressed look left behind";
}

TEST(Button, ActivatedGenericButtonIgnoresKeysAndClicks) {
    cFixture f(200, 100);
    cGenButtonChild* g = f.add<cGenButtonChild>(10, 5, 80, 24);
    g->focus();
    g->setActivated(true);
    f.key(kKeySpace);
    f.key(kKeyEnter);
    f.click(20, 10);
    EXPECT_EQ(f.rec->count(g, 0), 0);
    g->setActivated(false);
    f.key(kKeyEnter);
    f.click(20, 10);
    EXPECT_EQ(f.rec->count(g, 0), 2);
}

TEST(Button, ColoursOfStatesAndStyles) {
    cFixture f(200, 100);
    cButtonChild* b = f.add<cButtonChild>(10, 5, 60, 24);
    // Raised fill, disabled, white background, disabled fill left to derive: 128 + 127/2.
    b->setBorder(cButtonChild::brdRaisedFill);
    b->setBgColor(0xFFFFFF);
    b->disable();
    f.pump();
    EXPECT_EQ(bgrAt(f.window, 10 + 30, 5 + 20), 0xBFBFBFu);
    // Hot style: no frame at rest, the hover frame under the pointer.
    b->enable();
    b->setBorder(cButtonChild::brdHot);
    b->setBgColor(0x00FF00);
    b->setBorderColors(cButtonChild::stHover, 0x0000FF, 0xFF0000);
    f.pump();
    EXPECT_EQ(bgrAt(f.window, 10, 5), 0x00FF00u);
    f.move(30, 15);
    EXPECT_EQ(bgrAt(f.window, 10, 5), 0x0000FFu);
    EXPECT_EQ(bgrAt(f.window, 10 + 59, 5 + 23), 0xFF0000u);
    // setTextColor(colour): states 0-3 only, and nothing when state 0 already has it.
    b->setDsbTextColor(0x123456);
    b->setTextColor(cButtonChild::stHover, 0x111111);
    b->setTextColor(0x222222);
    EXPECT_EQ(b->textColor(cButtonChild::stDisabled), 0x123456u);
    EXPECT_EQ(b->textColor(cButtonChild::stHover), 0x222222u);
    b->setTextColor(cButtonChild::stHover, 0x333333);
    b->setTextColor(0x222222);
    EXPECT_EQ(b->textColor(cButtonChild::stHover), 0x333333u);
    b->setBorderColors((cButtonChild::eButtonStates)7, 1, 2);  // ignored, no crash
}

// Tab showed nothing where the focus went: a flat button (no border of its own) and a
// hovered one draw the theme's ring while focused; a link is passed over and never framed.
TEST(Button, FocusRingFollowsTheFocus) {
    cFixture f(300, 60);
    cButtonChild* flat = new cButtonChild;
    cButtonChild* plain = new cButtonChild;
    cLinkElement* link = new cLinkElement;
    f.rec->attach(flat, 10, 10, 60, 24);
    f.rec->attach(plain, 100, 10, 60, 24);
    f.rec->attach(link, 190, 10, 60, 20);
    flat->setBorder(cButtonChild::brdFill);
    flat->setBgColor(0xFFFFFF);
    link->setText("Visit");
    f.pump();
    unsigned int ring = cCITheme::theme()->getColor(23);
    auto ringed = [&](int x, int y, int w, int h) {
        return bgrAt(f.window, x, y) == ring && bgrAt(f.window, x + w - 1, y + h - 1) == ring &&
               bgrAt(f.window, x + w / 2, y) == ring && bgrAt(f.window, x, y + h / 2) == ring;
    };
    EXPECT_FALSE(ringed(10, 10, 60, 24));
    flat->focus();
    f.pump();
    EXPECT_TRUE(ringed(10, 10, 60, 24));
    EXPECT_TRUE(ringed(11, 11, 58, 22));  // two pixels wide
    EXPECT_FALSE(ringed(100, 10, 60, 24));
    f.key(kKeyTab);
    EXPECT_TRUE(plain->focused());
    EXPECT_FALSE(ringed(10, 10, 60, 24));
    EXPECT_TRUE(ringed(100, 10, 60, 24));
    f.move(130, 20);  // hovered and focused: the hover look, and still the ring
    EXPECT_EQ(plain->state(), cButtonChild::stHover);
    EXPECT_TRUE(ringed(100, 10, 60, 24));
    f.key(kKeyTab);
    EXPECT_TRUE(flat->focused()) << "Tab stopped on the link";
    EXPECT_FALSE(ringed(190, 10, 60, 20));
}

TEST(Button, SnapshotOfEveryState) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cFixture f(410, 70);
    cButtonChild* b[5];
    for (int i = 0; i < 5; i++) {
        b[i] = new cButtonChild;
        f.rec->attach(b[i], 5 + i * 80, 5, 76, 24);
        b[i]->setText(i == 4 ? "Disabled" : "Button");
        b[i]->image(cButtonChild::stNormal)->refImage(cCITheme::theme()->getPict(77));
    }
    // A caption too wide for its button ends in "...".
    cButtonChild* wide = f.add<cButtonChild>(5, 36, 90, 24);
    wide->setText("A caption far too long");
    wide->setBorder(cButtonChild::brdRaised);
    b[4]->disable();
    f.move(5 + 2 * 80 + 30, 15);
    f.pump();
    f.maker.injectPress(f.window, 5 + 3 * 80 + 30, 15);
    f.pump();
    b[1]->focus();  // the press took the focus; the pressed look stays with the button
    EXPECT_EQ(b[0]->state(), cButtonChild::stNormal);
    EXPECT_EQ(b[1]->state(), cButtonChild::stFocused);
    EXPECT_EQ(b[3]->state(), cButtonChild::stPressed);
    EXPECT_EQ(b[4]->state(), cButtonChild::stDisabled);
    expectSnapshot(f.maker, f.window, "button_states", {0, 0, 410, 70});
    f.release(5 + 3 * 80 + 30, 15);
}

TEST(CheckBox, PicturesFollowStateAndTogglesNotifyOnce) {
    cFixture f(200, 100);
    cCheckBoxChild* c = f.add<cCheckBoxChild>(10, 5, 120, 20);
    c->setText("Option");
    cCITheme* t = cCITheme::theme();
    EXPECT_EQ(c->image(), t->getPict(30));
    c->setChecked(false, true);  // unchanged: no action
    f.pump();
    EXPECT_EQ(f.rec->count(c, 0), 0);
    c->focus();
    EXPECT_EQ(c->image(), t->getPict(32));
    f.key(kKeySpace);
    EXPECT_TRUE(c->checked());
    EXPECT_EQ(c->image(), t->getPict(33));
    f.key(kKeyEnter);  // Enter does nothing to a check box
    EXPECT_TRUE(c->checked());
    f.click(20, 10);
    EXPECT_FALSE(c->checked());
    EXPECT_EQ(f.rec->count(c, 0), 2);
    c->setChecked(true, false);
    c->disable();
    EXPECT_EQ(c->image(), t->getPict(35));
    c->setImage(t->getPict(77));  // outside pictures are ignored
    EXPECT_EQ(c->image(), t->getPict(35));
    EXPECT_EQ(f.rec->count(c, 0), 2);
}

TEST(Link, ReportsEveryLeftReleaseAndNeverTakesTheFocus) {
    cFixture f(200, 60);
    cLinkElement* l = f.add<cLinkElement>(10, 5, 120, 18);
    l->setText("visit the site");
    int token = 5;
    l->setAssociation(&token);
    f.click(20, 10);
    f.release(20, 10);  // a release without a press counts too
    f.maker.injectClick(f.window, 20, 10, kMouseRight);
    f.pump();
    EXPECT_EQ(f.rec->count(l, 0), 2);
    EXPECT_FALSE(l->focused());
    EXPECT_EQ(l->association(), &token);
    f.move(20, 10);
    EXPECT_EQ(f.maker.pointerShape(f.window), cChildElement::eMPHand);
}

TEST(CheckBox, SnapshotOfStatesWithALink) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cFixture f(220, 100);
    const char* names[4] = {"Unchecked", "Checked", "Focused", "Disabled"};
    cCheckBoxChild* c[4];
    for (int i = 0; i < 4; i++) {
        c[i] = new cCheckBoxChild;
        f.rec->attach(c[i], 5, 5 + i * 20, 100, 18);
        c[i]->setText(names[i]);
        c[i]->setTransparent(true);
    }
    c[1]->setChecked(true, false);
    c[2]->setChecked(true, false);
    c[2]->focus();
    c[3]->setChecked(true, false);
    c[3]->disable();
    cLinkElement* l = f.add<cLinkElement>(110, 5, 100, 18);
    l->setTransparent(true);
    l->setText("remove");
    expectSnapshot(f.maker, f.window, "checkbox_link", {0, 0, 220, 100});
}
