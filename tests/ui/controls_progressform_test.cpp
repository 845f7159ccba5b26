// The progress forms: a job that reports and ends with its result, a job that is
// stopped, the status line's arithmetic (times, estimate clamp, percentage), formats
// from translations checked before use, the stage name kept as an own copy, the
// children's end action, the job stopped in the destructor, the words of the language.
#include <atomic>
#include <cstring>
#include <chrono>
#include <functional>
#include <thread>

#include "controls_testutil.h"
#include "ui/controls/progressform.h"

using namespace ctltest;

namespace {

// A form whose job is a small script and whose clock the test sets.
class cJobForm : public cStdBasicProgressForm {
public:
    std::function<unsigned int(cJobForm*)> body;
    std::atomic<unsigned int> clock{0};
    std::atomic<bool>* finished = nullptr;
    ~cJobForm() override { terminate(4000); }
    unsigned int clockMs() override { return clock; }

protected:
    unsigned int job() override {
        unsigned int r = body(this);
        if (finished) *finished = true;
        return r;
    }
};

template <class T>
std::string status(T* f) {
    const char* t = f->statusLine()->text();
    return t ? t : "";
}

}  // namespace

TEST(ProgressForm, StatusLineArithmetic) {
    struct Case {
        const char* stage;
        double percent;
        unsigned int elapsed;
        bool estimate;
        const char* want;
    } cases[] = {
        {"Operation", 37.46, 90000, true,
         "Operation progress: 37.4%. Time consumed: 00:01:30. Estimated time left: 00:02:30."},
        {"Download", 50, 25u * 3600000u, true,
         "Download progress: 50.0%. Time consumed: 25:00:00. Estimated time left: 25:00:00."},
        // A tiny percentage: the estimate is clamped to 32 bits of milliseconds.
        {"Scan", 0.0001, 90000, true,
         "Scan progress: 0.0%. Time consumed: 00:01:30. Estimated time left: 1193:02:47."},
        {"Copy", 10, 3723000, false, "Copy is in progress: time consumed: 01:02:03."},
    };
    for (auto& c : cases) {
        char line[256];
        cProgressStatus::format(line, sizeof line, c.stage, c.percent, (int)(10 * c.percent), c.elapsed, c.estimate,
                                nullptr, nullptr);
        EXPECT_STREQ(line, c.want);
    }
}

TEST(ProgressForm, TranslatedFormatsAreCheckedBeforeUse) {
    const char* ref = "%s progress: %.01f%%. Time consumed: %02d:%02d:%02d. Estimated time left: %02d:%02d:%02d.";
    struct Case {
        const char* candidate;
        bool taken;
    } cases[] = {
        {"%s Fortschritt: %.1f%%. Zeit: %02d:%02d:%02d. Rest: %02d:%02d:%02d.", true},
        {nullptr, false},
        {"%s %s %s %s", false},
        {"%s progress: %d%%. %02d:%02d:%02d %02d:%02d:%02d", false},
        {"%s %.01f %n %d %d %d %d %d", false},
        {"%s %.01f %d %d %d %d %d", false},
        {"%s %.01f %d %d %d %d %d %d %d", false},
        {"%", false},
    };
    for (auto& c : cases) EXPECT_EQ(cProgressStatus::checkedFormat(c.candidate, ref), c.taken ? c.candidate : ref);
}

// The stage's name is an own copy: replacing the stored one cannot pull it away.
TEST(ProgressForm, AJobThatReportsEndsTheFormWithItsResult) {
    cFixture f(100, 50);
    cJobForm* form = new cJobForm;
    std::string seen;
    form->setStageName(4, "Unpacking");
    form->body = [&](cJobForm* me) {
        me->notifyStage(4);
        me->setStageName(4, "Replaced");  // frees the stored name the stage took
        me->clock = 90000;
        me->notifyProgress(37.46);
        seen = status(me);
        me->clock = 90100;
        me->notifyProgress(50);  // closer than 501 ms: nothing shown
        if (status(me) != seen) seen = "changed";
        return 42u;
    };
    EXPECT_EQ(cStdBasicProgressForm::runUIJob(f.rec, form, "Working"), 42);
    EXPECT_EQ(seen, "Unpacking progress: 37.4%. Time consumed: 00:01:30. Estimated time left: 00:02:30.");
    f.pump();
    EXPECT_EQ(f.maker.windowCount(), 1);
}

