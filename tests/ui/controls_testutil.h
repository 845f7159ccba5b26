// Shared pieces of the control tests: a root that records the actions reaching it, a
// window fixture around it, and the committed-snapshot comparison.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "ciplatform/canvas.h"
#include "ciplatform/fontobject.h"
#include "ciplatform/headless.h"
#include "ciplatform/picture.h"
#include "element_testutil.h"
#include "testutil.h"
#include "ui/elementhost.h"
#include "ui/lang.h"
#include "ui/theme.h"

namespace ctltest {

// One action as the root saw it.
struct sSeen {
    cChildElement* sender;
    int type;
    cChildElement::cChildAction* raw;  // valid only inside onAction
};

// A plain root (painted in the theme background) that records every action reaching it
// and lets a test inspect each one while it is alive.
class cRecorder : public cChildElement {
public:
    std::vector<sSeen> seen;
    std::function<void(cChildElement*, cChildAction*)> inspect;
    bool onAction(cChildElement* sender, cChildAction* action) override {
        seen.push_back({sender, action->type, nullptr});
        if (inspect) inspect(sender, action);
        return true;
    }
    void onPaint(cCanvas* canvas) override {
        sRect r = {0, 0, width(), height()};
        unsigned int c = resolveColour(0xFF000000u, kThemeBackground);
        canvas->drawRect(&r, c, c);
    }
    int count(cChildElement* sender, int type) const {
        int n = 0;
        for (auto& s : seen)
            if (s.sender == sender && s.type == type) n++;
        return n;
    }
    bool wantAcceptFoucs() override { return false; }
};

struct cFixture : elemtest::cWindowFixture {
    cRecorder* rec = nullptr;
    cFixture() {}
    // A recorder root of w x h opened at once.
    cFixture(int w, int h) { openRecorder(w, h); }
    // A new T attached to the recorder at x, y, w x h.
    template <class T>
    T* add(int x, int y, int w, int h) {
        T* e = new T;
        rec->attach(e, x, y, w, h);
        return e;
    }
    void openRecorder(int w, int h) {
        cCiomToolkitLang::init();  // the toolkit's own texts, as the application loads them
        rec = new cRecorder;
        open(rec, w, h);
    }
    void press(int x, int y) {
        maker.injectPress(window, x, y);
        pump();
    }
    void release(int x, int y) {
        maker.injectRelease(window, x, y);
        pump();
    }
    void move(int x, int y) {
        maker.injectMove(window, x, y);
        pump();
    }
};

inline bool haveFont() { return cFontObject::get(5, 13, _glbalStdFont(), false, false, false) != nullptr; }

// Compares a rectangle of the window's canvas with tests/data/<file>.png; with
// QMX_UPDATE_SNAPSHOTS set it rewrites the file instead (and fails, so it is noticed).
inline void expectSnapshotFile(cHeadlessWindowMaker& maker, cPlatformWindow* window, const std::string& file,
                               sRect area) {
    maker.pumpAll();
    cCanvas* canvas = window->canvas();
    ASSERT_TRUE(canvas);
    std::vector<unsigned int> px((size_t)area.w * area.h);
    for (int y = 0; y < area.h; y++)
        for (int x = 0; x < area.w; x++) px[(size_t)y * area.w + x] = canvas->pixel(area.x + x, area.y + y) | 0xFF000000u;
    _typebuf<unsigned char> png;
    ASSERT_TRUE(cHeadlessWindowMaker::encodePNG(px.data(), area.w, area.h, false, png));
    std::string path = std::string(QMX_TEST_DATA) + "/" + file + ".png";
    std::string name = file.substr(file.rfind('/') + 1);
    if (getenv("QMX_UPDATE_SNAPSHOTS")) {
        ASSERT_TRUE(testutil::writeFile(path, png.ptr, (size_t)png.count));
        ADD_FAILURE() << "snapshot rewritten: " << path;
        return;
    }
    std::vector<unsigned char> want = testutil::readFile(path);
    ASSERT_FALSE(want.empty()) << "missing " << path << " (run with QMX_UPDATE_SNAPSHOTS=1)";
    cPicture ref;
    ASSERT_TRUE(ref.create(want.data(), (unsigned int)want.size()));
    ASSERT_EQ(ref.width(), area.w);
    ASSERT_EQ(ref.height(), area.h);
    int diff = 0, fx = -1, fy = -1;
    for (int y = 0; y < area.h; y++)
        for (int x = 0; x < area.w; x++)
            if ((ref.raw()[y * area.w + x] & 0xFFFFFF) != (px[(size_t)y * area.w + x] & 0xFFFFFF)) {
                if (!diff) fx = x, fy = y;
                diff++;
            }
    if (diff) {
        std::string got = std::string(QMX_BINARY_DIR) + "/" + name + ".actual.png";
        testutil::writeFile(got, png.ptr, (size_t)png.count);
        ADD_FAILURE() << name << ": " << diff << " pixels differ, first at " << fx << "," << fy << "; see " << got;
    }
}

// The same for tests/data/ui/controls/<name>.png.
inline void expectSnapshot(cHeadlessWindowMaker& maker, cPlatformWindow* window, const char* name, sRect area) {
    expectSnapshotFile(maker, window, std::string("ui/controls/") + name, area);
}

// Answers every modal window the headless maker runs with fn (nothing when unset), and
// counts them.
class cScript : public cHeadlessScript {
public:
    std::function<void(cHeadlessWindowMaker*, cPlatformWindow*)> fn;
    int runs = 0;
    void onModal(cHeadlessWindowMaker* m, cPlatformWindow* w, int) override {
        runs++;
        if (fn) fn(m, w);
    }
};

// The root element of a window as T; null when the window has none or it is no T.
template <class T = cChildElement>
T* rootOf(cPlatformWindow* w) {
    cElementHost* h = w ? static_cast<cElementHost*>(w->userData) : nullptr;
    return h ? dynamic_cast<T*>(h->rootElement()) : nullptr;
}

// The canvas pixel as 0x00BBGGRR (the colour format of the theme and the controls).
inline unsigned int bgrAt(cPlatformWindow* window, int x, int y) {
    unsigned int p = window->canvas()->pixel(x, y);
    return ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF);
}

}  // namespace ctltest
