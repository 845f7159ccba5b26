// Headless window maker: input reaches the client in order, double clicks, modal runs
// answered by scripts, wake-ups from many threads, PNG snapshots read back by python3.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ciplatform/canvas.h"
#include "ciplatform/headless.h"
#include "testutil.h"

namespace {

// Records every call as text.
class Recorder : public cWindowClient {
public:
    std::vector<std::string> log;
    unsigned int paintColour = 0x00FFFFFF;
    int paints = 0;
    std::string last() const { return log.empty() ? "" : log.back(); }
    void add(const std::string& s) { log.push_back(s); }
    void onWindowPaint(cPlatformWindow*, cCanvas* c, const sRect* dirty) override {
        paints++;
        sRect all = {0, 0, c->width(), c->height()};
        c->drawRect(&all, paintColour, 0xFFFFFFFF);
    }
    void onWindowMouseButton(cPlatformWindow*, int x, int y, int b, bool p, unsigned int m) override {
        add((p ? "press " : "release ") + std::to_string(x) + "," + std::to_string(y) + " b" + std::to_string(b) +
            " m" + std::to_string(m));
    }
    void onWindowMouseDoubleClick(cPlatformWindow*, int x, int y, int b, unsigned int) override {
        add("dbl " + std::to_string(x) + "," + std::to_string(y));
    }
    void onWindowMouseMove(cPlatformWindow*, int x, int y, unsigned int) override {
        add("move " + std::to_string(x) + "," + std::to_string(y));
    }
    void onWindowMouseLeave(cPlatformWindow*) override { add("leave"); }
    void onWindowMouseWheel(cPlatformWindow*, int, int, bool up, bool hz, int n, unsigned int) override {
        add(std::string("wheel ") + (up ? "up" : "down") + (hz ? " h" : "") + " " + std::to_string(n));
    }
    void onWindowKey(cPlatformWindow*, int key, bool p, unsigned int m) override {
        add((p ? "key " : "keyup ") + std::to_string(key) + " m" + std::to_string(m));
    }
    void onWindowChar(cPlatformWindow*, unsigned int cp) override { add("char " + std::to_string(cp)); }
    void onWindowFocus(cPlatformWindow*, bool g) override { add(g ? "focus" : "blur"); }
    void onWindowClose(cPlatformWindow*) override { add("close"); }
    void onWindowResize(cPlatformWindow*, int w, int h) override {
        add("resize " + std::to_string(w) + "x" + std::to_string(h));
    }
    void onWindowTimer(cPlatformWindow*, int id) override { add("timer " + std::to_string(id)); }
    void onWindowDestroyed(cPlatformWindow*) override { add("destroyed"); }
};

}  // namespace

TEST(Headless, InjectedEventsReachClientInOrder) {
    cHeadlessWindowMaker mk;
    Recorder rec;
    cPlatformWindow* w = mk.createWindow(&rec, "Main", 200, 100, nullptr, 0);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(rec.last(), "focus");
    rec.log.clear();
    mk.injectMove(w, 5, 6);
    mk.injectPress(w, 5, 6, kMouseLeft, kModShift);
    mk.injectRelease(w, 5, 6, kMouseLeft, 0);
    mk.injectWheel(w, 1, 1, true, false, 2);
    mk.injectWheel(w, 1, 1, false, true, 1);
    mk.injectWheel(w, 1, 1, false, true, 0);  // no notches: nothing
    mk.injectKey(w, kKeyEnter, kModCtrl);
    mk.injectText(w, "aЖ");
    mk.injectClose(w);
    std::vector<std::string> want = {"move 5,6",     "press 5,6 b0 m1", "release 5,6 b0 m0", "wheel up 2",
                                     "wheel down h 1", "key 397 m2",      "keyup 397 m2",      "char 97",
                                     "char 1046",    "close"};
    EXPECT_EQ(rec.log, want);
    rec.log.clear();
    mk.injectResize(w, 300, 150);
    EXPECT_EQ(rec.log, std::vector<std::string>{"resize 300x150"});
    EXPECT_EQ(w->width(), 300);
    int before = rec.paints;
    mk.pump();
    EXPECT_EQ(rec.paints, before + 1);
    EXPECT_EQ(mk.pump(), 0);  // nothing left to do
    w->invalidate(nullptr);
    mk.pump();
    EXPECT_EQ(rec.paints, before + 2);
    mk.destroy(w);
    EXPECT_EQ(rec.last(), "destroyed");
    rec.log.clear();
    mk.injectPress(w, 1, 1);  // a destroyed window gets nothing
    EXPECT_TRUE(rec.log.empty());
}

