// Forms and windows: nested modal runs answered by scripts, close requests, modal popups,
// popup holders and the hint seam, thread-safe static texts, language strings, and a
// committed PNG snapshot of one small form.
#include <cstdlib>
#include <functional>
#include <thread>

#include "ciplatform/fontobject.h"
#include "ciplatform/picture.h"
#include "controls_testutil.h"
#include "element_testutil.h"
#include "testutil.h"
#include "ui/childpicture.h"
#include "ui/hintholder.h"
#include "ui/lang.h"
#include "ui/panelchild.h"
#include "ui/staticelement.h"

using namespace elemtest;

namespace {

class cScript : public cHeadlessScript {
public:
    std::function<void(cHeadlessWindowMaker*, cPlatformWindow*, int)> fn;
    void onModal(cHeadlessWindowMaker* m, cPlatformWindow* w, int depth) override { fn(m, w, depth); }
};

using ctltest::rootOf;

// A form that ends its run from the keyboard and can refuse to close.
class cTestForm : public cCustomForm {
public:
    int* deaths = nullptr;
    int cancelCode = -5;
    bool refuseClose = false;
    int closes = 0;
    int constructs = 0, afterConstructs = 0;
    ~cTestForm() override {
        if (deaths) (*deaths)++;
    }
    void onConstruct() override { constructs++; }
    void onAfterConstruct() override { afterConstructs += constructs; }
    bool onFormCancel() override {
        end_modal(cancelCode);
        return true;
    }
    bool onClose() override {
        closes++;
        return !refuseClose;
    }
};

}  // namespace

TEST(Form, NestedModalRunsReturnTheirCodesAndDeleteTheirForms) {
    cHeadlessWindowMaker maker;
    cScript script;
    int deaths = 0;
    int innerCode = 0;
    script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, int depth) {
        if (depth == 1) {
            cTestForm* inner = new cTestForm;
            inner->deaths = &deaths;
            inner->cancelCode = 7;
            innerCode = rootOf(w)->modal("inner", 120, 60, inner);
            EXPECT_EQ(deaths, 1);  // gone with its window before modal returned
            rootOf(w)->end_modal(innerCode + 1);
        } else {
            m->injectKey(w, kKeyEscape);  // the inner form's onFormCancel ends it
        }
    };
    maker.setModalScript(&script);
    cTestForm* outer = new cTestForm;
    outer->deaths = &deaths;
    int code = cChildElement::modalWindow(&maker, "outer", 200, 100, outer, nullptr, 0);
    EXPECT_EQ(innerCode, 7);
    EXPECT_EQ(code, 8);
    EXPECT_EQ(deaths, 2);
    maker.pumpAll();
    EXPECT_EQ(maker.windowCount(), 0);
}

TEST(Form, ScriptedAnswersEndRunsAndTheFormIsBuiltOnce) {
    // The form is built before the run is answered: check from inside its construction.
    class cProbeForm : public cTestForm {
    public:
        int* seen;
        void onAfterConstruct() override {
            cTestForm::onAfterConstruct();
            *seen = afterConstructs;
        }
    };
    cHeadlessWindowMaker maker;
    maker.pushModalAnswer(5);
    int deaths = 0, afterSeen = -1;
    cProbeForm* pf = new cProbeForm;
    pf->deaths = &deaths;
    pf->seen = &afterSeen;
    EXPECT_EQ(cChildElement::modalWindow(&maker, "answered", 100, 50, pf, nullptr, 0), 5);
    EXPECT_EQ(afterSeen, 1);  // onConstruct ran exactly once, before onAfterConstruct
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(maker.pendingModalAnswers(), 0);
}

TEST(Form, ModalWithoutAWindowLeavesTheFormAlone) {
    int deaths = 0;
    cProbe loose("L", nullptr);
    cTestForm* f = new cTestForm;
    f->deaths = &deaths;
    EXPECT_EQ(loose.modal("x", 10, 10, f), -1);
    EXPECT_EQ(loose.modal_popup(0, 0, 10, 10, new cProbe("P", nullptr, false, false)), -1);
    EXPECT_EQ(deaths, 0);
    delete f;
    loose.end_modal(3);  // nothing to end: must not crash
}

