// The list view: sorting against a reference stable sort (both directions, both key
// types, keyless rows), the row model and its state cell, selection and check actions,
// mouse and keyboard handling with an injected clock for the type-ahead, painting
// snapshots, and a worker filling the list while the UI thread works on it.
#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "controls_testutil.h"
#include "ui/controls/listview.h"

using namespace ctltest;
typedef cListViewChild LV;

namespace {

unsigned int gNow = 0;
unsigned int fakeClock() { return gNow; }

unsigned long long keyOf(LV::sListViewDataItem* c) { return (unsigned long long)(uintptr_t)c->association; }

struct cListFixture : cFixture {
    LV* list = nullptr;
    std::vector<int> changes;  // item ids of type-7 actions
    std::vector<int> previous;
    LV* make(int w = 300, int h = 200) {
        openRecorder(w + 20, h + 20);
        list = new LV;
        rec->attach(list, 10, 10, w, h);
        list->setClock(fakeClock);
        rec->inspect = [this](cChildElement* s, cChildElement::cChildAction* a) {
            auto* c = dynamic_cast<LV::cListViewItemChangeAction*>(a);
            if (s == list && c) {
                changes.push_back(c->item);
                previous.push_back(c->previous);
            }
        };
        pump();
        return list;
    }
    // Row ids in display order.
    std::vector<int> order() {
        std::vector<int> ids;
        for (int r = list->firstBySort(); r >= 0; r = list->nextBySort(r)) ids.push_back(r);
        return ids;
    }
    std::vector<int> selectedRows() {
        std::vector<int> ids;
        for (int r = list->nextSelected(-1); r >= 0; r = list->nextSelected(r)) ids.push_back(r);
        return ids;
    }
    // The screen y of the middle of a row.
    int rowY(int row) {
        int y0, y1;
        EXPECT_TRUE(list->itemRange(row, y0, y1));
        return 10 + 1 + (y0 + y1) / 2;
    }
};

}  // namespace

// Each row: a name (null for none) and a number; the reference is std::stable_sort over
// the previous display order, keyless rows before (ascending) or after (descending).
TEST(ListView, SortsLikeAReferenceStableSortForBothKeysAndDirections) {
    std::mt19937 rng(7);
    const char* names[] = {"abc", "abcd", "abd", "Zed", "a", "B", "b", "", "\xc3\xa9t\xc3\xa9", "abc"};
    cListFixture f;
    LV* l = f.make();
    l->setColumn(1, "Name", 100, cCanvas::taLeft);
    l->setColumn(2, "Key", 60, cCanvas::taRight);
    l->setColumn(3, "Plain", 60, cCanvas::taLeft);
    l->setSortType(1, new LV::cListViewNameSortProvider);
    auto* num = new LV::cListViewU64PramSortProvider;
    num->setTransformProc(keyOf);
    l->setSortType(2, num);
    struct sRef {
        int id;
        const char* name;
        unsigned long long key;
        bool hasKey;
    };
    std::vector<sRef> rows;
    l->startChanges();
    for (int i = 0; i < 60; i++) {
        int n = (int)(rng() % 12);
        const char* name = n < 10 ? names[n] : nullptr;
        unsigned long long key = rng() % 5 == 0 ? ~0ULL - rng() % 3 : rng() % 6;
        bool hasKey = rng() % 7 != 0;
        int id = i * 3 + 1;  // ids out of step with display indices
        l->setItem(id, 3, "x", -1, nullptr);
        if (name) l->setItem(id, 1, name, -1, nullptr);
        if (hasKey) l->setItem(id, 2, "k", -1, (void*)(uintptr_t)key);
        rows.push_back({id, name, key, hasKey});
    }
    l->endChanges(true);
    std::vector<int> ref;
    for (auto& r : rows) ref.push_back(r.id);
    auto byId = [&](int id) -> sRef& {
        for (auto& r : rows)
            if (r.id == id) return r;
        return rows[0];
    };
    struct sStep {
        int column;
        bool ascending;
    } steps[] = {{1, true}, {1, false}, {2, true}, {1, true}, {2, false}, {2, true}, {1, false}, {2, false}};
    for (auto& s : steps) {
        ASSERT_TRUE(l->setSortDirection(s.column, s.ascending));
        ASSERT_TRUE(l->sort(s.column));
        std::vector<int> keyless, keyed;
        for (int id : ref) {
            sRef& r = byId(id);
            bool has = s.column == 1 ? r.name != nullptr : r.hasKey;
            (has ? keyed : keyless).push_back(id);
        }
        auto less = [&](int x, int y) {
            sRef &a = byId(x), &b = byId(y);
            // Bytewise: upper case before lower case, a proper prefix first.
            if (s.column == 1) return std::string(a.name) < std::string(b.name);
            return a.key < b.key;
        };
        std::stable_sort(keyed.begin(), keyed.end(), less);
        std::vector<int> want;
        if (s.ascending) {
            want = keyless;
            want.insert(want.end(), keyed.begin(), keyed.end());
        } else {
            // Descending walks the ascending order backwards: ties come out reversed.
            want.assign(keyed.rbegin(), keyed.rend());
            want.insert(want.end(), keyless.begin(), keyless.end());
        }
        EXPECT_EQ(f.order(), want) << "column " << s.column << (s.ascending ? " asc" : " desc");
        EXPECT_EQ(l->getRowCount(), (int)rows.size());
        EXPECT_EQ(l->sortColumn(), s.column);
        ref = want;
    }
    // No provider, or a number provider without a procedure: false, order kept.
    auto before = f.order();
    EXPECT_FALSE(l->sort(3));
    l->setSortType(2, new LV::cListViewU64PramSortProvider);
    EXPECT_FALSE(l->sort(2));
    EXPECT_EQ(f.order(), before);
}

