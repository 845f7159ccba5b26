// Window painting: repainting and presenting a full 800x600 form on an X server against
// the floor (presenting the same buffer alone), and painting a form of 2,000 nested
// elements in place against an offscreen canvas per element (the former way, still taken
// by elements that ask for double buffering), with the allocations each frame makes.
// Needs DISPLAY (bench_x11.sh starts a private Xvfb); the headless cases run without it.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>

#include "ciplatform/canvas.h"
#include "ciplatform/headless.h"
#include "ui/customform.h"
#include "ui/elementhost.h"
#include "ui/panelchild.h"
#include "ui/staticelement.h"
#include "x11/x11maker.h"

// Every allocation of the process is counted (glibc's own entry points do the work).
static std::atomic<long long> gAllocs{0};
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* malloc(size_t n) {
    gAllocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t m) {
    gAllocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, m);
}
extern "C" void* realloc(void* p, size_t n) {
    gAllocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}

namespace {

class cCell : public cChildElement {
public:
    unsigned int colour;
    explicit cCell(unsigned int c) : colour(c) {}
    void onPaint(cCanvas* canvas) override {
        sRect r = {0, 0, width(), height()};
        canvas->drawRect(&r, colour, 0x808080);
    }
};

// An 800x600 form: a header label, 20 group panels of 10 rows of 9 cells and a row
// panel each (20 + 200 + 1800 = 2,020 nested elements under the form's client panel).
cCustomForm* buildForm(bool doubleBuffered) {
    cCustomForm* form = new cCustomForm();
    cStaticElement* title = new cStaticElement();
    form->clientArea()->attach(title, 8, 4, 780, 20);
    title->setText("Installed packages: 2,000 cells in 220 panels", cCanvas::taLeft, false);
    for (int g = 0; g < 20; g++) {
        cPanelChild* group = new cPanelChild();
        form->clientArea()->attach(group, 8 + (g % 4) * 196, 28 + (g / 4) * 114, 190, 110);
        group->setDoubleBuffer(doubleBuffered);
        for (int r = 0; r < 10; r++) {
            cPanelChild* row = new cPanelChild();
            group->attach(row, 2, 2 + r * 10, 186, 10);
            row->setDoubleBuffer(doubleBuffered);
            for (int c = 0; c < 9; c++) {
                cCell* cell = new cCell(0x102030 * (unsigned)(1 + (g + r + c) % 7));
                row->attach(cell, c * 20, 0, 19, 9);
                cell->setDoubleBuffer(doubleBuffered);
            }
        }
    }
    return form;
}

void paintNested(benchmark::State& st, bool doubleBuffered) {
    cHeadlessWindowMaker maker;
    cElementHost* host = new cElementHost(&maker, buildForm(doubleBuffered), true);
    cPlatformWindow* w = maker.createWindow(host, "bench", 800, 600, nullptr, 0);
    host->bind(w);
    maker.pumpAll();
    long long allocs = 0;
    for (auto _ : st) {
        w->invalidate(nullptr);
        long long before = gAllocs.load();
        w->update();
        allocs += gAllocs.load() - before;
    }
    st.counters["allocs/frame"] = (double)allocs / (double)st.iterations();
    maker.destroy(w);
}

void BM_Paint2000InPlace(benchmark::State& st) { paintNested(st, false); }
void BM_Paint2000OffscreenPerElement(benchmark::State& st) { paintNested(st, true); }
BENCHMARK(BM_Paint2000InPlace)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Paint2000OffscreenPerElement)->Unit(benchmark::kMillisecond);

struct sX11Form {
    cX11WindowMaker* maker = nullptr;
    cPlatformWindow* w = nullptr;
    bool open() {
        maker = cX11WindowMaker::open();
        if (!maker) return false;
        cElementHost* host = new cElementHost(maker, buildForm(false), true);
        w = maker->createWindow(host, "bench", 800, 600, nullptr, 0);
        host->bind(w);
        struct sArg {
            cX11WindowMaker* m;
            cPlatformWindow* w;
        } arg = {maker, w};
        return maker->runUntil([](void* p) { return ((sArg*)p)->m->shown(((sArg*)p)->w); }, &arg, 5000);
    }
    ~sX11Form() {
        if (maker && w) maker->destroy(w);
        delete maker;
    }
};

// A full repaint of the form, presented, and waited for until the server has it.
void BM_X11RepaintAndPresent800x600(benchmark::State& st) {
    sX11Form f;
    if (!f.open()) {
        st.SkipWithError("no X display");
        return;
    }
    for (auto _ : st) {
        f.w->invalidate(nullptr);
        f.w->update();
        f.maker->sync();
    }
    st.counters["shm"] = f.maker->sharedMemory() ? 1 : 0;
}

// The floor: the same 800x600 buffer sent to the server, nothing painted.
void BM_X11PresentOnly800x600(benchmark::State& st) {
    sX11Form f;
    if (!f.open()) {
        st.SkipWithError("no X display");
        return;
    }
    for (auto _ : st) f.maker->presentAll(f.w);
    st.counters["shm"] = f.maker->sharedMemory() ? 1 : 0;
}
BENCHMARK(BM_X11RepaintAndPresent800x600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_X11PresentOnly800x600)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
