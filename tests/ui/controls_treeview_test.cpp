// The tree view: glyph kinds and indentation, expand and collapse by glyph and keys,
// keyboard navigation against the visible order, a lazily filled branch that turns out
// empty, change brackets, removal that leaves no stale map entries, the unfocused look.
#include <string>
#include <vector>

#include "controls_testutil.h"
#include "ui/controls/treeview.h"

using namespace ctltest;
typedef cTreeViewChild::cTreeViewItem tItem;

namespace {

int gLazy;

// Items tagged lazy count as branches until read; reading adds nothing.
class cLazyView : public cTreeViewChild {
public:
    int reads = 0;
    bool isSub(cTreeViewItem* item) override { return item->data == &gLazy || cTreeViewChild::isSub(item); }
    void processSubRead(cTreeViewItem* item) override { reads++; }
};

tItem* make(const char* text, void* data = nullptr) {
    tItem* i = new tItem;
    i->setText(text);
    i->data = data;
    return i;
}

struct cTreeFixture : cFixture {
    cLazyView* view = nullptr;
    tItem *A, *A1, *A2, *B, *L;
    std::vector<std::pair<int, tItem*>> acts;
    cTreeFixture() {
        openRecorder(260, 220);
        view = new cLazyView;
        rec->attach(view, 10, 10, 240, 200);
        A = make("A");
        A1 = make("A1");
        A2 = make("A2");
        B = make("B");
        L = make("Lazy", &gLazy);
        view->startChanges();
        view->storeUnder(nullptr, A);
        view->storeUnder(A, A1);
        view->storeUnder(A, A2);
        view->storeUnder(nullptr, B);
        view->storeUnder(nullptr, L);
        view->endChanges();
        rec->inspect = [this](cChildElement* s, cChildElement::cChildAction* a) {
            auto* t = dynamic_cast<cTreeViewChild::cTreeItemAction*>(a);
            if (s == view && t) acts.push_back({a->type, t->item});
        };
        pump();
    }
    const char* sel() { return view->selected() ? view->selected()->text() : "-"; }
    int count(int type) {
        int n = 0;
        for (auto& a : acts) n += a.first == type;
        return n;
    }
};

}  // namespace

TEST(TreeView, GlyphKindsIndentationAndOneLayoutPerBracket) {
    cTreeFixture f;
    EXPECT_EQ(f.view->buildCount(), 1);
    EXPECT_EQ(f.A->control->kind(), cTreeViewControlElement::ckExpanded);
    EXPECT_EQ(f.A1->control->kind(), cTreeViewControlElement::ckLine);
    EXPECT_EQ(f.A2->control->kind(), cTreeViewControlElement::ckLast);
    EXPECT_EQ(f.B->control->kind(), cTreeViewControlElement::ckLine);
    EXPECT_EQ(f.L->control->kind(), cTreeViewControlElement::ckExpanded);
    EXPECT_EQ(f.A->element->x(), 17);
    EXPECT_EQ(f.A1->element->x(), 33);
    EXPECT_EQ(f.A1->control->x(), 17);
    EXPECT_EQ(f.A1->element->y(), f.A->element->y() + f.A->element->height());
    EXPECT_EQ(f.A->control->pointerKind(), cChildElement::eMPHand);
    EXPECT_EQ(f.A1->control->pointerKind(), cChildElement::eMPArrow);
    EXPECT_EQ(f.view->find(&gLazy), f.L);
    cTreeViewChild empty;
    EXPECT_FALSE(empty.clear());
    EXPECT_FALSE(f.view->storeUnder(nullptr, nullptr));
}

TEST(TreeView, KeysWalkTheVisibleOrder) {
    cTreeFixture f;
    f.view->focus();
    f.pump();
    EXPECT_STREQ(f.sel(), "A");  // the view hands its focus to the first root item
    struct sStep {
        int key;
        unsigned mods;
        const char* want;
    } steps[] = {
        {kKeyDown, 0, "A1"},  {kKeyDown, 0, "A2"}, {kKeyDown, 0, "B"},     {kKeyUp, 0, "A2"},
        {kKeyLeft, 0, "A"},   {kKeyLeft, 0, "A"},  {kKeyDown, kModCtrl, "B"}, {kKeyUp, kModCtrl, "A"},
        {kKeyRight, 0, "A1"}, {kKeyRight, 0, "A1"}, {kKeyDown, kModCtrl, "A2"}, {kKeyDown, kModCtrl, "A2"},
    };
    for (auto& s : steps) {
        f.key(s.key, s.mods);
        EXPECT_STREQ(f.sel(), s.want) << "key " << s.key << " mods " << s.mods;
    }
    EXPECT_GE(f.count(7), 6);
    // Collapsed: A's children hide, the glyph shows expand, Down skips into B, Up from B
    // lands on A.
    f.key(kKeyLeft);
    ASSERT_TRUE(f.view->collapse(f.A, true));
    f.pump();
    EXPECT_FALSE(f.A1->element->visible_child());
    EXPECT_EQ(f.A->control->kind(), cTreeViewControlElement::ckCollapsed);
    f.key(kKeyDown);
    EXPECT_STREQ(f.sel(), "B");
    f.key(kKeyUp);
    EXPECT_STREQ(f.sel(), "A");
    // Space activates; "+" expands.
    f.acts.clear();
    f.key(kKeySpace);
    EXPECT_EQ(f.count(6), 1);
    f.maker.injectChar(f.window, '+');
    f.pump();
    EXPECT_FALSE(f.A->collapsed);
    EXPECT_TRUE(f.A1->element->visible_child());
    EXPECT_EQ(f.count(9), 1);
}