TEST(Headless, DoubleClickOnSecondPressOnly) {
    struct Case {
        const char* name;
        long long gapMs;
        int dx;
        int button2;
        bool dbl;
    } cases[] = {{"quick", 100, 0, 0, true},    {"slow", 600, 0, 0, false}, {"moved", 100, 9, 0, false},
                 {"small move", 100, 3, 0, true}, {"other button", 100, 0, 1, false}};
    for (auto& k : cases) {
        cHeadlessWindowMaker mk;
        Recorder rec;
        cPlatformWindow* w = mk.createWindow(&rec, "W", 100, 100, nullptr, 0);
        rec.log.clear();
        mk.injectClick(w, 10, 10);
        mk.advanceClock(k.gapMs);
        mk.injectPress(w, 10 + k.dx, 10, k.button2);
        bool sawDbl = rec.last().rfind("dbl", 0) == 0;
        EXPECT_EQ(sawDbl, k.dbl) << k.name;
        if (k.dbl) {
            // The double click follows the press it completes; a third press starts over.
            EXPECT_EQ(rec.log[rec.log.size() - 2].rfind("press", 0), 0u);
            mk.injectRelease(w, 10, 10);
            mk.advanceClock(50);
            mk.injectPress(w, 10, 10);
            EXPECT_NE(rec.last().rfind("dbl", 0), 0u) << k.name;
        }
        mk.destroy(w);
    }
}

namespace {

// Opens a nested modal at depth 1 and ends each run with the next scripted code.
class NestingScript : public cHeadlessScript {
public:
    std::vector<int> codes;
    std::vector<int> seen;
    size_t next = 0;
    Recorder inner;
    void onModal(cHeadlessWindowMaker* mk, cPlatformWindow* w, int depth) override {
        if (depth == 1) {
            cPlatformWindow* child = mk->createWindow(&inner, "Child", 50, 40, w, 0);
            EXPECT_EQ(child->kind(), kWindowModal);
            // The outer window is blocked while the child runs.
            Recorder* outer = (Recorder*)w->userData;
            size_t before = outer->log.size();
            int got = -100;
            struct Blocked : cHeadlessScript {
                cPlatformWindow* outerWin;
                Recorder* outer;
                size_t before;
                int code;
                void onModal(cHeadlessWindowMaker* m, cPlatformWindow* c, int d) override {
                    EXPECT_EQ(d, 2);
                    m->injectPress(outerWin, 1, 1);
                    EXPECT_EQ(outer->log.size(), before);
                    c->endModal(code);
                }
            } blocked;
            blocked.outerWin = w;
            blocked.outer = outer;
            blocked.before = before;
            blocked.code = codes[next++];
            mk->setModalScript(&blocked);
            got = mk->modal(child);
            mk->setModalScript(this);
            seen.push_back(got);
            mk->destroy(child);
        }
        w->endModal(codes[next++]);
    }
};

}  // namespace

TEST(Headless, ModalNestingReturnsScriptedCodesInOrder) {
    cHeadlessWindowMaker mk;
    mk.setIdleTimeout(5000);
    Recorder rec;
    cPlatformWindow* w = mk.createWindow(&rec, "Dialog", 100, 80, nullptr, 0);
    w->userData = &rec;
    NestingScript script;
    script.codes = {11, 22};
    mk.setModalScript(&script);
    EXPECT_EQ(mk.modal(w), 22);
    EXPECT_EQ(script.seen, std::vector<int>{11});
    EXPECT_GT(rec.paints, 0);  // shown and painted before the script answered
    EXPECT_EQ(mk.modalDepth(), 0);
    mk.setModalScript(nullptr);

    // Queued answers are taken first in, first out.
    mk.pushModalAnswer(3);
    mk.pushModalAnswer(4);
    EXPECT_EQ(mk.modal(w), 3);
    EXPECT_EQ(mk.modal(w), 4);
    EXPECT_EQ(mk.pendingModalAnswers(), 0);
    // With nothing to answer and no wake-up the run ends after the idle time.
    mk.setIdleTimeout(50);
    EXPECT_EQ(mk.modal(w), -1);
    EXPECT_EQ(mk.modal(nullptr), -1);
    mk.destroy(w);
}

