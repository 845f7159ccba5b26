// Focus and input through the headless window maker: tab and arrow order, focus events,
// capture, double clicks, disabled elements, form keys, characters, hover, wheel.
#include "element_testutil.h"
#include "ui/panelchild.h"

using namespace elemtest;

namespace {

// R (200 x 100) holds tab stops A, B, C (disabled), D (hidden) on the top row and a panel
// P whose tab stops E and F sit below; G is a group of arrow tab stops.
struct cInputTree {
    cLog log;
    cWindowFixture f;
    cProbe *R, *A, *B, *C, *D, *P, *E, *F;
    cProbe* G[3];
    cProbe* group;

    cInputTree() {
        R = new cProbe("R", &log, false, false);
        A = add(R, "A", 10, 10, true);
        B = add(R, "B", 50, 10, true);
        C = add(R, "C", 90, 10, true);
        D = add(R, "D", 130, 10, true);
        P = new cProbe("P", &log, false, true);
        R->attach(P, 0, 50, 100, 50);
        E = add(P, "E", 10, 10, true);
        F = add(P, "F", 50, 10, true);
        group = new cProbe("Grp", &log, false, false);
        R->attach(group, 100, 50, 100, 50);
        for (int i = 0; i < 3; i++) {
            G[i] = add(group, ("G" + std::to_string(i)).c_str(), 5 + 30 * i, 10, false);
            G[i]->setArrowTabStop(true);
        }
        C->disable(false);
        D->hide(false);
        f.open(R, 200, 100);
        f.pump();
        log.clear();
    }
    cProbe* add(cChildElement* parent, const char* name, int x, int y, bool tab) {
        cProbe* p = new cProbe(name, &log, tab, true);
        parent->attach(p, x, y, 20, 20);
        return p;
    }
    std::string focusName() {
        cChildElement* e = R->getFocused();
        cProbe* p = dynamic_cast<cProbe*>(e);
        return p ? p->myName : "-";
    }
};

}  // namespace

TEST(ElementInput, TabOrderFollowsTheTreeAndSkipsHiddenAndDisabled) {
    cInputTree t;
    EXPECT_EQ(t.focusName(), "A");  // the first tab stop has it once the window is up
    struct Step {
        int key;
        unsigned int mods;
        const char* want;
    } steps[] = {
        {kKeyTab, 0, "B"}, {kKeyTab, 0, "E"}, {kKeyTab, 0, "F"}, {kKeyTab, 0, "A"},
        {kKeyTab, kModShift, "F"}, {kKeyTab, kModShift, "E"}, {kKeyTab, kModShift, "B"},
        {kKeyTab, kModCtrl, "B"},  // Ctrl+Tab is not navigation
    };
    for (auto& s : steps) {
        t.f.key(s.key, s.mods);
        EXPECT_EQ(t.focusName(), s.want);
    }
    // Enabling and showing put C and D back in the order.
    t.C->enable();
    t.D->show();
    t.f.key(kKeyTab);
    EXPECT_EQ(t.focusName(), "C");
    t.f.key(kKeyTab);
    EXPECT_EQ(t.focusName(), "D");
}

TEST(ElementInput, FocusEventsCarryTheOriginAndQueueATypeOneAction) {
    cInputTree t;
    t.f.click(55, 15);  // B
    EXPECT_EQ(t.focusName(), "B");
    EXPECT_TRUE(t.log.has("A:lost"));
    EXPECT_TRUE(t.log.has("B:focus 0"));
    EXPECT_TRUE(t.log.has("R:act 1 from B"));  // bubbled up on a later turn
    t.log.clear();
    t.f.key(kKeyTab);
    EXPECT_TRUE(t.log.has("E:focus 1"));
    t.log.clear();
    t.A->focus();
    EXPECT_TRUE(t.log.has("A:focus 2"));
    EXPECT_TRUE(t.log.has("E:lost"));
    EXPECT_FALSE(t.log.has("R:act 1 from A"));  // not synchronous
    t.f.pump();
    EXPECT_TRUE(t.log.has("R:act 1 from A"));
    EXPECT_TRUE(t.A->focused());
    EXPECT_FALSE(t.R->focused());
    // A click on a panel that takes the focus, then on its child: the panel is not told.
    t.f.click(5, 95);  // P's empty corner
    EXPECT_EQ(t.focusName(), "P");
    t.log.clear();
    t.f.click(15, 65);  // E inside P
    EXPECT_EQ(t.focusName(), "E");
    EXPECT_FALSE(t.log.has("P:lost"));
    // Hiding the focused element takes the focus away.
    t.log.clear();
    t.E->hide();
    EXPECT_TRUE(t.log.has("E:lost"));
    EXPECT_EQ(t.R->getFocused(), nullptr);
}