TEST(ProgressForm, StopAsksTheJobAndTheFormWaitsForItsEnd) {
    struct Case {
        const char* how;
        std::function<void(cHeadlessWindowMaker*, cPlatformWindow*)> act;
    } cases[] = {
        {"Stop button",
         [](cHeadlessWindowMaker* m, cPlatformWindow* w) {
             cStdBasicProgressForm* form = rootOf<cStdBasicProgressForm>(w);
             cButtonChild* b = form->toolBar()->findButton(1);
             sRect r;
             form->childRect(b, &r);
             m->injectClick(w, r.x + 3, r.y + 3);
         }},
        {"Escape", [](cHeadlessWindowMaker* m, cPlatformWindow* w) { m->injectKey(w, kKeyEscape); }},
        {"close button", [](cHeadlessWindowMaker* m, cPlatformWindow* w) { m->injectClose(w); }},
    };
    for (auto& c : cases) {
        cFixture f(100, 50);
        cJobForm* form = new cJobForm;
        std::atomic<bool> asked{false};
        form->body = [&](cJobForm* me) {
            while (me->notifyProgress(1)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            asked = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the form must wait for this
            return 7u;
        };
        cScript script;
        bool stillOpen = false;
        script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* w) {
            c.act(m, w);
            m->pump();
            stillOpen = m->alive(w);
        };
        f.maker.setModalScript(&script);
        EXPECT_EQ(form->runUIJob(f.rec, "Stoppable"), 7) << c.how;
        EXPECT_TRUE(asked) << c.how;
        EXPECT_TRUE(stillOpen) << c.how << ": Stop does not close the form by itself";
    }
}

TEST(ProgressForm, WithoutAWindowNothingRunsAndTheFormIsFreed) {
    std::atomic<bool> ran{false};
    cJobForm* form = new cJobForm;
    form->body = [&](cJobForm*) {
        ran = true;
        return 1u;
    };
    cRecorder loose;
    EXPECT_EQ(cStdBasicProgressForm::runUIJob(&loose, form, "x"), 0);
    EXPECT_EQ(cStdBasicProgressForm::runUIJob(nullptr, nullptr, "x"), 0);
    EXPECT_FALSE(ran);
}