TEST(Form, CloseRequestsGoThroughOnClose) {
    struct Case {
        bool refuse;
        int want;
    } cases[] = {{false, cElementHost::kCloseCode}, {true, 3}};
    for (auto& c : cases) {
        cHeadlessWindowMaker maker;
        cScript script;
        cTestForm* form = new cTestForm;
        form->refuseClose = c.refuse;
        script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, int) {
            m->injectClose(w);
            m->pumpAll();
            EXPECT_EQ(form->closes, 1);
            if (c.refuse) form->end_modal(3);  // still running: end it ourselves
        };
        maker.setModalScript(&script);
        EXPECT_EQ(cChildElement::modalWindow(&maker, "close", 100, 50, form, nullptr, 0), c.want);
    }
}

// A dialog of a form that stepped aside (its window hidden) stands over the nearest window
// the user sees, or is a top-level window when there is none: a click on a visible window
// must not bury it.
TEST(Form, DialogsOfAHiddenWindowStandOverTheNearestVisibleOne) {
    for (bool topVisible : {true, false}) {
        cHeadlessWindowMaker maker;
        cScript script;
        cPlatformWindow *top = nullptr, *carrier = nullptr, *owner = nullptr;
        script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, int depth) {
            if (depth == 1) {
                top = w;
                if (!topVisible) w->show(false);
                rootOf(w)->end_modal(rootOf(w)->modal("carrier", 100, 50, new cTestForm));
            } else if (depth == 2) {
                carrier = w;
                w->show(false);
                rootOf(w)->end_modal(rootOf(w)->modal("box", 80, 40, new cTestForm));
            } else {
                owner = w->owner();
                rootOf(w)->end_modal(4);
            }
        };
        maker.setModalScript(&script);
        EXPECT_EQ(cChildElement::modalWindow(&maker, "top", 200, 100, new cTestForm, nullptr, 0), 4);
        EXPECT_NE(owner, carrier);
        EXPECT_EQ(owner, topVisible ? top : nullptr) << topVisible;
    }
}

TEST(Form, ModalPopupRunsUntilEndModalAndDiesWithItsWindow) {
    class cPick : public cProbe {
    public:
        using cProbe::cProbe;
        void onMouseButton(int x, int y, int, bool down) override {
            if (down) end_modal(inme(x, y) ? 10 + x : -2);  // outside presses cancel
        }
    };
    for (int clickX : {4, 500}) {
        cHeadlessWindowMaker maker;
        cScript script;
        int deaths = 0, popupCode = 0;
        sPoint popupAt = {0, 0};
        script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, int depth) {
            if (depth == 1) {
                cPick* pick = new cPick("pick", nullptr, false, false);
                pick->myDeaths = &deaths;
                popupCode = rootOf(w)->modal_popup(300, 200, 60, 20, pick);
                rootOf(w)->end_modal(popupCode);
            } else {
                w->screenPos(popupAt);
                m->injectClick(w, clickX, 5);
            }
        };
        maker.setModalScript(&script);
        int code = cChildElement::modalWindow(&maker, "owner", 200, 100, new cTestForm, nullptr, 0);
        EXPECT_EQ(popupAt.x, 300);
        EXPECT_EQ(popupAt.y, 200);
        EXPECT_EQ(code, clickX == 4 ? 14 : -2);
        EXPECT_EQ(deaths, 1);
    }
}

