// The property sheet and the description area: rows per type, refused duplicates, values
// by type, collapsing and hidden headers against the layout, one layout per change
// bracket, row selection by click and keys with its action, the sheet with description
// filling its area, and the area alone scrolling over text longer than itself.
#include <vector>

#include "controls_testutil.h"
#include "ui/controls/combobox.h"
#include "ui/controls/edit.h"
#include "ui/controls/propdisparea.h"
#include "ui/controls/propsheet.h"

using namespace ctltest;
typedef cPropSheetChild tSheet;

namespace {

struct sAct {
    int type, section, property;
    bool operator==(const sAct& o) const { return type == o.type && section == o.section && property == o.property; }
};

struct cSheetFixture : cFixture {
    tSheet* sheet = nullptr;
    std::vector<sAct> acts;
    static void fill(tSheet* s) {
        s->startChanges();
        s->setSection(1, "General");
        s->setProperty(1, 1, "Name", "The package name", "Example", tSheet::ptText);
        s->setProperty(1, 2, "Folder", "Where it goes", "/opt/example", tSheet::ptTextButton);
        s->setProperty(1, 3, "Web", "Its home page", "http://example.org", tSheet::ptLink);
        s->setSection(2, "Details");
        s->setProperty(2, 1, "Count", "How many", "12", tSheet::ptEdit);
        s->setProperty(2, 2, "Path", "Read only with a button", "/usr", tSheet::ptEditROButton);
        s->setProperty(2, 3, "Kind", "A list", "first", tSheet::ptCombo);
        s->endChanges();
    }
    cSheetFixture() {
        openRecorder(320, 280);
        sheet = new tSheet;
        rec->attach(sheet, 10, 10, 300, 260);
        fill(sheet);
        rec->inspect = [this](cChildElement* s, cChildElement::cChildAction* a) {
            if (auto* p = dynamic_cast<tSheet::cPropSheetAction*>(a)) acts.push_back({a->type, p->section, p->property});
        };
        pump();
    }
};

}  // namespace

TEST(PropSheet, RowsValuesAndRefusals) {
    cSheetFixture f;
    EXPECT_FALSE(f.sheet->setProperty(1, 1, "Again", "", "x", tSheet::ptEdit));
    EXPECT_STREQ(f.sheet->value(1, 1), "Example");
    EXPECT_FALSE(f.sheet->setProperty(9, 1, "No section", "", "x", tSheet::ptText));
    EXPECT_FALSE(f.sheet->setSection(3, nullptr));
    struct {
        int s, p;
        bool button, edit;
    } kinds[] = {{1, 1, false, false}, {1, 2, true, false}, {1, 3, false, false},
                 {2, 1, false, true},  {2, 2, true, true},  {2, 3, false, true}};
    for (auto& k : kinds) {
        EXPECT_EQ(f.sheet->actionButton(k.s, k.p) != nullptr, k.button) << k.s << "." << k.p;
        EXPECT_EQ(f.sheet->editControl(k.s, k.p) != nullptr, k.edit) << k.s << "." << k.p;
    }
    EXPECT_TRUE(f.sheet->editControl(2, 2)->readonly());
    EXPECT_FALSE(f.sheet->editControl(2, 1)->readonly());
    // Numbers by type: text rows format them, edits keep their own format.
    ASSERT_TRUE(f.sheet->setPropertyVal(1, 1, 31ULL, true, 0));
    EXPECT_STREQ(f.sheet->value(1, 1), "0x1F");
    ASSERT_TRUE(f.sheet->setPropertyVal(1, 1, 31ULL, false, 0));
    EXPECT_STREQ(f.sheet->value(1, 1), "31");
    EXPECT_EQ(f.sheet->int_value(1, 1), 0);
    EXPECT_EQ(f.sheet->int_value(2, 1), 12);
    EXPECT_EQ(f.sheet->int_value(7, 7), -1);
    EXPECT_EQ(f.sheet->value_id(1, 1), -1);
    EXPECT_EQ(f.sheet->value_id(7, 7), 0);
    int token = 5;
    EXPECT_FALSE(f.sheet->setPropertyVal(1, 1, 4, &token, "four", true));
    EXPECT_TRUE(f.sheet->setPropertyVal(2, 3, 4, &token, "four", true));
    EXPECT_EQ(f.sheet->value_id(2, 3), 4);
    EXPECT_EQ(f.sheet->value_assoc(2, 3), &token);
    EXPECT_TRUE(f.sheet->clearPropertyVals(2, 3));
    // Removal leaves no control behind.
    EXPECT_TRUE(f.sheet->remove(1, 2));
    EXPECT_FALSE(f.sheet->hasProp(1, 2));
    EXPECT_EQ(f.sheet->actionButton(1, 2), nullptr);
    EXPECT_TRUE(f.sheet->remove(2));
    EXPECT_FALSE(f.sheet->hasSection(2));
    f.pump();
    EXPECT_TRUE(f.sheet->clear());
    EXPECT_EQ(f.sheet->minVisualHeight(), 0);
}

