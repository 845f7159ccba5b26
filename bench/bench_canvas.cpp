// Software canvas throughput: fills, alpha blits, stretched blits, text and offscreen copies.
#include <benchmark/benchmark.h>

#include "ciplatform/canvas.h"
#include "ciplatform/fontobject.h"
#include "ciplatform/picture.h"

static void BM_FillRect(benchmark::State& st) {
    cCanvas c(800, 600);
    sRect r = {0, 0, 800, 600};
    for (auto _ : st) c.drawRect(&r, 0x336699, 0x000000);
    st.SetItemsProcessed(st.iterations() * 800 * 600);
}
BENCHMARK(BM_FillRect);

static void BM_FillRectFragmentedRegion(benchmark::State& st) {
    cCanvas c(800, 600);
    for (int i = 0; i < 20; i++) {
        sRect hole = {i * 37, i * 23, 15, 15};
        c.clip(&hole);
    }
    sRect r = {0, 0, 800, 600};
    for (auto _ : st) c.drawRect(&r, 0x336699, 0xFFFFFFFF);
    st.SetItemsProcessed(st.iterations() * 800 * 600);
}
BENCHMARK(BM_FillRectFragmentedRegion);

static void BM_DrawTransparent(benchmark::State& st) {
    cCanvas c(800, 600);
    cPicture p;
    p.create(0x80FF8040u, 256, 256);
    sPoint at = {10, 10};
    for (auto _ : st) c.drawTransparent(&at, &p, nullptr);
    st.SetItemsProcessed(st.iterations() * 256 * 256);
}
BENCHMARK(BM_DrawTransparent);

static void BM_DrawBitmapStretched(benchmark::State& st) {
    cCanvas c(800, 600);
    cPicture p;
    p.create(0xFF102030u, 100, 100);
    for (auto _ : st) c.drawBitmap(0, 0, &p, 800, 600);
    st.SetItemsProcessed(st.iterations() * 800 * 600);
}
BENCHMARK(BM_DrawBitmapStretched);

static void BM_DrawTextLine(benchmark::State& st) {
    cCanvas c(800, 40);
    c.setTextMode(cFontObject::get(5, 13, _glbalStdFont(), false, false, false));
    c.setTextColors(0, 0xFFFFFF);
    const char* text = "The quick brown fox jumps over the lazy dog 0123456789";
    for (auto _ : st) c.drawText(2, 2, false, text, -1);
    st.SetItemsProcessed(st.iterations() * 54);
}
BENCHMARK(BM_DrawTextLine);

static void BM_TextLimitedListCell(benchmark::State& st) {
    // What a list view does per cell: an offscreen part, cut text, a copy back.
    cCanvas c(800, 600);
    c.setTextMode(cFontObject::get(5, 13, _glbalStdFont(), false, false, false));
    for (auto _ : st) {
        cCanvas* off = c.offscreen(120, 18, -1, -1);
        off->drawTextLimited(0, 0, 120, 18, 0, false, 2, 0, "A rather long cell text that gets cut", -1);
        c.draw(10, 10, off, 0, 0, -1, -1);
        delete off;
    }
}
BENCHMARK(BM_TextLimitedListCell);

BENCHMARK_MAIN();