TEST(ProgressForm, DestroyingARunningFormStopsAndWaitsForItsJob) {
    std::atomic<bool> finished{false};
    {
        elemtest::cWindowFixture f;
        cJobForm* form = new cJobForm;
        form->finished = &finished;
        form->body = [](cJobForm* me) {
            while (me->notifyProgress(5)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            return 0u;
        };
        f.open(form, 600, 106);
        EXPECT_TRUE(form->runs());
        f.close();
        EXPECT_TRUE(finished) << "the job ended before the form went";
    }
}

TEST(ProgressForm, UnknownFormEndsWithItsJob) {
    class cUnknown : public cStdUnknownProgressForm {
    public:
        ~cUnknown() override { terminate(4000); }

    protected:
        unsigned int job() override {
            for (int i = 0; i < 30 && !haveToStop(); i++) sleep(10);
            return 3;
        }
    };
    cFixture f(100, 50);
    EXPECT_EQ(cStdBasicProgressForm::runUIJob(f.rec, new cUnknown, "Unknown"), 3);
}

// The form's own words come from the applied language's table: Stop, "Starting..." before
// the first report, the default stage name and the translated status format (its
// conversions checked). English is compared with the committed snapshot; German (long
// words) and Japanese (another script) are written beside the build for the eye.
TEST(ProgressForm, WordsOfTheAppliedLanguageAndSnapshot) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    struct Case {
        int lang;
        const char* stop;
        const char* starting;
        const char* line;
    } cases[] = {
        {eLangENG, "Stop", "Starting...",
         "Operation progress: 25.0%. Time consumed: 00:01:00. Estimated time left: 00:03:00."},
        {eLangDEU, "Stopp", "Wird gestartet...",
         "Vorgang Fortschritt: 25.0%. Verstrichene Zeit: 00:01:00. Gesch\xC3\xA4tzte Restzeit: 00:03:00."},
        {eLangJPN, "\xE5\x81\x9C\xE6\xAD\xA2", "\xE9\x96\x8B\xE5\xA7\x8B\xE3\x81\x97\xE3\x81\xA6\xE3\x81\x84\xE3\x81\xBE\xE3\x81\x99...",
         "\xE5\x87\xA6\xE7\x90\x86 \xE3\x81\xAE\xE9\x80\xB2\xE8\xA1\x8C\xE7\x8A\xB6\xE6\xB3\x81: 25.0%\xE3\x80\x82"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ciLangID(c.lang));
        cFixture f(100, 50);
        ASSERT_TRUE(cLibLang::applyLang(c.lang));
        cJobForm* form = new cJobForm;
        std::atomic<bool> go{false};
        std::string starting;
        form->body = [&](cJobForm* me) {
            starting = status(me);
            me->clock = 60000;
            me->notifyProgress(25);
            go = true;
            while (!me->haveToStop()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return 1u;
        };
        cScript script;
        script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* w) {
            for (int i = 0; i < 3000 && (!go || form->progressBar()->shownPos() != 250 ||
                                        form->progressBar()->shownOpacity() != 0.0);
                 i++) {
                m->pumpAll();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            EXPECT_STREQ(form->toolBar()->findButton(1)->text(), c.stop);
            EXPECT_EQ(status(form).compare(0, strlen(c.line), c.line), 0) << status(form);
            if (c.lang == eLangENG)
                expectSnapshot(f.maker, w, "progress_form", {0, 0, w->width(), w->height()});
            else
                m->snapshotPNG(w, (std::string(QMX_BINARY_DIR) + "/progress_form_" + ciLangID(c.lang) + ".png").c_str());
            m->injectKey(w, kKeyEscape);
        };
        f.maker.setModalScript(&script);
        EXPECT_EQ(form->runUIJob(f.rec, "Downloading"), 1);
        EXPECT_EQ(starting, c.starting);
    }
    cLibLang::applyLang(eLangENG);
}

// The children end with an action carrying the job's result; the unknown one shows its
// fake progress without an estimate.
TEST(ProgressForm, ChildrenReportTheEndAsAnAction) {
    class cJobChild : public cStdBasicProgressChild {
    public:
        ~cJobChild() override { terminate(4000); }

    protected:
        unsigned int job() override {
            notifyProgress(50);
            return 9;
        }
    };
    class cUnknownChild : public cStdUnknownProgressChild {
    public:
        ~cUnknownChild() override { terminate(4000); }

    protected:
        unsigned int job() override {
            for (int i = 0; i < 120 && !haveToStop(); i++) sleep(10);
            return 4;
        }
    };
    auto run = [](cStdBasicProgressChild* child, cFixture& f, const char* title) {
        int result = -1;
        f.rec->inspect = [&](cChildElement* s, cChildElement::cChildAction* a) {
            if (auto* p = dynamic_cast<cStdBasicProgressChild::cProgressAction*>(a)) result = p->result;
        };
        EXPECT_TRUE(child->runUIJob(title));
        f.pumpUntil([&] { return result >= 0; }, 30000);
        EXPECT_EQ(f.rec->count(child, 6), 1);
        f.rec->inspect = nullptr;
        return result;
    };
    cFixture f(400, 60);
    EXPECT_EQ(run(f.add<cJobChild>(5, 5, 390, 40), f, "Copying"), 9);
    cFixture g(400, 60);
    cUnknownChild* unknown = g.add<cUnknownChild>(5, 5, 390, 40);
    EXPECT_EQ(run(unknown, g, "Searching"), 4);
    std::string line = status(unknown);
    EXPECT_EQ(line.compare(0, 30, "Searching is in progress: time"), 0) << line;
}