TEST(Form, PopupHoldersAndTheHintSeam) {
    // A hint that lives in a popup and hands its window back when destroyed.
    class cTestHint : public cChildElement {
    public:
        cWindowHolder* holder = nullptr;
        ~cTestHint() override {
            if (holder) holder->dispose(true);
        }
    };
    static int made;
    made = 0;
    setHintMaker([](cChildElement* owner) -> cChildElement* {
        cTestHint* h = new cTestHint;
        sPoint at;
        owner->absPos(at);
        h->holder = owner->popup(at.x + 2, at.y + owner->height() + 2, 40, 16, h, false);
        if (!h->holder) {
            delete h;
            return nullptr;
        }
        made++;
        return h;
    });
    cLog log;
    cWindowFixture f;
    cProbe* root = new cProbe("R", &log, false, false);
    cProbe* a = new cProbe("A", &log);
    a->setHint("tip");
    root->attach(a, 10, 10, 20, 20);
    f.open(root, 100, 60);
    EXPECT_EQ(f.maker.windowCount(), 1);
    f.maker.injectMove(f.window, 15, 15);
    f.pump();
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(a->hintShown());
    EXPECT_EQ(f.maker.windowCount(), 2);
    EXPECT_EQ(f.maker.lastWindow()->kind(), (int)kWindowHint);
    sPoint owner, hintAt;
    ASSERT_TRUE(a->absPos(owner));
    f.maker.lastWindow()->screenPos(hintAt);
    EXPECT_EQ(hintAt.x, owner.x + 2);  // screen coordinates, below the owner
    EXPECT_EQ(hintAt.y, owner.y + 22);
    f.maker.injectMove(f.window, 60, 50);
    f.pump();
    EXPECT_FALSE(a->hintShown());
    EXPECT_EQ(f.maker.windowCount(), 1);
    setHintMaker(nullptr);

    // Deleting a holder closes its window and leaves the content; dispose(false) takes both.
    int deaths = 0;
    cProbe* content = new cProbe("C", nullptr, false, false);
    content->myDeaths = &deaths;
    cWindowHolder* h1 = root->popup(5, 5, 30, 10, content, false);
    ASSERT_NE(h1, nullptr);
    EXPECT_EQ(h1->content(), content);
    EXPECT_EQ(f.maker.windowCount(), 2);
    delete h1;
    f.pump();
    EXPECT_EQ(f.maker.windowCount(), 1);
    EXPECT_EQ(deaths, 0);
    cWindowHolder* h2 = root->popup(5, 5, 30, 10, content, true);
    ASSERT_NE(h2, nullptr);
    EXPECT_EQ(f.maker.grabWindow(), h2->window());
    h2->dispose(false);
    f.pump();
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(f.maker.windowCount(), 1);
    // Without a window there is no popup.
    cProbe loose("L", nullptr);
    cProbe other("O", nullptr);
    EXPECT_EQ(loose.popup(0, 0, 5, 5, &other, false), nullptr);
}

TEST(Form, StaticTextSetFromAJobIsDrawnByTheUIThread) {
    if (!cFontObject::get(5, 13, _glbalStdFont(), false, false, false)) GTEST_SKIP() << "no font installed";
    cWindowFixture f;
    cPanelChild* root = new cPanelChild;
    cStaticElement* label = new cStaticElement;
    root->attach(label, 0, 0, 120, 20);
    f.open(root, 120, 20);
    root->setBgColor(0xFFFFFF);
    label->setColorSchema(0x000000, 0xFFFFFF, 0xFFFFFFFFu);
    auto inked = [&] {
        int n = 0;
        for (int y = 0; y < 20; y++)
            for (int x = 0; x < 120; x++)
                if (f.pixel(x, y) != 0xFFFFFFu) n++;
        return n;
    };
    EXPECT_EQ(inked(), 0);
    std::thread job([&] {
        for (int i = 0; i < 100; i++) label->setText(i % 2 ? "Working..." : "Done", cCanvas::taLeft, true);
    });
    job.join();
    f.pump();
    EXPECT_STREQ(label->text(), "Working...");
    EXPECT_GT(inked(), 0);
    sSize want, one;
    EXPECT_TRUE(label->wantsSize(want));
    EXPECT_TRUE(label->sizeOf("Working...", one));
    EXPECT_EQ(want.cx, one.cx);
}

TEST(Form, StringsComeFromTheNearestLanguageSection) {
    cCiomLangData* sect = cLibLang::gCiomLang.addSection("u2test::sect");
    ASSERT_NE(sect, nullptr);
    ASSERT_TRUE(sect->setString(3, "three"));
    cProbe* top = new cProbe("T", nullptr);
    top->mySection = "u2test::sect";
    cProbe* mid = new cProbe("M", nullptr);
    cProbe* leaf = new cProbe("L", nullptr);
    top->attach(mid, 0, 0, 1, 1);
    mid->attach(leaf, 0, 0, 1, 1);
    EXPECT_STREQ(leaf->string(3), "three");
    EXPECT_EQ(leaf->string(4), nullptr);
    EXPECT_EQ(leaf->string(-1), nullptr);
    cProbe loose("X", nullptr);
    EXPECT_EQ(loose.string(3), nullptr);
    EXPECT_STREQ(loose.string(leaf, 3), "three");
    // A section of its own wins, even when it lacks the index.
    cProbe own("Y", nullptr);
    own.mySection = "u2test::none";
    EXPECT_EQ(own.string(leaf, 3), nullptr);
    delete top;
}

