// Row bands of a raw frame run side by side: the rows first..end-1 are cut into one band per
// core (at most kMaxRawBands, at least 64 rows each) and body(band, y0, y1) runs for each,
// the caller's thread taking the first. Returns when every band is done. The bands of one
// call must not write what another band of the same call reads.
#pragma once

#include <thread>

const int kMaxRawBands = 16;

// How many bands rawRowBands cuts `rows` rows into (1 .. kMaxRawBands).
inline int rawBandCount(long long rows) {
    long long n = (long long)std::thread::hardware_concurrency();
    if (n > kMaxRawBands) n = kMaxRawBands;
    if (n > rows / 64) n = rows / 64;
    return n < 1 ? 1 : (int)n;
}

template <class Body>
void rawRowBands(long long first, long long end, Body body) {
    const long long rows = end - first;
    if (rows <= 0) return;
    const int n = rawBandCount(rows);
    auto band = [&](int i) { body(i, first + rows * i / n, first + rows * (i + 1) / n); };
    std::thread pool[kMaxRawBands];
    int started = 1;
    for (; started < n; started++) {
        try {
            pool[started] = std::thread(band, started);
        } catch (...) {
            break;  // no thread to be had: the caller runs the rest
        }
    }
    band(0);
    for (int i = started; i < n; i++) band(i);
    for (int i = 1; i < started; i++) pool[i].join();
}