TEST(Headless, DestroyingModalWindowInsideItsRunEndsIt) {
    cHeadlessWindowMaker mk;
    Recorder rec;
    cPlatformWindow* w = mk.createWindow(&rec, "D", 10, 10, nullptr, 0);
    struct Killer : cHeadlessScript {
        void onModal(cHeadlessWindowMaker* m, cPlatformWindow* win, int) override { m->destroy(win); }
    } killer;
    mk.setModalScript(&killer);
    EXPECT_EQ(mk.modal(w), -1);
    EXPECT_FALSE(mk.alive(w));
    EXPECT_EQ(rec.last(), "destroyed");
}

namespace {

class Drainer : public cWindowClient {
public:
    std::mutex lock;
    std::vector<int> queue;
    std::vector<int> got;
    int expected = 0;
    void onWindowPaint(cPlatformWindow*, cCanvas*, const sRect*) override {}
    void onWindowWake(cPlatformWindow* w) override {
        std::vector<int> take;
        {
            std::lock_guard<std::mutex> g(lock);
            take.swap(queue);
        }
        got.insert(got.end(), take.begin(), take.end());
        if ((int)got.size() == expected) w->endModal(1);
    }
};

}  // namespace

TEST(Headless, WakeupsFromEightThreadsAllArrive) {
    cHeadlessWindowMaker mk;
    mk.setIdleTimeout(20000);
    Drainer d;
    const int threads = 8, each = 500;
    d.expected = threads * each;
    cPlatformWindow* w = mk.createWindow(&d, "Jobs", 10, 10, nullptr, 0);
    std::vector<std::thread> ts;
    struct Start : cHeadlessScript {
        std::vector<std::thread>* ts;
        Drainer* d;
        cHeadlessWindowMaker* mk;
        int threads, each;
        void onModal(cHeadlessWindowMaker*, cPlatformWindow* w, int) override {
            for (int t = 0; t < threads; t++)
                ts->emplace_back([this, t, w] {
                    for (int i = 0; i < each; i++) {
                        {
                            std::lock_guard<std::mutex> g(d->lock);
                            d->queue.push_back(t * each + i);
                        }
                        mk->wake(i % 2 ? w : nullptr);
                    }
                });
        }
    } start;
    start.ts = &ts;
    start.d = &d;
    start.mk = &mk;
    start.threads = threads;
    start.each = each;
    mk.setModalScript(&start);
    int code = mk.modal(w);
    for (auto& t : ts) t.join();
    EXPECT_EQ(code, 1);
    ASSERT_EQ((int)d.got.size(), threads * each);
    std::vector<bool> seen(threads * each, false);
    for (int v : d.got) seen[v] = true;
    for (int i = 0; i < threads * each; i++) ASSERT_TRUE(seen[i]) << i;
    EXPECT_EQ(mk.wakeCount(), threads * each);
    mk.destroy(w);
}

TEST(Headless, PopupGrabGetsPressesOutsideInItsCoordinates) {
    cHeadlessWindowMaker mk;
    Recorder main, pop;
    cPlatformWindow* w = mk.createWindow(&main, "M", 300, 200, nullptr, 0);
    sPoint at;
    w->screenPos(at);
    cPlatformWindow* p = mk.createPopup(&pop, at.x + 50, at.y + 60, 80, 40, w, true);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(mk.grabWindow(), p);
    main.log.clear();
    mk.injectPress(w, 10, 20);  // outside the popup
    EXPECT_TRUE(main.log.empty());
    EXPECT_EQ(pop.last(), "press -40,-40 b0 m0");
    p->setPointer(3);
    EXPECT_EQ(mk.pointerShape(p), 3);
    mk.destroy(p);
    EXPECT_EQ(mk.grabWindow(), nullptr);
    mk.advanceClock(1000);  // not a double click
    mk.injectPress(w, 10, 20);
    EXPECT_EQ(main.last(), "press 10,20 b0 m0");
    // Hints never take the focus or input.
    Recorder hint;
    cPlatformWindow* h = mk.createHint(&hint, 0, 0, 20, 10, w);
    EXPECT_EQ(mk.focusedWindow(), w);
    mk.injectPress(h, 1, 1);
    EXPECT_TRUE(hint.log.empty());
    mk.destroy(h);
    mk.destroy(w);
}

TEST(Headless, TimersFireWhenTheClockPassesThem) {
    cHeadlessWindowMaker mk;
    Recorder rec;
    cPlatformWindow* w = mk.createWindow(&rec, "T", 10, 10, nullptr, 0);
    ASSERT_TRUE(mk.setTimer(w, 7, 100, true));
    ASSERT_TRUE(mk.setTimer(w, 8, 250, false));
    rec.log.clear();
    mk.pump();
    EXPECT_TRUE(rec.log.empty());
    mk.advanceClock(100);
    mk.pump();
    EXPECT_EQ(rec.log, std::vector<std::string>{"timer 7"});
    mk.advanceClock(200);
    mk.pump();
    EXPECT_EQ(rec.log, (std::vector<std::string>{"timer 7", "timer 7", "timer 8"}));
    mk.killTimer(w, 7);
    mk.advanceClock(1000);
    mk.pump();
    EXPECT_EQ(rec.log.size(), 3u);
    mk.destroy(w);
}

