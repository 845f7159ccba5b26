// Message boxes: every kind answered by Enter, Escape and a click on each button, the
// window size from the text, default captions, the button row always fitting, and the
// answer without a window (No, never Yes).
#include <functional>
#include <string>
#include <vector>

#include "controls_testutil.h"
#include "ui/controls/messageform.h"

using namespace ctltest;

namespace {

void clickButton(cHeadlessWindowMaker* m, cPlatformWindow* w, int id) {
    cButtonChild* b = rootOf<cMessageForm>(w)->buttonRow()->findButton(id);
    ASSERT_TRUE(b);
    sRect r;
    rootOf<cMessageForm>(w)->childRect(b, &r);
    m->injectClick(w, r.x + r.w / 2, r.y + r.h / 2);
}

void tabToNo(cHeadlessWindowMaker* m, cPlatformWindow* w, int key) {
    m->injectKey(w, kKeyTab);
    EXPECT_TRUE(rootOf<cMessageForm>(w)->buttonRow()->findButton(2)->focused());
    m->injectKey(w, key);
}

}  // namespace

TEST(MessageBox, EveryKindAnswersEnterEscapeAndClicks) {
    typedef std::function<int(cChildElement*)> tBox;
    struct Kind {
        const char* name;
        tBox run;
        bool yesNo;
    } kinds[] = {
        {"info", [](cChildElement* p) { return cMessageForm::infobox(p, "Done.\nAll went well."); }, false},
        {"warning", [](cChildElement* p) { return cMessageForm::warningbox(p, "Careful."); }, false},
        {"error", [](cChildElement* p) { return cMessageForm::errorbox(p, "(e) Unable to create x!"); }, false},
        {"confirm", [](cChildElement* p) { return (int)cMessageForm::confirmbox(p, "Remove it?"); }, true},
        {"warnconfirm", [](cChildElement* p) { return (int)cMessageForm::warnconfirmbox(p, "Really?"); }, true},
    };
    struct Answer {
        const char* how;
        std::function<void(cHeadlessWindowMaker*, cPlatformWindow*)> act;
        int want;
        bool yesNoOnly;
    } answers[] = {
        {"Enter", [](cHeadlessWindowMaker* m, cPlatformWindow* w) { m->injectKey(w, kKeyEnter); }, 1, false},
        {"Escape", [](cHeadlessWindowMaker* m, cPlatformWindow* w) { m->injectKey(w, kKeyEscape); }, 0, false},
        {"click Ok/Yes", [](cHeadlessWindowMaker* m, cPlatformWindow* w) { clickButton(m, w, 1); }, 1, false},
        {"click No", [](cHeadlessWindowMaker* m, cPlatformWindow* w) { clickButton(m, w, 2); }, 0, true},
        // Return is the box's answer wherever the focus ring is; Space presses the button
        // that has it.
        {"Tab to No, Enter", [](cHeadlessWindowMaker* m, cPlatformWindow* w) { tabToNo(m, w, kKeyEnter); }, 1, true},
        {"Tab to No, Space", [](cHeadlessWindowMaker* m, cPlatformWindow* w) { tabToNo(m, w, kKeySpace); }, 0, true},
        {"close", [](cHeadlessWindowMaker* m, cPlatformWindow* w) { m->injectClose(w); }, 0, false},
    };
    for (auto& k : kinds)
        for (auto& a : answers) {
            if (a.yesNoOnly && !k.yesNo) continue;
            cFixture f(100, 50);
            cScript script;
            script.fn = a.act;
            f.maker.setModalScript(&script);
            EXPECT_EQ(k.run(f.rec), a.want) << k.name << " / " << a.how;
            f.pump();
            EXPECT_EQ(f.maker.windowCount(), 1) << k.name << ": the box is gone";
        }
}

TEST(MessageBox, WithoutAWindowTheAnswerIsNo) {
    cRecorder loose;
    EXPECT_FALSE(cMessageForm::confirmbox(&loose, "Delete everything?"));
    EXPECT_EQ(cMessageForm::infobox(&loose, "x"), 0);
    EXPECT_EQ(cMessageForm::infobox(nullptr, "x"), 0);
    cFixture f(100, 50);
    EXPECT_EQ(cMessageForm::infobox(f.rec, nullptr), 0);
    EXPECT_EQ(f.maker.windowCount(), 1);
}

TEST(MessageBox, WindowSizeFollowsTheText) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cFixture f(100, 50);
    cFontObject* bold = f.rec->createFont(6, 13, _glbalStdFont(), true);
    sSize line;
    f.rec->sizeOf("A long first line that sets the width of the box", line, bold);
    int H = line.cy;
    struct Case {
        const char* text;
        int lines;
        int height;
    } cases[] = {
        {"A long first line that sets the width of the box", 1, 115},
        {"A long first line that sets the width of the box\n", 1, 115},
        {"A long first line that sets the width of the box\n\nend", 3, (int)(2 * 1.5 * H) + 115},
    };
    for (auto& c : cases) {
        cScript script;
        int w = 0, h = 0;
        long long lines = -1;
        script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* win) {
            w = win->width();
            h = win->height();
            lines = rootOf<cMessageForm>(win)->lineCount();
            m->injectKey(win, kKeyEnter);
        };
        f.maker.setModalScript(&script);
        cMessageForm::infobox(f.rec, c.text, "caption");
        EXPECT_EQ(lines, c.lines) << c.text;
        EXPECT_EQ(h, c.height) << c.text;
        EXPECT_EQ(w, line.cx + 37 + 30) << c.text;
    }
}