TEST(Form, ClipboardAndDesktopGoThroughTheWindow) {
    cWindowFixture f;
    cProbe* root = new cProbe("R", nullptr);
    f.open(root, 50, 50);
    f.maker.setDesktopSize(1280, 800);
    sSize d;
    ASSERT_TRUE(root->desktopSize(d));
    EXPECT_EQ(d.cx, 1280);
    EXPECT_EQ(d.cy, 800);
    EXPECT_TRUE(root->clipboardCopyText("h\xC3\xA9llo"));
    _guardchar<char> back;
    ASSERT_TRUE(root->clipboardRequestText(back));
    EXPECT_STREQ(back.ptr, "h\xC3\xA9llo");
    cProbe loose("L", nullptr);
    EXPECT_FALSE(loose.desktopSize(d));
    EXPECT_FALSE(loose.clipboardCopyText("x"));
}

// The committed picture of one small form. Set QMX_UPDATE_SNAPSHOTS=1 to rewrite it after
// an intended change of drawing; the test then fails until run again without the variable.
TEST(Form, SnapshotOfASmallFormMatchesTheCommittedPicture) {
    if (!cFontObject::get(5, 13, _glbalStdFont(), false, false, false)) GTEST_SKIP() << "no font installed";
    class cSnapForm : public cCustomForm {
    public:
        cPicture pict;
        void onConstruct() override {
            cCustomForm::onConstruct();
            cPanelChild* client = clientArea();
            client->setBgColor(0xFFFFFF);
            client->setBorderColor(0x808080);
            cStaticElement* title = new cStaticElement;
            client->attach(title, 0, 0, 1, 1);
            client->anchor(title, 8, 8, -17, 20);
            title->setColorSchema(0x202020, 0xF0E0D0, 0xA08060);
            title->setTextMargin(3);
            title->setText("Hello, form", cCanvas::taLeft, false);
            cStaticElement* right = new cStaticElement;
            client->attach(right, 8, 34, 100, 18);
            right->setColorSchema(0x000080, 0xFFFFFFFFu, 0xFFFFFFFFu);
            right->setTransparent(true);
            right->setText("right", cCanvas::taRight, false);
            unsigned int px[16 * 16];
            for (int y = 0; y < 16; y++)
                for (int x = 0; x < 16; x++)
                    px[y * 16 + x] = 0xFF000000u | (unsigned)(x * 16) << 16 | (unsigned)(y * 16) << 8 | 0x40;
            pict.create(px, 16, 16, false);
            cChildPicture* p = new cChildPicture;
            client->attach(p, 120, 34, 20, 20);
            p->refImage(&pict, false);
            cPanelChild* box = new cPanelChild;
            client->attach(box, 0, 0, 1, 1);
            client->anchor(box, -41, -31, 32, 22);
            box->setBgColor(0xC06030);
            box->setBorderColor(0x000000);
        }
    };
    cWindowFixture f;
    f.open(new cSnapForm, 160, 90);
    cCanvas* canvas = f.window->canvas();
    ASSERT_TRUE(canvas);
    ctltest::expectSnapshotFile(f.maker, f.window, "ui/form_snapshot", {0, 0, canvas->width(), canvas->height()});
    // Independent spot checks of what the form must show, whatever the committed file says.
    EXPECT_EQ(canvas->pixel(0, 0) & 0xFFFFFF, rgbOf(0x808080));     // the client panel's border
    EXPECT_EQ(canvas->pixel(4, 4) & 0xFFFFFF, 0xFFFFFFu);           // its background
    EXPECT_EQ(canvas->pixel(8, 8) & 0xFFFFFF, rgbOf(0xA08060));     // the title's frame
    EXPECT_EQ(canvas->pixel(151, 12) & 0xFFFFFF, rgbOf(0xA08060));  // 8-pixel margin on the right
    EXPECT_EQ(canvas->pixel(152, 12) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(canvas->pixel(125, 39) & 0xFFFFFF, 0x303040u);        // picture pixel (3, 3), centred
    EXPECT_EQ(canvas->pixel(120, 80) & 0xFFFFFF, rgbOf(0x000000));  // the box's frame at (-41,-31)
    EXPECT_EQ(canvas->pixel(125, 70) & 0xFFFFFF, rgbOf(0xC06030));
}
