// The X11 window maker on a private Xvfb server, driven by real peers: xdotool presses,
// types and turns the wheel through XTEST, XGetImage reads back what the server shows,
// xclip owns and reads the clipboard. Skipped with a message when Xvfb cannot start.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "ciplatform/headless.h"
#include "testutil.h"
#include "ui/element_testutil.h"
#include "ui/panelchild.h"
#include "ui/staticelement.h"
#include "x11/x11keys.h"
#include "x11/x11maker.h"
#include "xvfb.h"

// Xlib after gtest: its macros (None, Bool) would break gtest's own headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/Xatom.h>
#include <X11/cursorfont.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/scrnsaver.h>
#include <X11/keysym.h>

using namespace elemtest;

namespace {

#define NEED_XVFB()                                                         \
    std::string why_;                                                       \
    if (xvfbtest::display(&why_).empty()) GTEST_SKIP() << "no Xvfb: " << why_; \
    if (!testutil::haveTool("xdotool")) GTEST_SKIP() << "xdotool is not installed"; \
    setenv("DISPLAY", xvfbtest::display().c_str(), 1);

// A probe that also notifies a click action, as buttons do.
class cClickProbe : public cProbe {
public:
    using cProbe::cProbe;
    void onMouseButton(int x, int y, int button, bool down) override {
        cProbe::onMouseButton(x, y, button, down);
        if (down && button == kMouseLeft) notifyAction(new cChildAction(eActClick));
    }
};

// A form whose actions (those its children bubble up) are logged.
class cLogForm : public cCustomForm {
public:
    cLog* log = nullptr;
    int* closeRequests = nullptr;  // outlives the form
    bool refuseClose = false;
    bool onAction(cChildElement* sender, cChildAction* action) override {
        const cProbe* p = dynamic_cast<const cProbe*>(sender);
        log->add("form:act " + std::to_string(action->type) + " from " + (p ? p->myName : std::string("?")));
        return true;
    }
    bool onClose() override {
        if (closeRequests) (*closeRequests)++;
        return !refuseClose;
    }
};

// The test form: two coloured probes and a label, the same for both makers.
struct sForm {
    cLog log;
    cLogForm* form = nullptr;
    cClickProbe* a = nullptr;
    cClickProbe* b = nullptr;
    cStaticElement* label = nullptr;
    cChildElement* build() {
        form = new cLogForm();
        form->log = &log;
        a = new cClickProbe("A", &log, true);
        a->myFill = 0x0000C0;  // red
        a->myTakeKeys = true;
        a->myTakeWheel = true;
        b = new cClickProbe("B", &log, true);
        b->myFill = 0xC08000;  // teal blue
        label = new cStaticElement();
        form->clientArea()->attach(a, 20, 20, 120, 40);
        form->clientArea()->attach(b, 160, 20, 120, 40);
        form->clientArea()->attach(label, 20, 80, 260, 24);
        label->setText("Xvfb shows it", cCanvas::taLeft, false);
        return form;
    }
};

struct cX11Fixture {
    cX11WindowMaker* maker = nullptr;
    cElementHost* host = nullptr;
    cPlatformWindow* window = nullptr;

    bool open(cChildElement* root, int w, int h, const char* caption = "x11 test") {
        maker = cX11WindowMaker::open(xvfbtest::display().c_str());
        if (!maker) return false;
        host = new cElementHost(maker, root, true);
        window = maker->createWindow(host, caption, w, h, nullptr, 0);
        if (!window) return false;
        host->bind(window);
        return waitShown(window);
    }
    bool waitShown(cPlatformWindow* w) {
        struct sArg {
            cX11WindowMaker* m;
            cPlatformWindow* w;
        } arg = {maker, w};
        return maker->runUntil(
            [](void* p) {
                sArg* a = (sArg*)p;
                return a->m->shown(a->w) && a->m->focusedWindow() == a->w;
            },
            &arg, 30000);
    }
    bool waitShownOnly(cPlatformWindow* w) {
        struct sArg {
            cX11WindowMaker* m;
            cPlatformWindow* w;
        } arg = {maker, w};
        return maker->runUntil([](void* p) { return ((sArg*)p)->m->shown(((sArg*)p)->w); }, &arg, 30000);
    }
    // Pumps so that what a peer sent arrives: a peer that ended had the server handle all
    // its requests, so after our own round trip its events are in our queue; then pumps
    // for a while for what they set off.
    void settle(int ms = 150) {
        maker->sync();
        maker->runUntil([](void*) { return false; }, nullptr, ms);
    }
    std::string id() { return std::to_string(maker->xid(window)); }
    // xdotool reads the text it types in the locale's encoding: a run without LANG (the C
    // locale) would refuse "é", so it gets a UTF-8 locale of its own.
    int xdo(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"env", "LC_ALL=C.UTF-8", "xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        int r = xvfbtest::runPumping(maker, argv);
        settle();
        return r;
    }
    ~cX11Fixture() {
        if (window && maker->alive(window)) maker->destroy(window);
        delete maker;
    }
};

// The server's pixels of a window (0x00RRGGBB), read through a connection of our own.
bool grabPixels(unsigned long xid, int w, int h, std::vector<unsigned int>& out) {
    Display* d = XOpenDisplay(xvfbtest::display().c_str());
    if (!d) return false;
    XImage* img = XGetImage(d, (Window)xid, 0, 0, (unsigned)w, (unsigned)h, AllPlanes, ZPixmap);
    bool ok = img != nullptr;
    if (ok) {
        out.resize((size_t)w * h);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) out[(size_t)y * w + x] = (unsigned int)XGetPixel(img, x, y) & 0xFFFFFF;
        XDestroyImage(img);
    }
    XCloseDisplay(d);
    return ok;
}

}  // namespace

