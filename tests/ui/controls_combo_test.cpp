// The combo box: choosing by keys in index order, by the popup list (click and keys),
// the pure-choice click, item bookkeeping, the drop height, and a snapshot.
#include <functional>

#include "controls_testutil.h"
#include "ui/controls/combobox.h"

using namespace ctltest;

namespace {

// A combo holding five, two and nine, its modal runs answered by `script`.
struct cComboFixture : cFixture {
    cComboBoxChild* combo = nullptr;
    cScript script;
    cComboFixture() {
        openRecorder(220, 60);
        combo = new cComboBoxChild;
        rec->attach(combo, 10, 10, 150, 22);
        combo->setItem(5, "five", nullptr, -1);
        combo->setItem(2, "two", nullptr, -1);
        combo->setItem(9, "nine", nullptr, -1);
        maker.setModalScript(&script);
        pump();
    }
};

}  // namespace

TEST(Combo, KeysStepThroughItemsInIndexOrder) {
    cComboFixture f;
    f.combo->focus();
    f.key(kKeyDown);
    EXPECT_EQ(f.combo->selected(), -1) << "nothing selected: the key changes nothing";
    ASSERT_TRUE(f.combo->select(5, false));
    struct Step {
        int key;
        int want;
        const char* text;
    } steps[] = {{kKeyUp, 2, "two"}, {kKeyUp, 2, "two"}, {kKeyDown, 5, "five"}, {kKeyDown, 9, "nine"}, {kKeyDown, 9, "nine"}};
    for (auto& s : steps) {
        f.key(s.key);
        EXPECT_EQ(f.combo->selected(), s.want);
        EXPECT_STREQ(f.combo->text(), s.text);
    }
    EXPECT_EQ(f.rec->count(f.combo, 6), 3);
    // The selected item goes away: the text stays, the next step clears the choice.
    EXPECT_TRUE(f.combo->remove(9));
    EXPECT_FALSE(f.combo->remove(9));
    EXPECT_STREQ(f.combo->text(), "nine");
    f.key(kKeyUp);
    EXPECT_EQ(f.combo->selected(), -1);
    EXPECT_STREQ(f.combo->text(), "");
    EXPECT_EQ(f.rec->count(f.combo, 6), 4);
}

TEST(Combo, ChoosingFromThePopupByClickAndByKeys) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    struct Case {
        const char* what;
        std::function<void(cComboFixture&)> open;
        std::function<void(cHeadlessWindowMaker*, cPlatformWindow*)> answer;
        int want;
    } cases[] = {
        {"F4, then a click on nine", [](cComboFixture& f) { f.key(kKeyF4); },
         [](cHeadlessWindowMaker* m, cPlatformWindow* w) {
             cButtonChild* b = rootOf<cPopupMaster>(w)->buttonOf(9);
             m->injectClick(w, b->x() + 4, b->y() + 4);
         },
         9},
        {"Alt+Down, then Enter on the preselected", [](cComboFixture& f) { f.key(kKeyDown, kModAlt); },
         [](cHeadlessWindowMaker* m, cPlatformWindow* w) { m->injectKey(w, kKeyEnter); }, 5},
        {"the drop button, then Escape", [](cComboFixture& f) { f.click(10 + 150 - 8, 20); },
         [](cHeadlessWindowMaker* m, cPlatformWindow* w) { m->injectKey(w, kKeyEscape); }, 5},
        {"the drop button, then Tab and Space", [](cComboFixture& f) { f.click(10 + 150 - 8, 20); },
         [](cHeadlessWindowMaker* m, cPlatformWindow* w) {
             m->injectKey(w, kKeyTab);
             m->injectKey(w, kKeySpace);
         },
         9},
    };
    for (auto& c : cases) {
        cComboFixture f;
        f.combo->select(5, false);
        f.combo->focus();
        sPoint listAt = {-1, -1};
        f.script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* w) {
            w->screenPos(listAt);
            c.answer(m, w);
        };
        c.open(f);
        f.pump();
        EXPECT_EQ(f.script.runs, 1) << c.what;
        EXPECT_EQ(f.combo->selected(), c.want) << c.what;
        EXPECT_STREQ(f.combo->text(), f.combo->text(c.want)) << c.what;
        sPoint comboAt;
        f.combo->absPos(comboAt);
        EXPECT_EQ(listAt.x, comboAt.x) << c.what;
        EXPECT_EQ(listAt.y, comboAt.y + 22) << c.what << ": under the combo";
    }
}