TEST(Headless, ClipboardRespectsByteCounts) {
    cHeadlessWindowMaker mk;
    _guardchar<char> out;
    EXPECT_FALSE(mk.clipboardRequestText(out));
    const char text[] = {'a', 'b', 'c', 'd'};  // not terminated: the count must bound the read
    EXPECT_TRUE(mk.clipboardCopyText(text, 3));
    ASSERT_TRUE(mk.clipboardRequestText(out));
    EXPECT_STREQ(out.ptr, "ab");
    EXPECT_TRUE(mk.clipboardCopyText("Привет", -1));
    ASSERT_TRUE(mk.clipboardRequestText(out));
    EXPECT_STREQ(out.ptr, "Привет");
}

TEST(Headless, SnapshotDecodesToTheSamePixels) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not found";
    cHeadlessWindowMaker mk;
    struct Painter : cWindowClient {
        void onWindowPaint(cPlatformWindow*, cCanvas* c, const sRect*) override {
            for (int y = 0; y < c->height(); y++)
                for (int x = 0; x < c->width(); x++)
                    c->pixels()[y * c->width() + x] = 0xFF000000u | (unsigned)(x * 9) << 16 | (unsigned)(y * 7) << 8 |
                                                      (unsigned)((x * y) & 0xFF);
        }
    } painter;
    cPlatformWindow* w = mk.createWindow(&painter, "Snap", 23, 17, nullptr, 0);
    testutil::TempDir dir;
    std::string path = dir.file("snap.png");
    ASSERT_TRUE(mk.snapshotPNG(w, path.c_str()));
    // An independent decoder: python's zlib and struct, checking every chunk's CRC.
    std::string script =
        "import sys,zlib,struct\n"
        "d=open(sys.argv[1],'rb').read()\n"
        "assert d[:8]==b'\\x89PNG\\r\\n\\x1a\\n'\n"
        "p=8;idat=b''\n"
        "while p<len(d):\n"
        " n,=struct.unpack('>I',d[p:p+4]);t=d[p+4:p+8];c=d[p+8:p+8+n]\n"
        " assert struct.unpack('>I',d[p+8+n:p+12+n])[0]==zlib.crc32(t+c)&0xffffffff\n"
        " if t==b'IHDR': w,h,bd,ct=struct.unpack('>IIBB',c[:10])\n"
        " if t==b'IDAT': idat+=c\n"
        " p+=12+n\n"
        "r=zlib.decompress(idat);s=w*3+1;out=[]\n"
        "for y in range(h):\n"
        " row=r[y*s:(y+1)*s];assert row[0]==0\n"
        " for x in range(w): out.append('%02x%02x%02x'%(row[1+3*x],row[2+3*x],row[3+3*x]))\n"
        "print(w,h,bd,ct,' '.join(out))\n";
    std::string py = dir.file("dec.py");
    ASSERT_TRUE(testutil::writeFile(py, script.data(), script.size()));
    std::string out;
    ASSERT_EQ(testutil::run({"python3", py, path}, &out), 0) << out;
    std::ostringstream want;
    want << "23 17 8 2";
    for (int y = 0; y < 17; y++)
        for (int x = 0; x < 23; x++) {
            char buf[8];
            snprintf(buf, sizeof buf, "%02x%02x%02x", (x * 9) & 0xFF, (y * 7) & 0xFF, (x * y) & 0xFF);
            want << (x == 0 && y == 0 ? " " : " ") << buf;
        }
    want << "\n";
    EXPECT_EQ(out, want.str());
    mk.destroy(w);
}

TEST(Headless, NewWindowMakerIsHeadlessWithoutDisplayFactory) {
    cWindowMaker* m = cWindowMaker::newWindowMaker(nullptr, 0, 128, false);
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(m->headless());
    sSize s;
    EXPECT_TRUE(m->desktopSize(s));
    EXPECT_TRUE(m->recommendedMainWindowSize(s));
    EXPECT_LE(s.cx, 1920);
    cCanvas* c = m->offscreen(4, 4);
    ASSERT_NE(c, nullptr);
    delete c;
    EXPECT_EQ(m->offscreen(-1, 4), nullptr);
    delete m;
}