TEST(ListView, HeaderClicksSortThenReverseAndReportSorted) {
    cListFixture f;
    LV* l = f.make();
    l->setColumn(1, "Name", 100, cCanvas::taLeft);
    l->setColumn(2, "None", 100, cCanvas::taLeft);
    l->setSortType(1, new LV::cListViewNameSortProvider);
    const char* names[] = {"b", "c", "a"};
    for (int i = 0; i < 3; i++) l->setItem(i, 1, names[i], -1, nullptr);
    f.pump();
    std::vector<int> sorted;
    f.rec->inspect = [&](cChildElement* s, cChildElement::cChildAction* a) {
        auto* c = dynamic_cast<LV::cListViewItemAction*>(a);
        if (s == l && c && a->type == 11) sorted.push_back(c->item);
    };
    int hy = 10 + 5;
    f.press(10 + 30, hy);
    f.release(10 + 30, hy);
    EXPECT_EQ(f.order(), (std::vector<int>{2, 0, 1}));
    f.press(10 + 30, hy);
    f.release(10 + 30, hy);
    EXPECT_EQ(f.order(), (std::vector<int>{1, 0, 2}));
    EXPECT_EQ(sorted, (std::vector<int>{1, 1}));
    // A column without a provider: nothing sorted, nothing reported.
    f.press(10 + 150, hy);
    f.release(10 + 150, hy);
    EXPECT_EQ(sorted.size(), 2u);
    EXPECT_EQ(f.order(), (std::vector<int>{1, 0, 2}));
}

TEST(ListView, ProviderHandedOverTwiceOrMovedIsNotFreedTwice) {
    cListFixture f;
    LV* l = f.make();
    l->setColumn(1, "A", 50, cCanvas::taLeft);
    l->setColumn(2, "B", 50, cCanvas::taLeft);
    auto* p = new LV::cListViewNameSortProvider;
    ASSERT_TRUE(l->setSortType(1, p));
    ASSERT_TRUE(l->setSortType(1, p));  // the same object again: kept, not deleted
    l->setItem(0, 1, "b", -1, nullptr);
    l->setItem(1, 1, "a", -1, nullptr);
    EXPECT_TRUE(l->sort(1));
    ASSERT_TRUE(l->setSortType(2, p));  // moved: column 1 no longer owns it
    EXPECT_FALSE(l->sort(1));
    ASSERT_TRUE(l->setSortType(1, new LV::cListViewNameSortProvider));
    l->setItem(0, 2, "z", -1, nullptr);
    l->setItem(1, 2, "y", -1, nullptr);
    EXPECT_TRUE(l->sort(2));
    EXPECT_EQ(f.order(), (std::vector<int>{1, 0}));
    EXPECT_FALSE(l->setSortType(9, nullptr));
}