TEST(TreeView, GlyphClicksToggleButAnEmptyLazyBranchStaysPut) {
    cTreeFixture f;
    auto clickGlyph = [&](tItem* i) {
        sRect r;
        ASSERT_TRUE(f.rec->childRect(i->control, &r));
        f.press(r.x + r.w / 2, r.y + r.h / 2);
        f.release(r.x + r.w / 2, r.y + r.h / 2);
    };
    clickGlyph(f.A);
    EXPECT_TRUE(f.A->collapsed);
    EXPECT_FALSE(f.A2->element->visible_child());
    EXPECT_STREQ(f.sel(), "A");
    EXPECT_EQ(f.count(9), 1);
    clickGlyph(f.A);
    EXPECT_FALSE(f.A->collapsed);
    // The lazy item reads its children, finds none, and nothing changes.
    int builds = f.view->buildCount(), reads = f.view->reads;
    clickGlyph(f.L);
    EXPECT_EQ(f.view->reads, reads + 1);
    EXPECT_FALSE(f.L->collapsed);
    EXPECT_EQ(f.view->buildCount(), builds);
    EXPECT_EQ(f.count(9), 2);
    // Leaves' glyphs do nothing.
    clickGlyph(f.B);
    EXPECT_EQ(f.count(9), 2);
}

TEST(TreeView, RemovalErasesMapEntriesAndSelection) {
    cTreeFixture f;
    ASSERT_TRUE(f.view->select(f.A1, true));
    f.pump();
    cChildElement* e1 = f.A1->element;
    cChildElement* c2 = f.A2->control;
    EXPECT_EQ(f.view->isChild(e1), f.A1);
    ASSERT_TRUE(f.view->remove(f.A));
    EXPECT_EQ(f.view->isChild(e1), nullptr);
    EXPECT_EQ(f.view->isCtl(c2), nullptr);
    EXPECT_EQ(f.view->selected(), nullptr);
    EXPECT_EQ(f.view->root(), f.B);
    // Keys after the removal start again from the first root item.
    f.view->focus();
    f.pump();
    f.key(kKeyDown);
    EXPECT_STREQ(f.sel(), "Lazy");
    tItem* x = make("X");
    f.view->storeUnder(f.B, x);
    cChildElement* ex = x->element;
    ASSERT_TRUE(f.view->remove_under(f.B));
    EXPECT_EQ(f.view->isChild(ex), nullptr);
    EXPECT_EQ(f.view->getUnderItm(f.B), nullptr);
    ASSERT_TRUE(f.view->clear());
    EXPECT_FALSE(f.view->clear());
    EXPECT_EQ(f.view->root(), nullptr);
}

TEST(TreeView, SelectionKeepsAnUnfocusedLook) {
    cTreeFixture f;
    cChildElement* other = new cChildElement;
    other->setAcceptFocus(true);
    f.rec->attach(other, 0, 0, 5, 5);
    f.view->select(f.B, true);
    f.pump();
    unsigned int selBg = f.B->element->bgColor();
    other->focus();
    f.pump();
    EXPECT_EQ(f.view->unfocusedItem(), f.B);
    EXPECT_EQ(f.B->element->bgColor(), cCITheme::theme()->getColor(18));
    if (haveFont()) expectSnapshot(f.maker, f.window, "treeview", {0, 0, 160, 130});
    f.view->focus();
    f.pump();
    EXPECT_EQ(f.view->unfocusedItem(), nullptr);
    EXPECT_EQ(f.B->element->bgColor(), selBg);
    EXPECT_STREQ(f.sel(), "B");
    // select without focus moves the unfocused look.
    f.view->select(f.A2, false);
    EXPECT_EQ(f.view->unfocusedItem(), f.A2);
}

// Two scrolls in one turn: the second starts from where the first left the bar, not from
// the offset still painted (which follows the bar one turn later).
TEST(TreeView, ScrollsInOneTurnDoNotOvershoot) {
    cFixture f(200, 160);
    cTreeViewChild* view = f.add<cTreeViewChild>(0, 0, 200, 150);
    std::vector<tItem*> items;
    view->startChanges();
    for (int i = 0; i < 60; i++) {
        items.push_back(make(("item " + std::to_string(i)).c_str()));
        view->storeUnder(nullptr, items.back());
    }
    view->endChanges();
    f.pump();
    for (auto pair : {std::make_pair(20, 30), std::make_pair(50, 40), std::make_pair(10, 12)}) {
        view->select(items[pair.first], false);
        view->select(items[pair.second], false);
        f.pump();
        sRect r;
        ASSERT_TRUE(view->childRect(items[pair.second]->element, &r));
        // In view, give or take the 1-pixel frame the scroll allows to overlap.
        EXPECT_GE(r.y, -1) << pair.second;
        EXPECT_LE(r.y + r.h, view->height() - view->getHScrollRes() + 1) << pair.second;
    }
}
