// Shared pieces of the element tests: a recording element and a window opened on the
// headless maker without a modal run, so tests can inject input and pump.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ciplatform/canvas.h"
#include "ciplatform/headless.h"
#include "ui/childelement.h"
#include "ui/customform.h"
#include "ui/elementhost.h"

namespace elemtest {

// Everything an element saw, as short strings ("btn:A:press 3,4").
struct cLog {
    std::vector<std::string> lines;
    void add(const std::string& s) { lines.push_back(s); }
    void clear() { lines.clear(); }
    bool has(const std::string& s) const {
        for (auto& l : lines)
            if (l == s) return true;
        return false;
    }
    int countPrefix(const std::string& p) const {
        int n = 0;
        for (auto& l : lines)
            if (l.compare(0, p.size(), p) == 0) n++;
        return n;
    }
};

class cProbe : public cChildElement {
public:
    cProbe(const char* name, cLog* log, bool tabStop = false, bool focusable = true)
        : myName(name), myLog(log), myTabStopWant(tabStop), myFocusable(focusable) {}
    ~cProbe() override {
        if (myDeaths) (*myDeaths)++;
    }

    std::string myName;
    cLog* myLog;
    bool myTabStopWant;
    bool myFocusable;
    bool myCaptureArrows = false;
    bool myCyclic = false;
    bool myTakeKeys = false;
    bool myTakeWheel = false;
    int myTakeAction = -2;  // action type taken (-1: every type)
    int* myDeaths = nullptr;
    unsigned int myFill = 0xFFFFFFFFu;  // 0x00BBGGRR painted over the element; -1 none
    int myPaints = 0;
    const char* mySection = nullptr;

    void put(const std::string& s) {
        if (myLog) myLog->add(myName + ":" + s);
    }
    void onPaint(cCanvas* canvas) override;
    bool onAction(cChildElement* sender, cChildAction* action) override {
        const cProbe* p = dynamic_cast<const cProbe*>(sender);
        put("act " + std::to_string(action->type) + " from " + (p ? p->myName : std::string("?")));
        return myTakeAction == -1 || myTakeAction == action->type;
    }
    bool onKey(int key, bool shift, bool ctrl, bool alt) override {
        put("key " + std::to_string(key) + (shift ? "S" : "") + (ctrl ? "C" : "") + (alt ? "A" : ""));
        return myTakeKeys;
    }
    bool onChar(unsigned int cp) override {
        put("char " + std::to_string(cp));
        return true;
    }
    void onMouseButton(int x, int y, int button, bool down) override {
        put(std::string(down ? "press " : "release ") + std::to_string(x) + "," + std::to_string(y));
    }
    void onMouseDoubleClick(int x, int y, int button) override {
        put("dbl " + std::to_string(x) + "," + std::to_string(y));
    }
    void onMouseOver() override {
        cChildElement::onMouseOver();
        put("over");
    }
    void onMouseLeft() override {
        cChildElement::onMouseLeft();
        put("left");
    }
    bool onMouseWheel(int x, int y, bool towardsStart, bool horizontal, int notches) override {
        put("wheel " + std::to_string(x) + "," + std::to_string(y) + (towardsStart ? " up" : " down") +
            (horizontal ? " h" : "") + " " + std::to_string(notches));
        return myTakeWheel;
    }
    void onSetFocusEvent(int origin, int, int) override { put("focus " + std::to_string(origin)); }
    void onLooseFocus() override { put("lost"); }
    void onEnableChanged() override { put(enabled() ? "enabled" : "disabled"); }
    bool wantTabStop() override { return myTabStopWant; }
    bool wantAcceptFoucs() override { return myFocusable; }
    bool wantCaptureArrows() override { return myCaptureArrows; }
    bool wantCyclicArrowTabStop() override { return myCyclic; }
    const char* wantLangResource() override { return mySection; }
};

// A root element shown in a headless window (no modal run): inject, pump, inspect.
struct cWindowFixture {
    cHeadlessWindowMaker maker;
    cElementHost* host = nullptr;
    cPlatformWindow* window = nullptr;
    cChildElement* root = nullptr;

    // Takes the root over (deleted with the window).
    void open(cChildElement* r, int w, int h) {
        root = r;
        host = new cElementHost(&maker, r, true);
        window = maker.createWindow(host, "test", w, h, nullptr, 0);
        ASSERT_NE(window, nullptr);
        host->bind(window);
        maker.pumpAll();
    }
    ~cWindowFixture() { close(); }
    void close() {
        if (window && maker.alive(window)) maker.destroy(window);
        window = nullptr;
        maker.pumpAll();
    }
    void pump() { maker.pumpAll(); }
    // Pumps until `done` holds, at most about `ms` (bounded; never a timing assertion).
    template <class F>
    bool pumpUntil(F done, int ms = 20000) {
        for (int i = 0; i < ms / 5 && !done(); i++) {
            pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        pump();
        return done();
    }
    void click(int x, int y) {
        maker.injectClick(window, x, y);
        pump();
    }
    void key(int k, unsigned int mods = 0) {
        maker.injectKey(window, k, mods);
        pump();
    }
    unsigned int pixel(int x, int y) {
        maker.pumpAll();
        return window->canvas()->pixel(x, y) & 0xFFFFFF;
    }
};

inline void cProbe::onPaint(cCanvas* canvas) {
    myPaints++;
    if (myFill == 0xFFFFFFFFu) return;
    sRect r = {0, 0, width(), height()};
    canvas->drawRect(&r, myFill, 0xFFFFFFFFu);
}

// 0x00BBGGRR as the canvas's 0x00RRGGBB.
inline unsigned int rgbOf(unsigned int bgr) {
    return ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF);
}

}  // namespace elemtest