TEST(ListView, RowModelIdsIndicesAndTheStateCell) {
    cListFixture f;
    LV* l = f.make();
    l->setColumn(1, "A", 80, cCanvas::taLeft);
    l->setColumn(2, "B", 80, cCanvas::taLeft);
    int tag = 0;
    ASSERT_TRUE(l->setItem(5, 2, "five", -1, &tag));
    EXPECT_EQ(l->displayIndexOf(5), 0);
    EXPECT_EQ(l->addItem(2, "six", -1, nullptr), 6);
    EXPECT_EQ(l->displayIndexOf(6), 1);
    EXPECT_FALSE(l->setItem(-1, 1, "x", -1, nullptr));
    // A null association or text never clears a stored one.
    ASSERT_TRUE(l->setItem(5, 2, nullptr, -1, nullptr));
    EXPECT_EQ(l->association(5, 2), &tag);
    EXPECT_STREQ(l->text(5, 2), "five");
    EXPECT_EQ(l->find(2, &tag), 5);
    // The state lives in the row's first cell: a cell added in a lower column takes it.
    ASSERT_TRUE(l->setChecked(5, true, false));
    ASSERT_TRUE(l->select(5));
    ASSERT_TRUE(l->setItem(5, 1, "front", -1, nullptr));
    EXPECT_TRUE(l->checked(5));
    EXPECT_TRUE(l->isSelected(5));
    EXPECT_EQ(l->selected(), 5);
    l->setChecked(5, false, false);
    EXPECT_FALSE(l->checked(5));
    // A removed middle row leaves a gap; a sort closes it.
    l->addItem(2, "seven", -1, nullptr);
    ASSERT_TRUE(l->remove(6));
    EXPECT_FALSE(l->remove(6));
    EXPECT_EQ(l->getRowCount(), 3);
    EXPECT_EQ(l->nextBySort(5), 7);
    EXPECT_EQ(l->prevBySort(7), 5);
    l->setSortType(2, new LV::cListViewNameSortProvider);
    l->sort(2);
    EXPECT_EQ(l->getRowCount(), 2);
    l->reorderByID();
    EXPECT_EQ(l->textBySortIdx(1, 2), std::string("seven"));
    ASSERT_TRUE(l->clear());
    EXPECT_EQ(l->getRowCount(), 0);
    EXPECT_EQ(l->selected(), -1);
}

TEST(ListView, RowHeightsSpacingAndRowsWithoutColumns) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cListFixture f;
    LV* l = f.make();
    l->setColumn(1, "A", 80, cCanvas::taLeft);
    cPicturesList pics;
    cPicture* p16 = new cPicture;
    p16->create(0xFF0000FFu, 16, 16);
    pics.storeImage(0, p16);
    l->setImageLists(&pics, nullptr, nullptr);
    l->setItem(0, 1, "text", -1, nullptr);
    l->setItem(1, 1, nullptr, 0, nullptr);  // a 16-pixel picture, no text
    l->setItem(2, 7, "no column", -1, nullptr);  // a cell only in a column without a record
    l->setItem(3, 1, "after", -1, nullptr);
    sSize ts;
    l->sizeOf("text", ts, l->stdFont());
    int y0, y1;
    ASSERT_TRUE(l->itemRange(0, y0, y1));
    EXPECT_EQ(y1 - y0, ts.cy + 4);
    ASSERT_TRUE(l->itemRange(1, y0, y1));
    EXPECT_EQ(y1 - y0, 20);
    EXPECT_FALSE(l->itemRange(2, y0, y1));
    int a0, a1;
    ASSERT_TRUE(l->itemRange(3, a0, a1));
    EXPECT_EQ(a0, y1 + 13);  // the column-less row still takes 13 pixels
    l->setSpacing(10);
    ASSERT_TRUE(l->itemRange(1, y0, y1));
    EXPECT_EQ(y1 - y0, 30);
    l->setImageLists(nullptr, nullptr, nullptr);
}