TEST(X11Keys, MapsEveryToolkitKeyIncludingTheKeypad) {
    struct {
        unsigned long sym;
        int code;
    } cases[] = {{XK_space, 32},     {XK_BackSpace, 264}, {XK_Tab, 265},       {XK_ISO_Left_Tab, 265},
                 {XK_Escape, 283},   {XK_Home, 336},      {XK_Left, 337},      {XK_Up, 338},
                 {XK_Right, 339},    {XK_Down, 340},      {XK_Prior, 341},     {XK_Next, 342},
                 {XK_End, 343},      {XK_Insert, 355},    {XK_Return, 397},    {XK_KP_Enter, 397},
                 {XK_KP_Add, 427},   {XK_KP_Subtract, 429}, {XK_F1, 446},      {XK_F4, 449},
                 {XK_F5, 450},       {XK_F12, 457},       {XK_Delete, 511},    {XK_KP_Delete, 511},
                 {XK_KP_Home, 336},  {XK_q, 'Q'},         {XK_Q, 'Q'},         {XK_7, '7'},
                 {XK_Shift_L, 0},    {XK_Control_L, 0},   {XK_Cyrillic_a, 0}};
    for (auto& c : cases) EXPECT_EQ(x11KeyCode(c.sym), c.code) << "keysym 0x" << std::hex << c.sym;
    // Text of keys when no input method runs: Latin-1 and the Unicode keysym range.
    EXPECT_EQ(x11KeysymChar(XK_eacute), 0xE9u);
    EXPECT_EQ(x11KeysymChar(0x01003042), 0x3042u);
    EXPECT_EQ(x11KeysymChar(0x0100D800), 0u);  // a surrogate is no character
    EXPECT_EQ(x11KeysymChar(XK_Return), 0u);
}

TEST(X11Maker, ChoosesHeadlessWithoutAUsableDisplay) {
    cWindowMaker::setDisplayFactory(cX11WindowMaker::displayFactory);
    const char* saved = getenv("DISPLAY");
    std::string keep = saved ? saved : "";
    struct {
        const char* display;
    } cases[] = {{nullptr}, {""}, {":9999"}};
    for (auto& c : cases) {
        if (c.display)
            setenv("DISPLAY", c.display, 1);
        else
            unsetenv("DISPLAY");
        cWindowMaker* m = cWindowMaker::newWindowMaker(nullptr, 0, 0);
        ASSERT_NE(m, nullptr);
        EXPECT_TRUE(m->headless()) << (c.display ? c.display : "(unset)");
        delete m;
    }
    std::string why;
    if (!xvfbtest::display(&why).empty()) {
        setenv("DISPLAY", xvfbtest::display().c_str(), 1);
        cWindowMaker* m = cWindowMaker::newWindowMaker(nullptr, 0, 0);
        ASSERT_NE(m, nullptr);
        EXPECT_FALSE(m->headless());
        delete m;
    }
    if (saved)
        setenv("DISPLAY", keep.c_str(), 1);
    else
        unsetenv("DISPLAY");
}