TEST(ElementInput, ArrowKeysWalkArrowTabStopsUnlessCaptured) {
    struct Case {
        bool cyclic;
        int captureIndex;  // the element that wants the arrows itself (-1: none)
        std::vector<int> keys;
        std::vector<const char*> want;
    } cases[] = {
        {false, -1, {kKeyRight, kKeyDown, kKeyRight, kKeyLeft, kKeyUp, kKeyUp}, {"G1", "G2", "G2", "G1", "G0", "G0"}},
        {true, -1, {kKeyLeft, kKeyRight, kKeyDown}, {"G2", "G0", "G1"}},
        {false, 1, {kKeyRight, kKeyRight, kKeyLeft}, {"G1", "G1", "G1"}},
    };
    for (auto& c : cases) {
        cInputTree t;
        t.group->myCyclic = c.cyclic;
        if (c.captureIndex >= 0) t.G[c.captureIndex]->myCaptureArrows = true;
        t.G[0]->focus();
        for (size_t i = 0; i < c.keys.size(); i++) {
            t.f.key(c.keys[i]);
            EXPECT_EQ(t.focusName(), c.want[i]) << "step " << i << (c.cyclic ? " cyclic" : "");
        }
    }
    // With Ctrl the arrow is an ordinary key.
    cInputTree t;
    t.G[0]->focus();
    t.f.key(kKeyRight, kModCtrl);
    EXPECT_EQ(t.focusName(), "G0");
    EXPECT_TRUE(t.log.has("G0:key 339C"));
}

TEST(ElementInput, CaptureKeepsThePointerAndAFreeReleaseGoesToTheElementBelow) {
    class cGrabber : public cProbe {
    public:
        using cProbe::cProbe;
        void onMouseButton(int x, int y, int button, bool down) override {
            cProbe::onMouseButton(x, y, button, down);
            if (down)
                capturePointer();
            else
                releasePointer();
        }
    };
    cLog log;
    cWindowFixture f;
    cProbe* root = new cProbe("R", &log, false, false);
    cGrabber* a = new cGrabber("A", &log);
    cProbe* b = new cProbe("B", &log);
    root->attach(a, 10, 10, 20, 20);
    root->attach(b, 100, 10, 20, 20);
    f.open(root, 200, 100);
    f.maker.injectPress(f.window, 15, 15);
    f.maker.injectMove(f.window, 105, 15);
    f.maker.injectRelease(f.window, 105, 15);
    f.pump();
    EXPECT_TRUE(log.has("A:press 5,5"));
    EXPECT_TRUE(log.has("A:release 95,5"));  // outside A, in A's coordinates
    EXPECT_EQ(log.countPrefix("B:"), 0);
    EXPECT_FALSE(a->hasCapture());
    // No capture: the release belongs to whatever is under the pointer.
    log.clear();
    f.maker.injectPress(f.window, 105, 15);
    f.maker.injectRelease(f.window, 15, 15);
    f.pump();
    EXPECT_TRUE(log.has("B:press 5,5"));
    EXPECT_TRUE(log.has("A:release 5,5"));
}

TEST(ElementInput, DoubleClickArrivesOnTheSecondPressOnly) {
    cLog log;
    cWindowFixture f;
    cProbe* root = new cProbe("R", &log, false, false);
    cProbe* a = new cProbe("A", &log);
    root->attach(a, 10, 10, 20, 20);
    f.open(root, 100, 100);
    for (int i = 0; i < 4; i++) f.maker.injectClick(f.window, 12, 13);
    f.pump();
    std::vector<std::string> want = {"A:focus 0",    "A:press 2,3", "A:release 2,3", "A:press 2,3",
                                     "A:dbl 2,3",    "A:release 2,3", "A:press 2,3", "A:release 2,3",
                                     "A:press 2,3",  "A:dbl 2,3",   "A:release 2,3"};
    std::vector<std::string> got;
    for (auto& l : log.lines)
        if (l.compare(0, 2, "A:") == 0 && l.find("over") == std::string::npos && l.find("act") == std::string::npos)
            got.push_back(l);
    EXPECT_EQ(got, want);
}

TEST(ElementInput, DisabledElementsGetNoPointerOrKeyInput) {
    cInputTree t;
    t.f.click(95, 15);  // C, disabled
    EXPECT_EQ(t.log.countPrefix("C:"), 0);
    EXPECT_EQ(t.focusName(), "A");
    // A disabled parent shuts out its children too.
    t.P->disable();
    t.f.click(15, 65);
    EXPECT_EQ(t.log.countPrefix("E:"), 0);
    t.P->enable();
    // The focused element, disabled, no longer sees keys; its parent's onKey does.
    t.A->disable();
    t.log.clear();
    t.f.key('X');
    EXPECT_EQ(t.log.countPrefix("A:key"), 0);
    EXPECT_TRUE(t.log.has("R:key 88"));
    t.f.maker.injectChar(t.f.window, 'x');
    t.f.pump();
    EXPECT_EQ(t.log.countPrefix("A:char"), 0);
}