TEST(ListView, SelectionAndCheckActions) {
    cListFixture f;
    LV* l = f.make();
    l->setColumn(1, "A", 80, cCanvas::taLeft);
    for (int i = 0; i < 5; i++) l->addItem(1, "row", -1, nullptr);
    f.pump();
    l->select(2);
    l->select(2);
    f.pump();
    EXPECT_EQ(f.changes, (std::vector<int>{2}));
    EXPECT_EQ(f.selectedRows(), (std::vector<int>{2}));
    l->setSelected(3, true);
    EXPECT_EQ(f.selectedRows(), (std::vector<int>{3}));
    EXPECT_EQ(l->selected(), 3);
    // Deselecting the only selected row leaves no current row and says so.
    f.pump();
    f.changes.clear();
    l->setSelected(3, false);
    f.pump();
    EXPECT_EQ(l->selected(), -1);
    EXPECT_EQ(f.changes, (std::vector<int>{-1}));
    // Multiselect: a shift range from the current row adds to the selection.
    l->setMultiselect(true);
    l->select(1);
    l->setSelected(4, true);
    EXPECT_EQ(f.selectedRows(), (std::vector<int>{1, 4}));
    // Checks: notify posts once, a repeat nothing.
    int checkedActions = 0;
    f.rec->inspect = [&](cChildElement* s, cChildElement::cChildAction* a) {
        if (s == l && a->type == 10) checkedActions++;
    };
    l->setChecked(0, true, false);
    l->setChecked(1, true, true);
    l->setChecked(1, true, true);
    f.pump();
    EXPECT_EQ(checkedActions, 1);
}

TEST(ListView, MousePressesChecksAndDoubleClicks) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cListFixture f;
    LV* l = f.make();
    l->setColumn(1, "A", 120, cCanvas::taLeft);
    l->setColumn(2, "B", 80, cCanvas::taLeft);
    for (int i = 0; i < 4; i++) l->addItem(1, "row", -1, nullptr);
    l->setCheckMode(true);
    f.pump();
    std::vector<int> checked, activated;
    f.rec->inspect = [&](cChildElement* s, cChildElement::cChildAction* a) {
        auto* c = dynamic_cast<LV::cListViewItemAction*>(a);
        if (s != l || !c) return;
        if (a->type == 10) checked.push_back(c->item);
        if (a->type == 6) activated.push_back(c->item);
        if (a->type == 7) f.changes.push_back(c->item);
    };
    // A press in the box column toggles the check and leaves the selection.
    f.press(10 + 6, f.rowY(1));
    f.release(10 + 6, f.rowY(1));
    EXPECT_TRUE(l->checked(1));
    EXPECT_EQ(checked, (std::vector<int>{1}));
    EXPECT_EQ(l->selected(), -1);
    f.press(10 + 60, f.rowY(2));
    f.release(10 + 60, f.rowY(2));
    EXPECT_EQ(l->selected(), 2);
    // A right press on the selected row keeps it; on another row selects that one.
    f.maker.injectPress(f.window, 10 + 60, f.rowY(2), kMouseRight);
    f.pump();
    EXPECT_EQ(f.selectedRows(), (std::vector<int>{2}));
    // A press below the rows clears the selection and reports -1.
    f.changes.clear();
    f.press(10 + 60, 10 + 190);
    f.release(10 + 60, 10 + 190);
    EXPECT_EQ(l->selected(), -1);
    EXPECT_EQ(f.changes, (std::vector<int>{-1}));
    // Ctrl-click on the only selected row deselects it silently.
    l->setMultiselect(true);
    l->select(3);
    f.pump();
    f.changes.clear();
    f.maker.injectPress(f.window, 10 + 60, f.rowY(3), kMouseLeft, kModCtrl);
    f.pump();
    EXPECT_EQ(l->selected(), -1);
    EXPECT_TRUE(f.selectedRows().empty());
    EXPECT_TRUE(f.changes.empty());
    // Double clicks: on a row activate it, in the box column do nothing.
    f.maker.injectClick(f.window, 10 + 60, f.rowY(0));
    f.maker.injectClick(f.window, 10 + 60, f.rowY(0));
    f.pump();
    EXPECT_EQ(activated, (std::vector<int>{0}));
    f.maker.advanceClock(1000);
    f.maker.injectClick(f.window, 10 + 6, f.rowY(3));
    f.maker.injectClick(f.window, 10 + 6, f.rowY(3));
    f.pump();
    EXPECT_EQ(activated, (std::vector<int>{0}));
}