TEST(Combo, PureChoiceOpensOnAClickInsideOnly) {
    cComboFixture f;
    f.combo->allowEdit(false);
    f.script.fn = [](cHeadlessWindowMaker* m, cPlatformWindow* w) { m->injectKey(w, kKeyEscape); };
    f.press(30, 20);
    f.release(200, 50);
    EXPECT_EQ(f.script.runs, 0) << "pressed inside, released outside";
    f.release(30, 20);
    EXPECT_EQ(f.script.runs, 0) << "a release alone does nothing";
    f.click(30, 20);
    EXPECT_EQ(f.script.runs, 1);
    f.maker.injectText(f.window, "typed");
    f.pump();
    EXPECT_STREQ(f.combo->text(), "") << "read-only";
}

TEST(Combo, ItemsTextsAndTheDropHeight) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cComboFixture f;
    int token;
    EXPECT_FALSE(f.combo->setItem(-1, "x", nullptr, -1));
    EXPECT_TRUE(f.combo->setItem(2, "deux", &token, -1));
    EXPECT_EQ(f.combo->association(2), &token);
    EXPECT_EQ(f.combo->association(3), nullptr);
    EXPECT_EQ(f.combo->text(3), nullptr);
    f.combo->select(2, false);
    EXPECT_STREQ(f.combo->text(), "deux");
    f.combo->setItem(2, "zwei", nullptr, -1);
    EXPECT_STREQ(f.combo->text(), "zwei") << "the selected item's new text shows";
    f.combo->setItem(5, "cinq", nullptr, -1);
    EXPECT_STREQ(f.combo->text(), "zwei");
    EXPECT_FALSE(f.combo->select(77, true));
    EXPECT_EQ(f.combo->selected(), 2);
    f.pump();
    EXPECT_EQ(f.rec->count(f.combo, 6), 0);
    EXPECT_TRUE(f.combo->select(5, true));
    f.pump();
    EXPECT_EQ(f.rec->count(f.combo, 6), 1);
    sSize s;
    f.combo->dropSize(s);
    EXPECT_LT(s.cy, 100);
    for (int i = 10; i < 30; i++) f.combo->setItem(i, "more", nullptr, -1);
    f.combo->dropSize(s);
    EXPECT_EQ(s.cy, 100);
    EXPECT_EQ(s.cx, 150);
    f.combo->clear();
    EXPECT_EQ(f.combo->selected(), -1);
    EXPECT_EQ(f.combo->text(5), nullptr);
}

TEST(Combo, EditActionsArePassedOn) {
    cComboFixture f;
    f.combo->setText("typed");
    f.combo->focus();
    f.key(kKeyEnter);
    f.key(kKeyEscape);  // select-on-focus took everything: this Esc only clears it
    f.key(kKeyEscape);
    EXPECT_EQ(f.rec->count(f.combo, 6), 1);
    EXPECT_EQ(f.rec->count(f.combo, 7), 1);
}

TEST(Combo, Snapshot) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cComboFixture f;
    f.combo->select(2, false);
    cComboBoxChild* second = f.add<cComboBoxChild>(10, 34, 150, 22);
    second->allowEdit(false);
    second->setBanner("Choose...");
    f.pump();
    expectSnapshot(f.maker, f.window, "combo", {0, 0, 220, 60});
}

TEST(Combo, TabReachesTheEditAndLeavesItBothWays) {
    cComboFixture f;
    elemtest::cProbe* before = new elemtest::cProbe("before", nullptr, true, true);
    elemtest::cProbe* after = new elemtest::cProbe("after", nullptr, true, true);
    f.rec->attach(before, 170, 5, 10, 10);
    f.rec->attach(after, 190, 5, 10, 10);
    // Tree order: combo (edit inside), before, after.
    after->focus();
    f.key(kKeyTab);  // wraps to the first stop: the edit
    EXPECT_TRUE(f.combo->edit()->focused());
    f.maker.injectText(f.window, "typed");
    f.pump();
    EXPECT_STREQ(f.combo->text(), "typed");
    f.key(kKeyTab);
    EXPECT_TRUE(before->focused());
    f.key(kKeyTab, kModShift);
    EXPECT_TRUE(f.combo->edit()->focused());
    f.key(kKeyTab, kModShift);
    EXPECT_TRUE(after->focused()) << "Shift+Tab leaves the combo";
}