TEST(X11Maker, ClicksTypesAndWheelsThroughXdotoolReachTheElements) {
    NEED_XVFB();
    sForm f;
    cX11Fixture x;
    ASSERT_TRUE(x.open(f.build(), 300, 120));
    sPoint at;
    x.window->screenPos(at);

    // A press in A: the element's coordinates and its click action bubbling to the form.
    ASSERT_EQ(x.xdo({"mousemove", "--window", x.id(), "30", "35", "click", "1"}), 0);
    EXPECT_TRUE(f.log.has("A:press 10,15")) << f.log.lines.size();
    EXPECT_TRUE(f.log.has("A:release 10,15"));
    EXPECT_TRUE(f.log.has("form:act 0 from A"));

    // Typed text through the input method, keys with their toolkit codes.
    f.log.clear();
    ASSERT_EQ(x.xdo({"type", "--delay", "20", "Hé1"}), 0);
    EXPECT_TRUE(f.log.has("A:char 72"));
    EXPECT_TRUE(f.log.has("A:char 233"));
    EXPECT_TRUE(f.log.has("A:char 49"));
    f.log.clear();
    ASSERT_EQ(x.xdo({"key", "KP_Enter", "KP_Add", "KP_Subtract", "ctrl+c", "F5"}), 0);
    EXPECT_TRUE(f.log.has("A:key 397"));
    EXPECT_TRUE(f.log.has("A:key 427"));
    EXPECT_TRUE(f.log.has("A:key 429"));
    EXPECT_TRUE(f.log.has("A:key 67C"));
    EXPECT_TRUE(f.log.has("A:key 450"));
    // The keypad's + and - type their characters too; Ctrl+C types nothing.
    EXPECT_TRUE(f.log.has("A:char 43"));
    EXPECT_TRUE(f.log.has("A:char 45"));
    EXPECT_EQ(f.log.countPrefix("A:char"), 2);

    // Wheel buttons 4-7: direction and axis.
    f.log.clear();
    ASSERT_EQ(x.xdo({"click", "4", "click", "5", "click", "6", "click", "7"}), 0);
    EXPECT_TRUE(f.log.has("A:wheel 10,15 up 1"));
    EXPECT_TRUE(f.log.has("A:wheel 10,15 down 1"));
    EXPECT_TRUE(f.log.has("A:wheel 10,15 up h 1"));
    EXPECT_TRUE(f.log.has("A:wheel 10,15 down h 1"));

    // Two quick presses are a double click; two slow ones are not.
    f.log.clear();
    ASSERT_EQ(x.xdo({"mousemove", "--window", x.id(), "170", "30", "click", "--repeat", "2", "--delay", "60", "1"}),
              0);
    EXPECT_EQ(f.log.countPrefix("B:dbl"), 1);
    f.log.clear();
    ASSERT_EQ(x.xdo({"click", "--repeat", "2", "--delay", "700", "1"}), 0);
    EXPECT_EQ(f.log.countPrefix("B:dbl"), 0);
    EXPECT_EQ(f.log.countPrefix("B:press"), 2);
}

static void compareWithHeadless(bool shm);

TEST(X11Maker, ScreenMatchesTheHeadlessSnapshotOfTheSameForm) {
    NEED_XVFB();
    for (int shm = 1; shm >= 0; shm--) {
        SCOPED_TRACE(shm ? "MIT-SHM" : "XPutImage");
        if (shm)
            unsetenv("QMX_X11_NOSHM");
        else
            setenv("QMX_X11_NOSHM", "1", 1);
        compareWithHeadless(shm != 0);
    }
    unsetenv("QMX_X11_NOSHM");
}

static void compareWithHeadless(bool shm) {
    const int W = 300, H = 120;
    sForm hf;
    cWindowFixture headless;
    headless.open(hf.build(), W, H);
    sForm xf;
    cX11Fixture x;
    ASSERT_TRUE(x.open(xf.build(), W, H));
    if (shm && !x.maker->sharedMemory()) std::printf("(the server refused MIT-SHM: XPutImage twice)\n");
    if (!shm) {
        EXPECT_FALSE(x.maker->sharedMemory());
    }
    std::vector<unsigned int> shown;
    ASSERT_TRUE(grabPixels(x.maker->xid(x.window), W, H, shown));
    _typebuf<unsigned char> png;
    ASSERT_TRUE(cHeadlessWindowMaker::encodePNG(shown.data(), W, H, false, png));
    testutil::writeFile(std::string(QMX_BINARY_DIR) + "/x11_form.png", png.ptr, (size_t)png.count);

    // Chosen pixels: both probes, the form's background, and the label's ink.
    const cCanvas* c = headless.window->canvas();
    int points[][2] = {{25, 25}, {100, 50}, {170, 30}, {270, 55}, {5, 5}, {295, 115}, {150, 70}};
    for (auto& p : points)
        EXPECT_EQ(shown[(size_t)p[1] * W + p[0]], c->pixel(p[0], p[1]) & 0xFFFFFF) << p[0] << "," << p[1];
    EXPECT_EQ(shown[25 * W + 25], 0xC00000u);
    int ink = 0, same = 0;
    for (int y = 80; y < 104; y++)
        for (int xx = 20; xx < 280; xx++) {
            unsigned int h = c->pixel(xx, y) & 0xFFFFFF;
            if (h != (c->pixel(5, 5) & 0xFFFFFF)) ink++;
            if (shown[(size_t)y * W + xx] == h) same++;
        }
    EXPECT_GT(ink, 50) << "the label drew text";
    EXPECT_EQ(same, 24 * 260) << "the label's pixels are what the headless canvas holds";
}

namespace {

// The test's modal dialog: one probe; a click in it ends the run with 7.
class cEndingProbe : public cProbe {
public:
    using cProbe::cProbe;
    int code = 7;
    void onMouseButton(int x, int y, int button, bool down) override {
        cProbe::onMouseButton(x, y, button, down);
        if (!down) return;
        if (!inme(x, y))
            root()->end_modal(code + 100);  // a popup's outside press
        else
            root()->end_modal(code);
    }
};

// The window manager's close button: WM_DELETE_WINDOW sent from a connection of our own.
bool sendClose(unsigned long xid) {
    Display* d = XOpenDisplay(xvfbtest::display().c_str());
    if (!d) return false;
    XEvent ev = {};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = (Window)xid;
    ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, (Window)xid, False, NoEventMask, &ev);
    XCloseDisplay(d);
    return true;
}

}  // namespace