TEST(ListView, KeyboardNavigationPagesAndSpace) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cListFixture f;
    LV* l = f.make(300, 120);
    l->setColumn(1, "A", 120, cCanvas::taLeft);
    for (int i = 0; i < 30; i++) l->addItem(1, ("row " + std::to_string(i)).c_str(), -1, nullptr);
    l->focus();
    f.pump();
    int rowH = 0, y0, y1;
    ASSERT_TRUE(l->itemRange(0, y0, y1));
    rowH = y1 - y0;
    sRect cr;
    l->clientRect(&cr);
    // The page walk: rows of equal height h from a client height p give the first row
    // k steps on for which p - k*h <= h.
    int pageStep = 1;
    while (cr.h - pageStep * rowH > rowH) pageStep++;
    struct sStep {
        int key;
        unsigned mods;
        int want;
    } steps[] = {{kKeyDown, 0, 0},          {kKeyDown, 0, 1},          {kKeyUp, 0, 0},
                 {kKeyUp, 0, 0},            {kKeyEnd, 0, 29},          {kKeyDown, 0, 29},
                 {kKeyHome, 0, 0},          {kKeyPageDown, 0, pageStep}, {kKeyPageDown, 0, 2 * pageStep},
                 {kKeyPageUp, 0, pageStep}, {kKeyPageUp, 0, 0},        {kKeyPageUp, 0, 0}};
    for (auto& s : steps) {
        f.key(s.key, s.mods);
        EXPECT_EQ(l->selected(), s.want) << "key " << s.key;
        EXPECT_EQ(f.selectedRows(), (std::vector<int>{s.want}));
    }
    // Up on the first row re-selects it without an action.
    f.changes.clear();
    f.key(kKeyUp);
    EXPECT_TRUE(f.changes.empty());
    // The view scrolled the current row into sight.
    f.key(kKeyEnd);
    ASSERT_TRUE(l->itemRange(29, y0, y1));
    EXPECT_LE(y1, cr.y + cr.h);
    // Space toggles the check only in check mode; Enter activates; Esc clears.
    f.key(kKeySpace);
    EXPECT_FALSE(l->checked(29));
    l->setCheckMode(true);
    f.key(kKeySpace);
    EXPECT_TRUE(l->checked(29));
    f.key(kKeySpace);
    EXPECT_FALSE(l->checked(29));
    f.changes.clear();
    f.key(kKeyEscape);
    EXPECT_EQ(l->selected(), -1);
    EXPECT_EQ(f.changes, (std::vector<int>{-1}));
    // Multiselect: Shift+Down extends, Ctrl+Down adds and moves, Ctrl+A takes all.
    l->setMultiselect(true);
    l->select(3);
    f.key(kKeyDown, kModShift);
    EXPECT_EQ(f.selectedRows(), (std::vector<int>{3, 4}));
    f.key(kKeyDown, kModCtrl);
    EXPECT_EQ(f.selectedRows(), (std::vector<int>{3, 4, 5}));
    EXPECT_EQ(l->selected(), 5);
    f.key('A', kModCtrl);
    EXPECT_EQ((int)f.selectedRows().size(), 30);
    EXPECT_EQ(l->selected(), 0);
}

// Two selections in one turn: the second must scroll from where the first left the bar,
// not from the offset the view still paints with (which follows the bar a turn later).
TEST(ListView, SelectionsInOneTurnScrollToTheLastRow) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cListFixture f;
    LV* l = f.make(300, 120);
    l->setColumn(1, "A", 120, cCanvas::taLeft);
    for (int i = 0; i < 60; i++) l->addItem(1, "row", -1, nullptr);
    f.pump();
    sRect cr;
    l->clientRect(&cr);
    for (int target : {40, 45, 12}) {
        l->select(50);
        l->select(target);
        f.pump();
        int y0, y1;
        ASSERT_TRUE(l->itemRange(target, y0, y1));
        EXPECT_GE(y0, cr.y) << target;
        EXPECT_LE(y1, cr.y + cr.h) << target;
    }
}

TEST(ListView, TypeAheadWithAnInjectedClock) {
    cListFixture f;
    LV* l = f.make();
    l->setColumn(1, "A", 120, cCanvas::taLeft);
    const char* names[] = {"alpha", "Bravo", "beta", "brown", "Charlie", "brass", "bz"};
    for (auto* n : names) l->addItem(1, n, -1, nullptr);
    l->focus();
    f.pump();
    gNow = 10000;
    struct sStep {
        unsigned int advance;
        char ch;
        int want;
    } steps[] = {
        {0, 'b', 1},     // a fresh search with no current row starts at the top
        {1000, 'b', 2},  // a new search starts after the current row
        {100, 'r', 3},   // "br" from the current row on, any case
        {401, 'b', 5},   // after 401 ms: a new search after "brown"
        {1000, 'b', 6},  // "bz"
        {1000, 'b', 6},  // nothing after the last match: the selection stays
        {1000, 'C', 6},  // "Charlie" stands before the current row: no wrap-around
    };
    for (auto& s : steps) {
        gNow += s.advance;
        f.maker.injectChar(f.window, (unsigned char)s.ch);
        f.pump();
        EXPECT_EQ(l->selected(), s.want) << s.ch << " after " << s.advance;
    }
    // Exactly 400 ms later the prefix goes on: "be" from "Bravo" on finds "beta".
    l->select(0);
    gNow += 1000;
    f.maker.injectChar(f.window, 'B');
    f.pump();
    EXPECT_EQ(l->selected(), 1);
    gNow += 400;
    f.maker.injectChar(f.window, 'E');
    f.pump();
    EXPECT_EQ(l->selected(), 2);
    // An over-long prefix is not stored past ten characters and does not crash.
    for (int i = 0; i < 14; i++) {
        gNow += 10;
        f.maker.injectChar(f.window, 'x');
    }
    f.pump();
    EXPECT_EQ(l->selected(), 2);
}

