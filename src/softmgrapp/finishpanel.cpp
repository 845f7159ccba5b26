// The finish page: the result of the installation job and the on-completion programs.
#include "softmgrapp/finishpanel.h"

#include <sys/stat.h>
#include <unistd.h>

#include "base/process.h"
#include "ciplatform/canvas.h"
#include "instengine/installfs.h"
#include "softmgrapp/appcontrols.h"
#include "softmgrapp/appmessages.h"
#include "softmgrapp/jobforms.h"

cFinishPanel::tStarter cFinishPanel::gStarter = startDetached;

namespace {

// A message that names files: `build` makes it with a number of names (the others
// counted, "and N more"). fits: whether it fits a box of `width` x `height` with `shown`
// names; fitNames: the text with as many as fit (down to none), its last sentence whole.
template <typename tBuild>
bool fits(tBuild build, long long shown, int width, int height) {
    _guardchar<char> text;
    build(shown, text);
    return wrappedFitHeight(text.ptr, mkStdFont(), width) <= height;
}

template <typename tBuild>
void fitNames(tBuild build, long long most, int width, int height, _guardchar<char>& out) {
    // A name takes a line at least: no more fit than the box has lines.
    int line = wrappedHeight("X", mkStdFont(), width);
    if (line > 0 && most > height / line) most = height / line;
    for (long long shown = most;; shown--) {
        build(shown, out);
        if (shown <= 0 || wrappedFitHeight(out.ptr, mkStdFont(), width) <= height) return;
    }
}

}  // namespace

void cErrorDispl::onPaint(cCanvas* canvas) {
    sRect all = {0, 0, width(), height()};
    canvas->drawRect(&all, 0xFFFFFF, 0xFFFFFF);
    const char* t = text();
    if (!t || !*t) return;
    canvas->setTextMode(mkStdFont());
    canvas->setTextColors(defaultBackgroundColor(), 0xFFFFFF);
    sSize used;
    canvas->drawTextWrapped(0, 0, width(), height(), cCanvas::taLeft, t, used);
}

cFinishPanel::~cFinishPanel() { clearActions(); }

void cFinishPanel::onInitData() {
    cPanelChild::onInitData();
    setBorderColor(0xFFFFFF);
    setBgColor(0xFFFFFF);
    if (!myTitle) {
        myTitle = new cStaticElement;
        attach(myTitle, 10, 10, 10, 20);
        myMessage = new cErrorDispl;
        attach(myMessage, 10, 40, 10, 60);
    }
    // Fixed places, whatever the language (every translation fits them): the title on one
    // line, the message in its box, the boxes below from y 110.
    anchor(myTitle, 10, 10, -21, 20);
    myTitle->setColorSchema(0x655654, 0xFFFFFF, 0xFFFFFF);
    myTitle->setFont(mkBtnFont(false));
    myTitle->setTextDispMode(cStaticElement::eTDMSingleLine);
    anchor(myMessage, 10, 40, -21, 60);
}

void cFinishPanel::clearActions() {
    for (auto* it = myActions.head; it; it = it->next) {
        if (!it->value.box) continue;
        dettach(it->value.box);
        delete it->value.box;
    }
    myActions.destroy();
}