TEST(X11Maker, ModalDialogBlocksItsParentAndRefusedCloseKeepsItOpen) {
    NEED_XVFB();
    sForm f;
    cX11Fixture x;
    ASSERT_TRUE(x.open(f.build(), 400, 300));
    cLogForm* dlg = new cLogForm();
    dlg->log = &f.log;
    dlg->refuseClose = true;
    int closes = 0;
    dlg->closeRequests = &closes;
    cEndingProbe* ok = new cEndingProbe("OK", &f.log);
    ok->myFill = 0x00A000;
    dlg->clientArea()->attach(ok, 0, 0, 200, 100);
    // A peer thread acts once the dialog is up: a click on the parent's probe (blocked), a
    // close request to the dialog (refused), then a click in the dialog (ends it).
    std::string parent = x.id();
    int steps = 0;
    std::thread peer([&] {
        // Waits (generously) until the dialog is shown, whatever the machine's load.
        unsigned long dialog = 0;
        for (int i = 0; i < 600 && !dialog; i++) {
            std::string found;
            testutil::run({"xdotool", "search", "--onlyvisible", "--name", "^modal dialog$"}, &found);
            dialog = strtoul(found.c_str(), nullptr, 10);
            if (!dialog) usleep(100000);
        }
        if (testutil::run({"xdotool", "mousemove", "--window", parent, "30", "35", "click", "1"}) == 0) steps++;
        if (dialog && sendClose(dialog)) steps++;
        usleep(300000);
        if (testutil::run({"xdotool", "mousemove", "--window", std::to_string(dialog), "50", "50", "click", "1"}) ==
            0)
            steps++;
    });
    f.log.clear();
    int code = cChildElement::modalWindow(x.maker, "modal dialog", 200, 100, dlg, f.form, 0);
    peer.join();
    EXPECT_EQ(steps, 3);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(code, 7);
    EXPECT_EQ(f.log.countPrefix("A:press"), 0) << "the parent got input during the modal run";
    EXPECT_TRUE(f.log.has("OK:press 50,50"));
    // After the run the parent takes input again.
    f.log.clear();
    x.settle(300);
    ASSERT_EQ(x.xdo({"mousemove", "--window", parent, "30", "35", "click", "1"}), 0);
    EXPECT_TRUE(f.log.has("A:press 10,15"));
}

namespace {

// Whether window a stands above window b among the root's children (stacking order).
bool standsAbove(Display* d, unsigned long a, unsigned long b) {
    Window root, parent, *kids = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &kids, &n)) return false;
    int ia = -1, ib = -1;
    for (unsigned int i = 0; i < n; i++) {
        if (kids[i] == (Window)a) ia = (int)i;
        if (kids[i] == (Window)b) ib = (int)i;
    }
    if (kids) XFree(kids);
    return ia >= 0 && ib >= 0 && ia > ib;
}

}  // namespace

// A dialog buried under the window that waits for it (as a window manager raises a window
// that is clicked) comes back to the front at a click or a close request on that window,
// which itself gets neither.
TEST(X11Maker, InputToTheWindowBehindADialogBringsTheDialogBack) {
    NEED_XVFB();
    sForm f;
    cX11Fixture x;
    ASSERT_TRUE(x.open(f.build(), 400, 300));
    int parentCloses = 0;
    f.form->closeRequests = &parentCloses;
    cLogForm* dlg = new cLogForm();
    dlg->log = &f.log;
    cEndingProbe* ok = new cEndingProbe("OK", &f.log);
    dlg->clientArea()->attach(ok, 0, 0, 200, 100);
    unsigned long parent = x.maker->xid(x.window);
    bool buried[2] = {false, false}, back[2] = {false, false};
    std::thread peer([&] {
        Display* d = XOpenDisplay(xvfbtest::display().c_str());
        unsigned long dialog = 0;
        for (int i = 0; i < 600 && !dialog && d; i++) {
            std::string found;
            testutil::run({"xdotool", "search", "--onlyvisible", "--name", "^buried dialog$"}, &found);
            dialog = strtoul(found.c_str(), nullptr, 10);
            if (!dialog) usleep(100000);
        }
        for (int step = 0; step < 2 && dialog; step++) {
            XRaiseWindow(d, (Window)parent);
            XSync(d, False);
            buried[step] = standsAbove(d, parent, dialog);
            if (step == 0)
                testutil::run({"xdotool", "mousemove", "--window", std::to_string(parent), "30", "35", "click", "1"});
            else
                sendClose(parent);
            for (int i = 0; i < 50 && !back[step]; i++) {
                usleep(20000);
                back[step] = standsAbove(d, dialog, parent);
            }
        }
        // Whatever happened, the dialog is ended by a click in it, raised first.
        if (d && dialog) {
            XRaiseWindow(d, (Window)dialog);
            XSync(d, False);
        }
        if (d) XCloseDisplay(d);
        testutil::run({"xdotool", "mousemove", "--window", std::to_string(dialog), "50", "50", "click", "1"});
    });
    f.log.clear();
    int code = cChildElement::modalWindow(x.maker, "buried dialog", 200, 100, dlg, f.form, 0);
    peer.join();
    EXPECT_EQ(code, 7);
    for (int step = 0; step < 2; step++) {
        EXPECT_TRUE(buried[step]) << step;
        EXPECT_TRUE(back[step]) << (step ? "a close request" : "a click") << " left the dialog buried";
    }
    EXPECT_EQ(parentCloses, 0);
    EXPECT_EQ(f.log.countPrefix("A:press"), 0);
}