TEST(ListView, PaintsSelectionFocusChecksAndTheEmptyText) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cListFixture f;
    LV* l = f.make(260, 120);
    l->setText("Nothing to show", -1, true);
    expectSnapshot(f.maker, f.window, "listview_empty", {0, 0, 280, 140});
    l->setColumn(1, "Name", 110, cCanvas::taLeft);
    l->setColumn(2, "Size", 70, cCanvas::taRight);
    l->setCheckMode(true);
    l->setChbSpacing(4, true);
    const char* names[] = {"readme.txt", "a rather long file name.bin", "notes", "photo.jpg"};
    const char* sizes[] = {"1 KB", "120 KB", "", "3 KB"};
    for (int i = 0; i < 4; i++) {
        l->setItem(i, 1, names[i], -1, nullptr);
        l->setItem(i, 2, sizes[i], -1, nullptr);
    }
    l->setItemTextColor(2, 1, 0x0000C0);
    l->setChecked(1, true, false);
    l->setMultiselect(true);
    l->select(1);
    l->setSelected(2, true);
    l->focus();
    f.pump();
    expectSnapshot(f.maker, f.window, "listview_focused", {0, 0, 280, 140});
    // Without the focus the selection turns to the inactive colours.
    f.rec->focus();
    f.pump();
    unsigned int inactive = cCITheme::theme()->getColor(18);
    int y = f.rowY(1);
    EXPECT_EQ(bgrAt(f.window, 10 + 60, y - 3), inactive);
    // The caller's focused colours paint the selection once the list has the focus again.
    l->setColorSchemaFocusedActive(0xFFFFFF, 0x123456, 0x123456, true);
    l->focus();
    f.pump();
    EXPECT_EQ(bgrAt(f.window, 10 + 60, y - 3), 0x123456u);
    f.rec->focus();
    l->setFullLineSelect(true, true);
    f.pump();
    expectSnapshot(f.maker, f.window, "listview_fullline", {0, 0, 280, 140});
    // Full-line: the gap after the first column takes the row's highlight too.
    EXPECT_EQ(bgrAt(f.window, 10 + 1 + 110 + 1, y), cCITheme::theme()->getColor(18));
}

// A worker clears and fills the list between startChanges and endChanges while the UI
// thread paints, sorts and handles keys; the lock keeps them apart.
TEST(ListView, WorkerFillingAndUIThreadNeverRace) {
    cListFixture f;
    LV* l = f.make();
    l->setColumn(1, "A", 120, cCanvas::taLeft);
    l->setSortType(1, new LV::cListViewNameSortProvider);
    l->focus();
    for (int round = 0; round < 5; round++) {
        l->startChanges();
        std::atomic<bool> done(false);
        std::thread worker([&] {
            l->clear();
            for (int i = 0; i < 400; i++) {
                char name[16];
                snprintf(name, sizeof name, "n%03d", (i * 37) % 400);
                l->setItem(i, 1, name, -1, nullptr);
                if (i % 50 == 0) l->setChecked(i, true, false);
            }
            done = true;
        });
        while (!done) {
            l->sort(1);
            l->select(l->firstBySort());
            f.maker.injectKey(f.window, kKeyDown);
            f.maker.injectChar(f.window, 'n');
            l->repaint();
            f.pump();
        }
        worker.join();
        l->endChanges(true);
        l->sort(1);
        EXPECT_EQ(l->getRowCount(), 400);
        EXPECT_STREQ(l->textBySortIdx(0, 1), "n000");
        EXPECT_TRUE(l->checked(50));
    }
}