void cFinishPanel::init(sPkgInstallContext* ctx) {
    clearActions();
    if (!myTitle) onInitData();
    if (!ctx) {
        myTitle->setText("", cCanvas::taLeft);
        myMessage->setText("", -1, true);
        return;
    }
    if (ctx->result != eIJOk) {
        // No boxes follow an error: its text takes the room down to the bottom margin, so
        // that no error is cut before its end.
        anchor(myMessage, 10, 40, -21, -61);
        myTitle->setText(string(eFinFailedTitle), cCanvas::taLeft);
        myMessage->setDefaultBackgroundColor(0x4040A0);
        // What stays of the earlier version after the error itself, as far as names fit.
        _guardchar<char> text;
        auto build = [&](long long shown, _guardchar<char>& out) { installFailedMessage(*ctx, shown, out); };
        long long names = ctx->leftovers.count() + ctx->notRemoved.count() + ctx->keptFiles.count() +
                          ctx->refusedFiles.count();
        fitNames(build, names, myMessage->width(), myMessage->height(), text);
        myMessage->setText(text.ptr, -1, true);
        repaint();
        return;
    }
    anchor(myMessage, 10, 40, -21, 60);
    myTitle->setText(string(eFinDone), cCanvas::taLeft);
    myMessage->setDefaultBackgroundColor(0x655654);
    const char* hint = string(eFinStartHint);
    _List<cSoftPkgScenario::sOnCompletionRun> runs;
    bool haveRuns = ctx->getOnCompletionRun(runs);
    // What the run left of the earlier version is named below the hint (in its place when
    // both do not fit); the message grows as far as every box still fits below it (or as
    // its words need) and the boxes follow.
    _guardchar<char> text;
    long long names = ctx->keptFiles.count() + ctx->refusedFiles.count();
    int room = height() - 60 - 25 * (int)runs.count();
    if (room < 60) room = 60;
    auto after = [&](const char* head) {
        return [ctx, head](long long shown, _guardchar<char>& out) {
            out.set(head ? head : "");
            appendEarlierLeft(*ctx, shown, out);
        };
    };
    // The names before the hint: it goes where not one name fits beside it but one would
    // alone.
    const int width = myMessage->width();
    if (names && !fits(after(hint), 1, width, room) && fits(after(nullptr), 1, width, room)) hint = nullptr;
    fitNames(after(hint), names, width, room, text);
    int need = names ? wrappedFitHeight(text.ptr, mkStdFont(), width) : 0;
    if (need > 60) anchor(myMessage, 10, 40, -21, need);
    myMessage->setText(text.ptr, -1, true);
    if (haveRuns) {
        int y = myMessage->y() + myMessage->height() + 10;
        for (auto* it = runs.head; it; it = it->next) {
            // Boxes stop above the panel's bottom margin; the rest are not offered.
            if (y > height() - 20) break;
            const cSoftPkgScenario::sOnCompletionRun& r = it->value;
            sActions* a = myActions.add();
            if (!a) break;
            a->program.set(r.target.ptr ? r.target.ptr : "");
            a->args.set(r.args.ptr ? r.args.ptr : "");
            if (a->args.empty()) {
                a->commandLine.set(a->program.ptr);
            } else {
                _guardchar<char> head;
                concatText("\"", a->program.ptr, head);
                _guardchar<char> mid;
                concatText(head.ptr, "\" ", mid);
                concatText(mid.ptr, a->args.ptr, a->commandLine);
            }
            a->box = new cCheckBoxChild;
            attach(a->box, 15, y, 10, 18);
            anchor(a->box, 15, y, -31, 18);
            a->box->setColorSchema(0x655654, 0xFFFFFF, 0xFFFFFF);
            a->box->setText(r.name.ptr ? r.name.ptr : "", cCanvas::taLeft);
            a->box->setChecked(r.checked != 0, false);
            y += 25;
        }
    }
    repaint();
}

void cFinishPanel::finalize() {
    for (auto* it = myActions.head; it; it = it->next) {
        sActions& a = it->value;
        if (!a.box || !a.box->checked() || a.program.empty()) continue;
        struct stat st;
        if (stat(a.program.ptr, &st) != 0) continue;
        if (S_ISREG(st.st_mode) && access(a.program.ptr, X_OK) == 0) {
            // The program and its arguments as words: the path (which holds the folder
            // the user chose) is never parsed by a shell.
            _typebuf<char> storage;
            _typebuf<char*> words;
            bool haveArgs = !a.args.empty() && splitCommandLine(a.args.ptr, storage, words);
            long long n = haveArgs ? words.count - 1 : 0;
            _typebuf<const char*> argv;
            if (!argv.set(n + 2)) continue;
            argv.ptr[0] = a.program.ptr;
            for (long long i = 0; i < n; i++) argv.ptr[i + 1] = words.ptr[i];
            argv.ptr[n + 1] = nullptr;
            gStarter(argv.ptr);
        } else {
            const char* argv[] = {"xdg-open", a.program.ptr, nullptr};
            gStarter(argv);
        }
    }
}