namespace {

// A form that, once its modal run has gone on for a while, asks the server about its own
// window through a connection of its own (`look`), then ends with 5.
class cLookForm : public cCustomForm {
public:
    cX11Fixture* fx = nullptr;
    std::function<void(Display*, Window)> look;  // outlives the form
    void onConstruct() override {
        cCustomForm::onConstruct();
        postAction(new cChildAction(77));
    }
    bool onAction(cChildElement* sender, cChildAction* action) override {
        if (sender != this || action->type != 77) return cCustomForm::onAction(sender, action);
        fx->settle(400);
        Display* d = XOpenDisplay(xvfbtest::display().c_str());
        if (d) look(d, (Window)fx->maker->xid(platformWindow()));
        if (d) XCloseDisplay(d);
        end_modal(5);
        return true;
    }
};

}  // namespace

// A window made hidden is run modally without ever being mapped (a carrier that only
// stands under its dialogs): no window manager can show it late.
TEST(X11Maker, ModalRunOfAWindowMadeHiddenNeverMapsIt) {
    NEED_XVFB();
    sForm f;
    cX11Fixture x;
    ASSERT_TRUE(x.open(f.build(), 200, 100));
    int mapState = -1;
    cLookForm* carrier = new cLookForm;
    carrier->fx = &x;
    carrier->look = [&](Display* d, Window w) {
        XWindowAttributes wa;
        if (XGetWindowAttributes(d, w, &wa)) mapState = wa.map_state;
    };
    EXPECT_EQ(cChildElement::modalWindow(x.maker, "hidden carrier", 120, 60, carrier, nullptr, kWFHidden), 5);
    EXPECT_EQ(mapState, IsUnmapped);
}

// A dialog that fits the screen, over an owner near its bottom-right corner, is kept on the
// screen (the server's own idea of where it stands).
TEST(X11Maker, DialogOverAnOwnerAtTheEdgeStaysOnTheScreen) {
    NEED_XVFB();
    sForm f;
    cX11Fixture x;
    ASSERT_TRUE(x.open(f.build(), 200, 100));
    x.window->move(800, 650, 0, 0);
    x.settle();
    int at[2] = {-1, -1};
    cLookForm* dlg = new cLookForm;
    dlg->fx = &x;
    dlg->look = [&](Display* d, Window w) {
        Window child;
        XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &at[0], &at[1], &child);
    };
    EXPECT_EQ(cChildElement::modalWindow(x.maker, "edge dialog", 1000, 200, dlg, f.form, 0), 5);
    sSize desk = {0, 0};
    ASSERT_TRUE(x.maker->desktopSize(desk));
    EXPECT_GE(at[0], 0);
    EXPECT_LE(at[0] + 1000, desk.cx);
    EXPECT_LE(at[1] + 200, desk.cy);
}

TEST(X11Maker, GrabbingPopupSeesAPressOutsideIt) {
    NEED_XVFB();
    sForm f;
    cX11Fixture x;
    ASSERT_TRUE(x.open(f.build(), 400, 300));
    sPoint at;
    x.window->screenPos(at);
    cEndingProbe* content = new cEndingProbe("P", &f.log);
    content->myFill = 0x00A0A0;
    // The popup at (at + 200, at + 150); the peer presses on the parent window at (30, 35)
    // once the popup is shown (one more visible window), waiting generously for it.
    std::string shown;
    testutil::run({"xdotool", "search", "--onlyvisible", "--name", ".*"}, &shown);
    std::string count = std::to_string(std::count(shown.begin(), shown.end(), '\n') + 1);
    std::string press = "xdotool mousemove " + std::to_string(at.x + 30) + " " + std::to_string(at.y + 35) + " click 1";
    int pid = xvfbtest::spawn({"sh", "-c",
                               "i=0; until [ $(xdotool search --onlyvisible --name '.*' | wc -l) -ge " + count +
                                   " ]; do i=$((i+1)); [ $i -lt 600 ] || exit 1; sleep 0.1; done; " + press});
    ASSERT_GT(pid, 0);
    f.log.clear();
    int code = f.a->modal_popup(at.x + 200, at.y + 150, 100, 80, content);
    EXPECT_EQ(xvfbtest::waitPumping(x.maker, pid, -1, nullptr, 60000), 0);
    EXPECT_EQ(code, 107) << "the outside press ended the popup";
    EXPECT_TRUE(f.log.has("P:press -170,-115")) << (f.log.lines.empty() ? "" : f.log.lines[0]);
    EXPECT_EQ(f.log.countPrefix("A:press"), 0) << "the press went to the popup, not under it";
}