// On a 1,024-pixel desktop a line too wide for it is broken (a path after a "/", words at
// blanks, Japanese between characters): the box and its button stay on the screen, no
// piece is cut by its label and nothing of the text is lost or doubled. A line that fits,
// however wide, stays whole.
TEST(MessageBox, LinesTooWideForTheScreenAreBroken) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    std::string path = "/home/someone/Applications/Example Drawing Tools";
    while (path.size() < 300) path += "/share/brushes";
    std::string words, cjk, fits = "Fits";
    for (int i = 0; i < 14; i++) words += "Softwarepakete entfernen ";
    for (int i = 0; i < 8; i++) cjk += "ソフトウェアマネージャーを削除できません。";
    {
        cFixture f(100, 50);
        for (sSize s = {0, 0}; f.rec->sizeOf((fits + " word").c_str(), s) && s.cx < 960;) fits += " word";
    }
    const struct {
        std::string text;
        bool path;
        size_t lines;  // 0: broken into more than the text's lines
    } cases[] = {{"Left as they were:\n" + path, true, 0},
                 {path + "\n" + path, true, 0},
                 {"Cannot remove!\n" + words, false, 0},
                 {cjk + "\n" + cjk, false, 0},
                 {"Cannot remove!\n" + fits, false, 2}};
    auto squeeze = [](std::string t) {
        std::string out;
        for (char c : t)
            if (c != ' ' && c != '\n') out += c;
        return out;
    };
    for (auto& c : cases) {
        cFixture f(100, 50);
        f.maker.setDesktopSize(1024, 768);
        cScript script;
        std::vector<std::string> pieces;
        script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* win) {
            cMessageForm* box = rootOf<cMessageForm>(win);
            EXPECT_LE(win->width(), 1024);
            cToolBarChild* row = box->buttonRow();
            EXPECT_GE(row->x(), 0);
            EXPECT_LE(row->x() + row->wantsWidth(), win->width());
            for (long long i = 0; i < box->lineCount(); i++) {
                cMessageForm::cStrTokenItem* line = box->line(i);
                sSize s;
                line->label.sizeOf(line->text.ptr, s, line->label.font());
                EXPECT_LE(s.cx, line->label.width()) << line->text.ptr;
                pieces.push_back(line->text.ptr);
            }
            m->injectKey(win, kKeyEnter);
        };
        f.maker.setModalScript(&script);
        EXPECT_EQ(cMessageForm::errorbox(f.rec, c.text.c_str()), 1);
        if (c.lines) {
            EXPECT_EQ(pieces.size(), c.lines) << c.text;
        } else {
            ASSERT_GT(pieces.size(), 3u) << c.text;
        }
        std::string joined;
        for (auto& piece : pieces) joined += piece;
        EXPECT_EQ(squeeze(joined), squeeze(c.text));
        // A path is cut only after its folders' names.
        for (auto& piece : pieces) {
            if (c.path && piece.back() != '/' && piece.back() != ':') {
                EXPECT_EQ(path.substr(path.size() - piece.size()), piece);
            }
        }
    }
}

TEST(MessageBox, ShortMessagesAreAtLeastAsWideAsTheirButtons) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    for (const char* text : {"", "?", "ok"}) {
        cFixture f(100, 50);
        cScript script;
        int ww = 0, left = -1, right = -1, h = 0;
        script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* win) {
            ww = win->width();
            h = win->height();
            cToolBarChild* row = rootOf<cMessageForm>(win)->buttonRow();
            left = row->x();
            right = row->x() + row->wantsWidth();
            m->injectKey(win, kKeyEscape);
        };
        f.maker.setModalScript(&script);
        EXPECT_FALSE(cMessageForm::confirmbox(f.rec, text));
        EXPECT_GE(left, 0) << "'" << text << "': the Yes button starts inside the window";
        EXPECT_LE(right, ww) << text;
        if (!*text) {
            EXPECT_EQ(h, 105);
        }
    }
}

TEST(MessageBox, DefaultCaptionsComeFromTheLanguageTable) {
    cFixture f(100, 50);
    std::string caption;
    cScript script;
    script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* win) {
        caption = win->caption() ? win->caption() : "";
        m->injectKey(win, kKeyEscape);
    };
    f.maker.setModalScript(&script);
    struct {
        std::function<void()> show;
        const char* want;
    } cases[] = {
        {[&] { cMessageForm::infobox(f.rec, "x"); }, "Information"},
        {[&] { cMessageForm::warningbox(f.rec, "x"); }, "Warning"},
        {[&] { cMessageForm::errorbox(f.rec, "x"); }, "Error"},
        {[&] { cMessageForm::warnconfirmbox(f.rec, "x"); }, "Confirm"},
        {[&] { cMessageForm::errorbox(f.rec, "x", "Own"); }, "Own"},
    };
    for (auto& c : cases) {
        c.show();
        EXPECT_EQ(caption, c.want);
    }
}

TEST(MessageBox, Snapshot) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cFixture f(100, 50);
    cScript script;
    script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* win) {
        expectSnapshot(f.maker, win, "message_confirm", {0, 0, win->width(), win->height()});
        m->injectKey(win, kKeyEscape);
    };
    f.maker.setModalScript(&script);
    cMessageForm::confirmbox(f.rec, "Remove the package?\nIts files will be deleted.\nSettings stay.", "Confirm");
}