TEST(ElementInput, EnterAndEscapeReachTheFormBeforeTheFocusedChild) {
    class cForm : public cCustomForm {
    public:
        cLog* log;
        bool accept = false, cancel = false;
        bool onFormAccept() override {
            log->add("form:accept");
            return accept;
        }
        bool onFormCancel() override {
            log->add("form:cancel");
            return cancel;
        }
    };
    struct Case {
        int key;
        unsigned int mods;
        bool formTakes;
        std::vector<std::string> want;
    } cases[] = {
        {kKeyEnter, 0, true, {"form:accept"}},
        {kKeyEnter, 0, false, {"form:accept", "K:key 397"}},
        {kKeyEscape, 0, true, {"form:cancel"}},
        {kKeyEscape, 0, false, {"form:cancel", "K:key 283"}},
        {kKeyEnter, kModShift, true, {"K:key 397S"}},
        {kKeyEscape, kModAlt, true, {"K:key 283A"}},
        {'Q', 0, true, {"K:key 81"}},
    };
    for (auto& c : cases) {
        cLog log;
        cWindowFixture f;
        cForm* form = new cForm;
        form->log = &log;
        form->accept = form->cancel = c.formTakes;
        cProbe* k = new cProbe("K", &log, true);
        k->myTakeKeys = true;
        form->clientArea()->attach(k, 5, 5, 20, 20);
        f.open(form, 100, 60);
        log.clear();
        f.key(c.key, c.mods);
        std::vector<std::string> got;
        for (auto& l : log.lines)
            if (l.find("act") == std::string::npos) got.push_back(l);
        EXPECT_EQ(got, c.want) << "key " << c.key << " mods " << c.mods;
    }
}

TEST(ElementInput, CharactersNeverIncludeControlCodes) {
    cInputTree t;
    for (unsigned int cp : {8u, 9u, 10u, 13u, 27u, 127u, 0x85u, 97u, 0x416u, 0x1F600u}) t.f.maker.injectChar(t.f.window, cp);
    t.f.pump();
    std::vector<std::string> got;
    for (auto& l : t.log.lines)
        if (l.compare(0, 7, "A:char ") == 0) got.push_back(l);
    EXPECT_EQ(got, (std::vector<std::string>{"A:char 97", "A:char 1046", "A:char 128512"}));
}

TEST(ElementInput, HoverIsTrackedAndThePointerShapeFollows) {
    cInputTree t;
    t.B->setPointer(cChildElement::eMPHand);
    t.f.maker.injectMove(t.f.window, 15, 15);
    t.f.pump();
    EXPECT_TRUE(t.log.has("A:over"));
    EXPECT_EQ(t.f.maker.pointerShape(t.f.window), 0);
    t.f.maker.injectMove(t.f.window, 55, 15);
    t.f.pump();
    EXPECT_TRUE(t.log.has("A:left"));
    EXPECT_TRUE(t.log.has("B:over"));
    EXPECT_EQ(t.f.maker.pointerShape(t.f.window), 3);
    // Over a disabled element nothing is hovered.
    t.log.clear();
    t.f.maker.injectMove(t.f.window, 95, 15);
    t.f.pump();
    EXPECT_TRUE(t.log.has("B:left"));
    EXPECT_EQ(t.log.countPrefix("C:"), 0);
}

TEST(ElementInput, WheelGoesUpUntilSomeoneConsumesIt) {
    cInputTree t;
    t.P->myTakeWheel = true;
    t.f.maker.injectWheel(t.f.window, 12, 63, true, false, 3);
    t.f.maker.injectWheel(t.f.window, 12, 63, false, true, 1);
    t.f.pump();
    EXPECT_TRUE(t.log.has("E:wheel 2,3 up 3"));
    EXPECT_TRUE(t.log.has("P:wheel 12,13 up 3"));  // in P's coordinates
    EXPECT_TRUE(t.log.has("P:wheel 12,13 down h 1"));
    EXPECT_EQ(t.log.countPrefix("R:wheel"), 0);
}

TEST(ElementInput, MenuKeyQueuesAContextRequest) {
    cInputTree t;
    t.f.key(kKeyMenu);
    EXPECT_TRUE(t.log.has("A:key 359"));
    EXPECT_TRUE(t.log.has("A:act 2 from A"));
    EXPECT_TRUE(t.log.has("R:act 2 from A"));
}