TEST(X11Maker, ClipboardRoundTripsThroughXclip) {
    NEED_XVFB();
    if (!testutil::haveTool("xclip")) GTEST_SKIP() << "xclip is not installed";
    sForm f;
    cX11Fixture x;
    ASSERT_TRUE(x.open(f.build(), 200, 100));
    const std::string text = "Grüße ✓ 日本語";
    ASSERT_TRUE(x.maker->clipboardCopyText(text.c_str(), -1));
    std::string out;
    EXPECT_EQ(xvfbtest::runPumping(x.maker, {"xclip", "-selection", "clipboard", "-o"}, &out), 0);
    EXPECT_EQ(out, text);
    out.clear();
    EXPECT_EQ(xvfbtest::runPumping(x.maker, {"xclip", "-selection", "clipboard", "-o", "-t", "TARGETS"}, &out), 0);
    EXPECT_NE(out.find("UTF8_STRING"), std::string::npos) << out;
    EXPECT_NE(out.find("TEXT"), std::string::npos);
    // Our own copy comes back without a round trip.
    _guardchar<char> got;
    ASSERT_TRUE(x.maker->clipboardRequestText(got));
    EXPECT_EQ(std::string(got.ptr), text);

    // xclip takes the selection over; the paste asks it. A big text exercises INCR.
    struct {
        std::string text;
    } cases[] = {{"from the peer: ÄÖÜ"}, {std::string(600000, 'x') + "end"}};
    for (auto& c : cases) {
        int pid = xvfbtest::spawn({"xclip", "-selection", "clipboard", "-i", "-quiet"}, &c.text);
        ASSERT_GT(pid, 0);
        struct sArg {
            cX11WindowMaker* m;
        } arg = {x.maker};
        // Wait until xclip owns it (our copy is then gone).
        bool owned = x.maker->runUntil(
            [](void* p) {
                _guardchar<char> t;
                cX11WindowMaker* m = ((sArg*)p)->m;
                m->setPasteTimeout(200);
                return m->clipboardRequestText(t) && t.ptr && std::string(t.ptr).rfind("Grüße", 0) != 0;
            },
            &arg, 30000);
        EXPECT_TRUE(owned);
        x.maker->setPasteTimeout(3000);
        _guardchar<char> pasted;
        EXPECT_TRUE(x.maker->clipboardRequestText(pasted));
        EXPECT_EQ(std::string(pasted.ptr ? pasted.ptr : ""), c.text);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

TEST(X11Maker, WakeFromAnotherThreadRunsTheQueuedActionOnTheLoop) {
    NEED_XVFB();
    sForm f;
    cX11Fixture x;
    ASSERT_TRUE(x.open(f.build(), 200, 100));
    f.log.clear();
    std::thread t([&] { f.b->notifyAction(new cChildElement::cChildAction(6)); });
    t.join();
    struct sArg {
        cLog* log;
    } arg = {&f.log};
    EXPECT_TRUE(x.maker->runUntil([](void* p) { return ((sArg*)p)->log->has("form:act 6 from B"); }, &arg, 30000));
}

TEST(X11Maker, HintWindowNeverTakesFocusOrInput) {
    NEED_XVFB();
    sForm f;
    cX11Fixture x;
    ASSERT_TRUE(x.open(f.build(), 300, 200));
    sPoint at;
    x.window->screenPos(at);
    cProbe hint("H", &f.log);
    hint.myFill = 0x80FFFF;
    cWindowHolder* holder = f.a->popup(at.x + 100, at.y + 100, 80, 30, &hint, false);
    ASSERT_NE(holder, nullptr);
    ASSERT_TRUE(x.waitShownOnly(holder->window()));
    f.log.clear();
    ASSERT_EQ(x.xdo({"mousemove", std::to_string(at.x + 120), std::to_string(at.y + 110), "click", "1"}), 0);
    EXPECT_EQ(f.log.countPrefix("H:"), 0) << "the hint took input";
    EXPECT_EQ(x.maker->focusedWindow(), x.window) << "the hint took the focus";
    delete holder;
}

TEST(X11Maker, DisplaySleepBlockKeepsTheScreenSaverOff) {
    NEED_XVFB();
    cX11WindowMaker* maker = cX11WindowMaker::open(xvfbtest::display().c_str());
    ASSERT_NE(maker, nullptr);
    Display* d = XOpenDisplay(xvfbtest::display().c_str());
    ASSERT_NE(d, nullptr);
    int ev, err;
    if (!XScreenSaverQueryExtension(d, &ev, &err)) {
        XCloseDisplay(d);
        delete maker;
        GTEST_SKIP() << "the server has no screen saver extension";
    }
    int timeout, interval, blanking, exposures;
    XGetScreenSaver(d, &timeout, &interval, &blanking, &exposures);
    XSetScreenSaver(d, 1, 0, blanking, exposures);  // saves after one idle second
    XResetScreenSaver(d);
    // The state after an idle spell; waiting for `wanted` (generously) ends the spell early.
    auto stateAfterIdle = [&](int wanted, int ms) {
        XSync(d, False);
        XScreenSaverInfo info = {};
        for (int waited = 0; waited < ms; waited += 100) {
            usleep(100000);
            XScreenSaverQueryInfo(d, DefaultRootWindow(d), &info);
            if (info.state == wanted) break;
        }
        return info.state;
    };
    EXPECT_TRUE(maker->blockDisplaySleep(true));
    EXPECT_EQ(stateAfterIdle(ScreenSaverOn, 2000), ScreenSaverOff);
    // A maker that goes away while blocking lets the screen saver run again.
    delete maker;
    EXPECT_EQ(stateAfterIdle(ScreenSaverOn, 30000), ScreenSaverOn);
    XSetScreenSaver(d, timeout, interval, blanking, exposures);
    XResetScreenSaver(d);
    XCloseDisplay(d);
}

namespace {

// The image of the cursor the server shows now (XFixes), as a comparable string.
std::string cursorImage(Display* d) {
    XFixesCursorImage* c = XFixesGetCursorImage(d);
    if (!c) return "";
    std::string s = std::to_string(c->width) + "x" + std::to_string(c->height) + ":";
    for (int i = 0; i < c->width * c->height; i++) s += std::to_string(c->pixels[i] & 0xFFFFFFFF) + ",";
    XFree(c);
    return s;
}

// A window of our own connection showing one cursor-font shape; the image the server
// shows over it.
std::string fontCursorImage(Display* d, unsigned int shape) {
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 600, 500, 50, 50, 0, 0, 0);
    XSetWindowAttributes wa = {};
    wa.override_redirect = True;
    XChangeWindowAttributes(d, w, CWOverrideRedirect, &wa);
    Cursor cur = XCreateFontCursor(d, shape);
    XDefineCursor(d, w, cur);
    XMapRaised(d, w);
    XSync(d, False);
    usleep(100000);
    XWarpPointer(d, None, DefaultRootWindow(d), 0, 0, 0, 0, 620, 520);
    XSync(d, False);
    usleep(100000);
    std::string img = cursorImage(d);
    XDestroyWindow(d, w);
    XFreeCursor(d, cur);
    XSync(d, False);
    return img;
}

}  // namespace

TEST(X11Maker, PointerShapesComeFromTheCursorFont) {
    NEED_XVFB();
    Display* d = XOpenDisplay(xvfbtest::display().c_str());
    ASSERT_NE(d, nullptr);
    int ev, err;
    if (!XFixesQueryExtension(d, &ev, &err)) {
        XCloseDisplay(d);
        GTEST_SKIP() << "the server has no XFixes";
    }
    std::string hand = fontCursorImage(d, XC_hand2), beam = fontCursorImage(d, XC_xterm);
    ASSERT_NE(hand, beam);
    sForm f;
    cX11Fixture x;
    ASSERT_TRUE(x.open(f.build(), 300, 120));
    struct {
        int kind;
        const std::string* image;
    } cases[] = {{cChildElement::eMPHand, &hand}, {cChildElement::eMPBeam, &beam}};
    for (auto& c : cases) {
        f.a->setPointer(c.kind);
        ASSERT_EQ(x.xdo({"mousemove", "--window", x.id(), "40", "30", "mousemove", "--window", x.id(), "41", "31"}),
                  0);
        x.settle(100);
        EXPECT_EQ(cursorImage(d), *c.image) << "pointer kind " << c.kind;
    }
    XCloseDisplay(d);
}

TEST(X11Maker, ResizeFromOutsideResizesTheTreeAndRepaints) {
    NEED_XVFB();
    cLog log;
    cProbe* root = new cProbe("root", &log);
    root->myFill = 0x00C000;
    cX11Fixture x;
    x.maker = cX11WindowMaker::open(xvfbtest::display().c_str());
    ASSERT_NE(x.maker, nullptr);
    x.host = new cElementHost(x.maker, root, true);
    x.window = x.maker->createWindow(x.host, "resizable", 200, 100, nullptr, kWFResizable);
    ASSERT_NE(x.window, nullptr);
    x.host->bind(x.window);
    ASSERT_TRUE(x.waitShown(x.window));
    ASSERT_EQ(x.xdo({"windowsize", x.id(), "320", "180"}), 0);
    x.waitShownOnly(x.window);
    EXPECT_EQ(root->width(), 320);
    EXPECT_EQ(root->height(), 180);
    std::vector<unsigned int> shown;
    ASSERT_TRUE(grabPixels(x.maker->xid(x.window), 320, 180, shown));
    EXPECT_EQ(shown[179 * 320 + 319], 0x00C000u) << "the new area was painted";
}

TEST(X11Maker, NestedModalRunsEndInnermostFirst) {
    NEED_XVFB();
    sForm f;
    cX11Fixture x;
    ASSERT_TRUE(x.open(f.build(), 300, 200));
    // A timer of the outer dialog opens the inner one; the inner one ends by its own
    // timer, then the outer one.
    int innerCode = -9;
    cLogForm* outer = new cLogForm();
    outer->log = &f.log;
    struct sTimerHost : public cElementHost {
        int* inner;
        cX11WindowMaker* m;
        sTimerHost(cX11WindowMaker* mk, cChildElement* r, int* in) : cElementHost(mk, r, true), inner(in), m(mk) {}
        void onWindowTimer(cPlatformWindow* w, int id) override {
            if (id == 1) {
                // Inner dialog: ends itself with 5 from its own timer.
                cLogForm* form = new cLogForm();
                cLog* l = static_cast<cLogForm*>(rootElement())->log;
                form->log = l;
                sTimerHost* h = new sTimerHost(m, form, nullptr);
                cPlatformWindow* iw = m->createWindow(h, "inner", 120, 60, w, 0);
                h->bind(iw);
                m->setTimer(iw, 2, 80, false);
                *inner = m->modal(iw);
                m->destroy(iw);
                w->endModal(3);
            } else {
                w->endModal(5);
            }
        }
    };
    sTimerHost* host = new sTimerHost(x.maker, outer, &innerCode);
    cPlatformWindow* ow = x.maker->createWindow(host, "outer", 200, 100, x.window, 0);
    host->bind(ow);
    x.maker->setTimer(ow, 1, 50, false);
    int code = x.maker->modal(ow);
    x.maker->destroy(ow);
    EXPECT_EQ(innerCode, 5);
    EXPECT_EQ(code, 3);
    EXPECT_EQ(x.maker->modalDepth(), 0);
}

TEST(X11Maker, PasteFromASilentOwnerGivesUpInTime) {
    NEED_XVFB();
    cX11Fixture x;
    sForm f;
    ASSERT_TRUE(x.open(f.build(), 100, 60));
    // Another client owns the clipboard and never answers.
    Display* d = XOpenDisplay(xvfbtest::display().c_str());
    ASSERT_NE(d, nullptr);
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(d, XInternAtom(d, "CLIPBOARD", False), w, CurrentTime);
    XSync(d, False);
    x.maker->setPasteTimeout(300);
    long long t0 = x.maker->clockMs();
    _guardchar<char> out;
    EXPECT_FALSE(x.maker->clipboardRequestText(out));
    long long spent = x.maker->clockMs() - t0;
    EXPECT_LT(spent, 2000);
    XCloseDisplay(d);
}

TEST(X11Maker, DesktopSizeIsTheWorkAreaWhenTheWindowManagerGivesOne) {
    NEED_XVFB();
    cX11WindowMaker* maker = cX11WindowMaker::open(xvfbtest::display().c_str());
    ASSERT_NE(maker, nullptr);
    Display* d = XOpenDisplay(xvfbtest::display().c_str());
    ASSERT_NE(d, nullptr);
    Atom area = XInternAtom(d, "_NET_WORKAREA", False);
    sSize s;
    ASSERT_TRUE(maker->desktopSize(s));
    EXPECT_EQ(s.cx, 1024);
    EXPECT_EQ(s.cy, 768);
    struct {
        long v[4];
        int w, h;
    } cases[] = {{{0, 24, 1024, 700}, 1024, 700},
                 {{0, 0, 5000, 5000}, 1024, 768},  // larger than the screen: not believed
                 {{0, 0, 0, 0}, 1024, 768}};
    for (auto& c : cases) {
        XChangeProperty(d, DefaultRootWindow(d), area, XA_CARDINAL, 32, PropModeReplace, (unsigned char*)c.v, 4);
        XSync(d, False);
        ASSERT_TRUE(maker->desktopSize(s));
        EXPECT_EQ(s.cx, c.w);
        EXPECT_EQ(s.cy, c.h);
    }
    XDeleteProperty(d, DefaultRootWindow(d), area);
    XCloseDisplay(d);
    delete maker;
}

TEST(X11Maker, CaptureOutsideTheWindowCatchesAPressAnywhere) {
    NEED_XVFB();
    sForm f;
    cX11Fixture x;
    ASSERT_TRUE(x.open(f.build(), 300, 120));
    sPoint at;
    x.window->screenPos(at);
    f.b->capturePointer(true);
    f.log.clear();
    // Far below the window: the press reaches B, in B's coordinates.
    ASSERT_EQ(x.xdo({"mousemove", std::to_string(at.x + 170), std::to_string(at.y + 320), "click", "1"}), 0);
    EXPECT_TRUE(f.log.has("B:press 10,300")) << (f.log.lines.empty() ? "(nothing)" : f.log.lines[0]);
    f.b->releasePointer();
    f.log.clear();
    ASSERT_EQ(x.xdo({"click", "1"}), 0);
    EXPECT_EQ(f.log.countPrefix("B:press"), 0) << "the capture outlived its release";
}