TEST(PropSheet, CollapsingAndHiddenHeadersFollowTheLayout) {
    cSheetFixture f;
    const int D = cCITheme::theme()->getDimension(24, 0);
    tSheet::cSectionChild* s1 = f.sheet->section(1);
    tSheet::cSectionChild* s2 = f.sheet->section(2);
    ASSERT_TRUE(s1 && s2);
    const int full = s1->height(), total = f.sheet->minVisualHeight();
    EXPECT_EQ(total, s1->height() + s2->height());
    EXPECT_EQ(s2->y(), full);
    EXPECT_GT(full, D);
    // A click on the collapse button folds the section to its header.
    cButtonChild* bt = s1->header()->button();
    sRect r;
    ASSERT_TRUE(f.rec->childRect(bt, &r));
    f.click(r.x + 4, r.y + 4);
    f.pump();
    EXPECT_TRUE(s1->collapsed());
    EXPECT_EQ(s1->height(), D);
    EXPECT_EQ(f.sheet->minVisualHeight(), total - full + D);
    EXPECT_FALSE(f.sheet->nameLabel(1, 1)->visible_child());
    f.click(r.x + 4, r.y + 4);
    f.pump();
    EXPECT_EQ(s1->height(), full);
    // Without headers each section is as tall as its rows.
    f.sheet->showSections(false);
    EXPECT_EQ(s1->height(), full - D);
    EXPECT_EQ(f.sheet->minVisualHeight(), total - 2 * D);
}

TEST(PropSheet, SelectionByClickAndKeysReportsTheRow) {
    cSheetFixture f;
    cSelectableElement* name = f.sheet->nameLabel(1, 3);
    sRect r;
    ASSERT_TRUE(f.rec->childRect(name, &r));
    f.click(r.x + 5, r.y + r.h / 2);
    ASSERT_FALSE(f.acts.empty());
    EXPECT_EQ(f.acts.back(), (sAct{6, 1, 3}));
    f.key(kKeyDown);  // the first row of the next section
    EXPECT_EQ(f.acts.back(), (sAct{6, 2, 1}));
    f.key(kKeyUp);
    EXPECT_EQ(f.acts.back(), (sAct{6, 1, 3}));
    f.sheet->selectCapt(2, 3, true);
    f.pump();
    size_t before = f.acts.size();
    f.key(kKeyDown);  // the last row: nothing moves, the key is consumed
    EXPECT_EQ(f.acts.size(), before);
    EXPECT_TRUE(f.sheet->nameLabel(2, 3)->focused());
    // The action button of a type 1 row reports 7, the link 8.
    ASSERT_TRUE(f.rec->childRect(f.sheet->actionButton(1, 2), &r));
    f.click(r.x + r.w / 2, r.y + r.h / 2);
    EXPECT_EQ(f.acts.back(), (sAct{7, 1, 2}));
    ASSERT_TRUE(f.rec->childRect(f.sheet->valueControl(1, 3), &r));
    f.click(r.x + 3, r.y + r.h / 2);
    EXPECT_EQ(f.acts.back(), (sAct{8, 1, 3}));
}

TEST(PropSheet, SheetWithDescriptionShowsTheSelectedRow) {
    cFixture f(320, 300);
    cPropSheetExChild* ex = new cPropSheetExChild;
    ex->setShare(0);  // outside 0-100: 75
    f.rec->attach(ex, 10, 10, 300, 280);
    EXPECT_EQ(ex->share(), 75.0);
    cSheetFixture::fill(&ex->sheet());
    f.pump();
    ex->sheet().selectCapt(1, 2, true);
    f.pump();
    EXPECT_STREQ(ex->area().title(), "Folder");
    EXPECT_STREQ(ex->area().text(), "Where it goes");
    EXPECT_EQ(f.rec->count(&ex->sheet(), 6), 0) << "the owner does not see the selection";
    if (haveFont()) {
        EXPECT_GT(ex->area().minVisualHeight(), 10);
        expectSnapshot(f.maker, f.window, "propsheet_ex", {0, 0, 320, 300});
    }
    ex->clear();
    EXPECT_EQ(ex->area().title(), nullptr);
    EXPECT_FALSE(ex->sheet().hasSection(1));
}

TEST(PropDispArea, AloneItMeasuresAndScrollsItsText) {
    cFixture f(220, 120);
    cPropDispAreaChild* area = f.add<cPropDispAreaChild>(10, 10, 200, 100);
    f.pump();
    EXPECT_EQ(area->minVisualHeight(), 10) << "an empty area needs 10 pixels";
    if (!haveFont()) GTEST_SKIP() << "no font";
    std::string text;
    for (int i = 0; i < 40; i++) text += "Words that wrap over many lines of the area. ";
    area->setExtraTitleSpacing(6);
    area->setText("Version 2.0 is available", text.c_str());
    f.pump();
    f.pump();
    EXPECT_GT(area->minVisualHeight(), 100);
    EXPECT_GT(area->getVScrollRes(), 0) << "the area shows its own bar";
    f.maker.injectWheel(f.window, 100, 60, false);
    f.pump();
    EXPECT_GT(area->shiftY(), 0) << "the wheel scrolls the text";
    area->setText("Short", nullptr);
    f.pump();
    f.pump();
    EXPECT_LT(area->minVisualHeight(), 100);
    area->setText("Version 2.0 is available", "Fixes and a new look. The download is 3 MB.");
    area->scrollMinY();
    f.pump();
    expectSnapshot(f.maker, f.window, "propdisparea", {0, 0, 220, 120});
}
